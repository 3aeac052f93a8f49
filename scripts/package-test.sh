#!/usr/bin/env bash
# Builds the Debian packages the way docs/INSTALL.md says and uses them as a
# node would:
#   1. copies the checkout (the files git knows, as they are now) into a
#      scratch folder and runs `dpkg-buildpackage -us -uc -b` there, without
#      the tests (DEB_BUILD_OPTIONS=nocheck; the suite runs them);
#   2. lintian on the result: no error, no warning (debian/*.lintian-overrides
#      hold the few justified ones); every manual page formats without a groff
#      warning; the binaries carry the hardening the build asked for;
#   3. as root: installs the packages with apt, checks that the loader knows
#      the libraries (ldconfig trigger), builds the consumer program against
#      the installed -dev package with CMake and with pkg-config, runs a
#      session against the installed service launched on demand, then purges
#      the packages and checks that nothing they brought is left behind.
# Step 3 is skipped as another user. It refuses to run when packages of this
# project are installed already (it would replace and then purge them).
# Environment: ZO_PACKAGE_JOBS (build parallelism, default 2), ZO_TEST_KEEP=1
# keeps the scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

packages=(libzoframework1 libzoscsisrvclient1 libzoscsisrvclient-dev zoscsisrv zoscsictl)
source_name=$(sed -n 's/^Source: //p' debian/control)
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

