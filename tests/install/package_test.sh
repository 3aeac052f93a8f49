#!/usr/bin/env bash
# Builds the Debian packages of the current build with CPack into a scratch
# folder and checks them as dpkg and apt would see them:
#   - the four packages exist, with their names, sections and the exact-version
#     dependencies between them, and the outside dependencies that make
#     `apt-get install ./*.deb` work on a fresh machine;
#   - each holds what it should and nothing of another (no file in two
#     packages, no header in the runtime package, no .so link outside -dev);
#   - the runtime package declares its shared libraries (shlibs, ldconfig);
#   - unpacked into a scratch root, the configured files name /usr, and the
#     programs run from there.
# Environment: see tests/install/CMakeLists.txt.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zo-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
major=${ZO_VERSION%%.*}
debversion=$ZO_VERSION-1

note "cpack -G DEB"
"$ZO_CPACK" --config "$ZO_BUILD_DIR/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
arch=$(dpkg --print-architecture)

declare -A deb
for pkg in libzoscsisrvclient1 libzoscsisrvclient-dev zoscsisrv zoscsictl; do
  deb[$pkg]=$work/out/${pkg}_${debversion}_${arch}.deb
  [ -f "${deb[$pkg]}" ] || { ls "$work/out" >&2; fail "no package file for $pkg"; }
  [ "$(dpkg-deb -f "${deb[$pkg]}" Package)" = "$pkg" ] || fail "$pkg: wrong Package field"
  [ "$(dpkg-deb -f "${deb[$pkg]}" Version)" = "$debversion" ] || fail "$pkg: wrong Version field"
  dpkg-deb -c "${deb[$pkg]}" | awk '{ print $6 }' | sed 's|^\./||; s|/$||' | grep -v '^$' |
    sort >"$work/$pkg.files"
  dpkg-deb -c "${deb[$pkg]}" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort >"$work/$pkg.leaves"
done
ls "$work/out"/*.deb | wc -l | grep -qx 4 || fail "cpack made other packages than the four: $(ls "$work/out")"
note "four packages: ${!deb[*]}"

has() {  # package, path regex (of a file or link)
  grep -qE "^$2\$" "$work/$1.leaves" || { cat "$work/$1.leaves" >&2; fail "$1 lacks $2"; }
}
lacks() {  # package, path regex
  if grep -E "^$2" "$work/$1.leaves" >"$work/hits"; then
    cat "$work/hits" >&2
    fail "$1 holds what it must not: $2"
  fi
}
depends_on() {  # package, dependency regex
  dpkg-deb -f "${deb[$1]}" Depends | tr ',' '\n' | sed 's/^ *//' | grep -qE "^$2\$" ||
    fail "$1 does not depend on $2 (Depends: $(dpkg-deb -f "${deb[$1]}" Depends))"
}

lib='usr/lib(/[a-z0-9_]+-linux-gnu[a-z0-9_]*)?'
# Runtime: the libraries and their SONAME links, nothing to build with.
for l in zoframework ZoScsiSrvClient; do
  has libzoscsisrvclient1 "$lib/lib$l\\.so\\.$ZO_VERSION"
  has libzoscsisrvclient1 "$lib/lib$l\\.so\\.$major"
  lacks libzoscsisrvclient1 "$lib/lib$l\\.so\$"
  has libzoscsisrvclient-dev "$lib/lib$l\\.so"
done
lacks libzoscsisrvclient1 "usr/include/"
lacks libzoscsisrvclient1 "usr/s?bin/"
dpkg-deb -e "${deb[libzoscsisrvclient1]}" "$work/control"
grep -qx "libZoScsiSrvClient $major libzoscsisrvclient1 (= $debversion)" "$work/control/shlibs" ||
  fail "libzoscsisrvclient1: shlibs does not declare libZoScsiSrvClient.so.$major"
grep -qx "libzoframework $major libzoscsisrvclient1 (= $debversion)" "$work/control/shlibs" ||
  fail "libzoscsisrvclient1: shlibs does not declare libzoframework.so.$major"
grep -qs 'ldconfig' "$work/control/triggers" "$work/control/postinst" ||
  fail "libzoscsisrvclient1: ldconfig is not run on install"