work=$(mktemp -d "${TMPDIR:-/tmp}/zo-package-test.XXXXXX")
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then
    note "purging after a failure"
    apt-get purge -y -qq "${packages[@]}" >/dev/null 2>&1 || true
  fi
  if [ -n "${service_pid:-}" ]; then kill "$service_pid" 2>/dev/null || true; fi
  if [ "${ZO_TEST_KEEP:-0}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

# --- 1. the build, from a clean copy ---------------------------------------
src=$work/$source_name-$version
mkdir -p "$src"
if git rev-parse --git-dir >/dev/null 2>&1; then
  # Regular files only: a tracked file deleted in the working tree is left out.
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do if [ -f "$file" ]; then printf '%s\0' "$file"; fi; done |
    tar -cf - --null -T - | tar -xf - -C "$src"
else
  tar -cf - --exclude='./build*' --exclude='./obj-*' . | tar -xf - -C "$src"
fi
(cd "$src" && dpkg-checkbuilddeps -B) || fail "build dependencies are missing (scripts/install-deps.sh installs them)"

note "dpkg-buildpackage -us -uc -b in $src"
launcher=()
command -v ccache >/dev/null && launcher=(CMAKE_CXX_COMPILER_LAUNCHER=ccache)
(cd "$src" && env "${launcher[@]}" DEB_BUILD_OPTIONS="nocheck parallel=${ZO_PACKAGE_JOBS:-2}" \
   dpkg-buildpackage -us -uc -b) >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log" >&2; fail "dpkg-buildpackage failed (log: $work/build.log)"; }
changes=$work/${source_name}_${version}_${arch}.changes
[ -f "$changes" ] || fail "no $changes"
declare -A deb
for pkg in "${packages[@]}"; do
  deb[$pkg]=$work/${pkg}_${version}_${arch}.deb
  [ -f "${deb[$pkg]}" ] || fail "no package $pkg"
done
for pkg in libzoframework1 libzoscsisrvclient1 zoscsisrv zoscsictl; do
  [ -f "$work/${pkg}-dbgsym_${version}_${arch}.deb" ] || fail "no debug symbols package for $pkg"
done
note "built: $(cd "$work" && ls -- *.deb | tr '\n' ' ')"

# --- 2. what the archive would check ---------------------------------------
lintian --fail-on error,warning --display-info "$changes" >"$work/lintian.txt" 2>&1 ||
  { cat "$work/lintian.txt" >&2; fail "lintian reports errors or warnings"; }
note "lintian: no errors, no warnings ($(grep -c '^[IP]:' "$work/lintian.txt" || true) notes)"

unpacked=$work/unpacked
for pkg in "${packages[@]}"; do dpkg-deb -x "${deb[$pkg]}" "$unpacked"; done
pages=$(find "$unpacked/usr/share/man" -name '*.gz' | sort)
[ "$(echo "$pages" | wc -l)" -ge 2 ] || fail "manual pages missing: $pages"
for page in $pages; do
  zcat "$page" | groff -man -ww -z 2>"$work/groff.err" || fail "groff cannot format $page"
  [ ! -s "$work/groff.err" ] || { cat "$work/groff.err" >&2; fail "groff warns about ${page#"$unpacked"}"; }
done
note "manual pages are compressed and format without warnings"

# Library packages are named after their SONAME and hold only that library;
# the client library's dependencies come from its symbols file.
for pair in libzoframework1:libzoframework.so.1 libzoscsisrvclient1:libZoScsiSrvClient.so.1; do
  pkg=${pair%%:*}
  soname=${pair#*:}
  sonames=$(dpkg-deb -c "${deb[$pkg]}" | awk '{ print $6 }' | grep -E '\.so\.[0-9]+\.' |
              while read -r f; do objdump -p "$unpacked/$f" | awk '/SONAME/ { print $2 }'; done | sort -u)
  [ "$sonames" = "$soname" ] || fail "$pkg holds the shared objects '$sonames', expected $soname alone"
  mkdir -p "$work/control-$pkg"
  dpkg-deb -e "${deb[$pkg]}" "$work/control-$pkg"
  grep -qx 'activate-noawait ldconfig' "$work/control-$pkg/triggers" || fail "$pkg: no ldconfig trigger"
  if grep -qs ldconfig "$work/control-$pkg/postinst"; then fail "$pkg: ldconfig called from postinst"; fi
done
grep -q '^ _ZN15ZoScsiSrvClient10Initialize' "$work/control-libzoscsisrvclient1/symbols" ||
  fail "libzoscsisrvclient1 carries no symbols file"
# The symbols file lists every exported symbol: dpkg-gensymbols reports a
# new one (not yet in debian/libzoscsisrvclient1.symbols) while building.
if grep -A3 'dpkg-gensymbols: warning' "$work/build.log" >&2; then
  fail "the exports of libZoScsiSrvClient differ from debian/libzoscsisrvclient1.symbols"
fi
grep -q 'libzoscsisrvclient1 (>= ' <<<"$(dpkg-deb -f "${deb[zoscsictl]}" Depends)" ||
  fail "zoscsictl does not depend on libzoscsisrvclient1 by version: $(dpkg-deb -f "${deb[zoscsictl]}" Depends)"

# Hardening: the compiler got the distribution's flags (fortified functions,
# stack protector), every program and library is linked with full RELRO and
# immediate binding, the programs as position-independent executables.
grep -q -- '-D_FORTIFY_SOURCE=2 .*-fstack-protector-strong\|-fstack-protector-strong .*-D_FORTIFY_SOURCE=2' \
  "$work/build.log" || fail "the build did not use the hardening flags of dpkg-buildflags"
for elf in usr/sbin/zoscsisrv usr/bin/zoscsictl "usr/lib/$multiarch/libzoframework.so.$version" \
           "usr/lib/$multiarch/libZoScsiSrvClient.so.$version"; do
  # Whole outputs: grep -q would close the pipe early, and pipefail fail it.
  headers=$(readelf -lhdW --dyn-syms "$unpacked/$elf")
  grep -q GNU_RELRO <<<"$headers" || fail "$elf: no RELRO"
  grep -qE 'FLAGS.*BIND_NOW' <<<"$headers" || fail "$elf: not linked with -z now"
  grep -q '__stack_chk_fail' <<<"$headers" || fail "$elf: no stack protector"
  case $elf in
    usr/*bin/*) grep -qE 'Type: *DYN' <<<"$headers" || fail "$elf is not position-independent" ;;
  esac
done
note "library packages follow their SONAMEs; binaries are hardened"

# --- 3. install, use, purge --------------------------------------------------
if [ "$(id -u)" -ne 0 ]; then
  note "not root: installing the packages skipped"
  echo "package test passed"
  exit 0
fi
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ -z "$status" ] || [ "$status" = not-installed ] ||
    fail "$pkg is already on this machine ($status): purge it first, the test would replace and remove it"
done

# Everything the packages could leave behind lives in these trees; the
# package manager's own records change by design.
snapshot() {
  find /etc /usr /var/lib /opt -xdev \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/cache \) -prune \
    -o -print 2>/dev/null | sort
}
snapshot >"$work/before"
ldconfig -p >"$work/ldconfig.before"

note "apt-get install ./*.deb"
installed=1
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 \
  "${deb[@]}" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "the packages do not install"; }
loader=$(ldconfig -p)
# (With a merged /usr the loader's cache names /lib for /usr/lib.)
grep -qE "libZoScsiSrvClient.so.1 .*(/usr)?/lib/$multiarch/" <<<"$loader" ||
  fail "the loader does not know libZoScsiSrvClient.so.1"
grep -qE "libzoframework.so.1 .*(/usr)?/lib/$multiarch/" <<<"$loader" || fail "the loader does not know libzoframework.so.1"
zoscsictl --help >/dev/null || fail "the installed zoscsictl does not run"
/usr/sbin/zoscsisrv --version >/dev/null || fail "the installed zoscsisrv does not run"

consumer=$root/tests/install/consumer
cmake -S "$consumer" -B "$work/consumer-cmake" -G Ninja -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  >"$work/consumer.log" 2>&1 && cmake --build "$work/consumer-cmake" >>"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log" >&2; fail "the consumer does not build with find_package against the -dev package"; }
grep -qx "ZoScsiSrvClient_DIR:PATH=/usr/lib/$multiarch/cmake/ZoScsiSrvClient" "$work/consumer-cmake/CMakeCache.txt" ||
  fail "find_package did not find the packaged CMake package"
read -r -a pc_flags <<<"$(env -u PKG_CONFIG_PATH pkg-config --cflags --libs zoscsisrvclient)"
g++ -std=c++17 -Wall -Wextra -Werror "$consumer/consumer.cpp" "${pc_flags[@]}" -ldl -o "$work/consumer-pc" \
  2>"$work/consumer-pc.log" || { cat "$work/consumer-pc.log" >&2; fail "the consumer does not build with pkg-config"; }
for program in "$work/consumer-cmake/consumer" "$work/consumer-pc"; do
  env -u LD_LIBRARY_PATH "$program" >"$work/consumer.out" 2>&1 || { cat "$work/consumer.out" >&2; fail "$program failed"; }
  loaded=$(sed -n 's/^ZoScsiSrvStart from: //p' "$work/consumer.out")
  [ -n "$loaded" ] && [ "$(readlink -f "$loaded")" = "$(readlink -f "/usr/lib/$multiarch/libZoScsiSrvClient.so.1")" ] ||
    fail "$program did not load the installed library: $(cat "$work/consumer.out")"
done
note "the consumer builds against the -dev package (CMake and pkg-config) and runs"

# A session against the installed service, launched on demand as the
# packaged sample configuration names it.
mkdir -m 700 "$work/run" "$work/state"
grep -qx 'ZoScsiSrv = /usr/sbin/zoscsisrv' /usr/share/doc/zoscsisrv/examples/zo.conf.sample ||
  fail "the packaged sample configuration does not name /usr/sbin/zoscsisrv"
env -u LD_LIBRARY_PATH ZO_CONFIG=/usr/share/doc/zoscsisrv/examples/zo.conf.sample ZO_RUNTIME_DIR="$work/run" \
  ZO_STATE_DIR="$work/state" ZO_SERVICE_ZoScsiSrv_IDLE_EXIT=5 ZO_LAUNCH_TIMEOUT=60 \
  "$work/consumer-pc" session package-node >"$work/session.out" 2>&1 ||
  { cat "$work/session.out" >&2; fail "a session against the installed service failed"; }
service_pid=
[ -f "$work/run/ZoScsiSrv/package-node/pid" ] && read -r service_pid _ <"$work/run/ZoScsiSrv/package-node/pid"
[ -n "$service_pid" ] && [ "$(readlink -f "/proc/$service_pid/exe")" = /usr/sbin/zoscsisrv ] ||
  fail "the session's instance is not the installed /usr/sbin/zoscsisrv"
grep -q '^target: .*consumer01' "$work/session.out" || fail "session: target not listed: $(cat "$work/session.out")"
kill "$service_pid" 2>/dev/null || true
for _ in $(seq 100); do kill -0 "$service_pid" 2>/dev/null || break; sleep 0.1; done
service_pid=
note "a session against the installed service works"

note "apt-get purge"
apt-get purge -y -qq -o DPkg::Lock::Timeout=300 "${packages[@]}" >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; fail "the packages do not purge"; }
installed=0
snapshot >"$work/after"
if ! diff -u "$work/before" "$work/after" >"$work/left.diff"; then
  cat "$work/left.diff" >&2
  fail "install and purge changed the system (+ left behind, - removed)"
fi
if ldconfig -p | grep -E 'libZoScsiSrvClient|libzoframework'; then fail "the loader still lists the libraries"; fi
note "purge leaves nothing behind"
echo "package test passed"