[ "$(dpkg-deb -f "${deb[libzoscsisrvclient1]}" Section)" = libs ] || fail "libzoscsisrvclient1: section"
# Each description starts with a synopsis of its own package (short, and
# not one line shared by all four).
: >"$work/synopses"
for pkg in "${!deb[@]}"; do
  synopsis=$(dpkg-deb -f "${deb[$pkg]}" Description | sed -n 1p)
  [ -n "$synopsis" ] && [ ${#synopsis} -le 80 ] || fail "$pkg: synopsis '$synopsis'"
  echo "$synopsis" >>"$work/synopses"
done
[ -z "$(sort "$work/synopses" | uniq -d)" ] || fail "packages share one synopsis: $(sort "$work/synopses" | uniq -d)"

# Development files: headers, the CMake package, pkg-config files.
has libzoscsisrvclient-dev 'usr/include/zo/ZoScsiSrvClient\.h'
has libzoscsisrvclient-dev 'usr/include/zo/ZoScsiSrvStart\.h'
has libzoscsisrvclient-dev 'usr/include/zo/CYbError\.h'
has libzoscsisrvclient-dev 'usr/include/zo/zo/Limits\.h'
has libzoscsisrvclient-dev "$lib/cmake/ZoScsiSrvClient/ZoScsiSrvClientConfig\\.cmake"
has libzoscsisrvclient-dev "$lib/cmake/ZoScsiSrvClient/ZoScsiSrvClientTargets\\.cmake"
has libzoscsisrvclient-dev "$lib/pkgconfig/zoscsisrvclient\\.pc"
has libzoscsisrvclient-dev "$lib/pkgconfig/zoframework\\.pc"
lacks libzoscsisrvclient-dev "$lib/lib[A-Za-z]+\\.so\\.[0-9]"
depends_on libzoscsisrvclient-dev "libzoscsisrvclient1 \\(= $debversion\\)"
depends_on libzoscsisrvclient-dev 'libboost-dev( \(>= [0-9.]+\))?'

# The service: program, unit, manual page, the guide and the sample.
has zoscsisrv 'usr/sbin/zoscsisrv'
has zoscsisrv 'usr/lib/systemd/system/zoscsisrv\.service'
has zoscsisrv 'usr/share/man/man8/zoscsisrv\.8'
has zoscsisrv 'usr/share/doc/zoscsisrv/GUIDE\.md'
has zoscsisrv 'usr/share/doc/zoscsisrv/INSTALL\.md'
has zoscsisrv 'usr/share/doc/zoscsisrv/examples/zo\.conf\.sample'
lacks zoscsisrv "$lib/lib"
depends_on zoscsisrv "libzoscsisrvclient1 \\(= $debversion\\)"
depends_on zoscsisrv 'libsqlite3-0( \(>= [^)]+\))?'
depends_on zoscsisrv 'libc6( \(>= [^)]+\))?'

# The tool: program, manual page, completion.
has zoscsictl 'usr/bin/zoscsictl'
has zoscsictl 'usr/share/man/man1/zoscsictl\.1'
has zoscsictl 'usr/share/bash-completion/completions/zoscsictl'
lacks zoscsictl "$lib/lib"
depends_on zoscsictl "libzoscsisrvclient1 \\(= $debversion\\)"
note "package contents and dependencies as expected"

# dpkg refuses to install two packages that hold the same file.
sort "$work"/*.leaves | uniq -d >"$work/shared"
[ ! -s "$work/shared" ] || { cat "$work/shared" >&2; fail "files held by two packages"; }

# Nothing installed is left out of the packages: a plain install under /usr
# holds exactly the files of the four together (a rule without one of the
# four components would ship in no package).
DESTDIR=$work/plain "$ZO_CMAKE" --install "$ZO_BUILD_DIR" --prefix /usr >"$work/plain.log" 2>&1 ||
  { cat "$work/plain.log" >&2; fail "cmake --install --prefix /usr failed"; }
(cd "$work/plain" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/plain.files"
sort -u "$work"/*.leaves >"$work/packaged.files"
if ! diff -u "$work/plain.files" "$work/packaged.files" >"$work/plain.diff"; then
  cat "$work/plain.diff" >&2
  fail "installed files and packaged files differ (- in no package, + only packaged)"
fi

# Every outside dependency names a package Debian has; on this machine (which
# built the packages) each is installed, so apt-get can satisfy it anywhere.
for pkg in "${!deb[@]}"; do
  dpkg-deb -f "${deb[$pkg]}" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -v '^$' |
    while read -r dep; do
      case $dep in libzoscsisrvclient1) continue ;; esac
      dpkg-query -W -f='${db:Status-Status}' "$dep" 2>/dev/null | grep -qx installed ||
        fail "$pkg depends on $dep, which is not an installed Debian package here"
    done
done

# Unpacked into a scratch root: configured files name /usr, programs run.
root=$work/root
for pkg in "${!deb[@]}"; do dpkg-deb -x "${deb[$pkg]}" "$root"; done
grep -q '^ExecStart=/usr/sbin/zoscsisrv ' "$root/usr/lib/systemd/system/zoscsisrv.service" ||
  fail "the packaged unit does not start /usr/sbin/zoscsisrv"
pc=$(find "$root/usr/lib" -name zoscsisrvclient.pc)
grep -qx 'prefix=/usr' "$pc" || fail "the packaged zoscsisrvclient.pc does not name /usr"
libpath=$(dirname "$(find "$root/usr/lib" -name "libZoScsiSrvClient.so.$major")")
# Under /usr the loader's own path finds the libraries: no RUNPATH or RPATH.
for elf in usr/sbin/zoscsisrv usr/bin/zoscsictl "${libpath#"$root"/}/libZoScsiSrvClient.so.$ZO_VERSION" \
           "${libpath#"$root"/}/libzoframework.so.$ZO_VERSION"; do
  if readelf -d "$root/$elf" | grep -E '\((RUNPATH|RPATH)\)'; then fail "the packaged $elf has a search path"; fi
done
for prog in usr/sbin/zoscsisrv usr/bin/zoscsictl; do
  LD_LIBRARY_PATH=$libpath "$root/$prog" --help >"$work/help" 2>&1 ||
    { cat "$work/help" >&2; fail "the packaged $prog does not run"; }
done
if command -v systemd-analyze >/dev/null; then
  # Only the unit's own syntax: the program exists in the scratch root only.
  systemd-analyze verify --man=no "$root/usr/lib/systemd/system/zoscsisrv.service" >"$work/verify" 2>&1 || true
  if grep -vE 'not executable|No such file|Command .* is not|is not executable|Failed to prepare filename|ExecStart= setting' \
       "$work/verify" | grep -iE 'unknown|invalid|bad|failed to parse|ignoring' >"$work/verify.bad"; then
    cat "$work/verify" >&2
    fail "systemd-analyze finds faults in the unit"
  fi
fi
note "unpacked packages run; unit and pkg-config files name /usr"
echo "package test passed"
