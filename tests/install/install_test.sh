#!/usr/bin/env bash
# Installs the current build into a scratch prefix and uses it as an outsider
# would:
#   - the installed file list is exactly the expected one (no header, library
#     link, manual page or doc missing; nothing private or test-only leaked);
#   - the libraries carry their SONAME and version links; the programs run
#     from the prefix and load the prefix's libraries;
#   - the configured files (pkg-config, CMake package, unit) name the prefix
#     the install used, never the source or build tree;
#   - every public header compiles on its own with the pkg-config flags;
#   - a tiny consumer builds both through find_package(ZoScsiSrvClient) and
#     through pkg-config, runs, finds ZoScsiSrvStart with dlsym in the
#     installed library, and runs a short session against the installed
#     service launched on demand.
# Environment (set by tests/install/CMakeLists.txt): ZO_CMAKE, ZO_BUILD_DIR,
# ZO_SOURCE_DIR, ZO_GENERATOR, ZO_CXX, ZO_VERSION, ZO_BUILD_TYPE, ZO_LIBDIR,
# ZO_BINDIR, ZO_SBINDIR, ZO_INCLUDEDIR, ZO_DATADIR, ZO_MANDIR.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zo-install-test.XXXXXX")
cleanup() {
  # Only the instance this test launched, by its process id.
  if [ -n "${service_pid:-}" ]; then kill "$service_pid" 2>/dev/null || true; fi
  if [ -n "${perm_pid:-}" ]; then kill "$perm_pid" 2>/dev/null || true; wait "$perm_pid" 2>/dev/null || true; fi
  if [ "${ZO_TEST_KEEP:-0}" = 1 ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
prefix=$work/prefix
libdir=$prefix/$ZO_LIBDIR
incdir=$prefix/$ZO_INCLUDEDIR/zo
major=${ZO_VERSION%%.*}

note "installing $ZO_BUILD_DIR into $prefix"
"$ZO_CMAKE" --install "$ZO_BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

# --- the installed file list ---------------------------------------------
config=$(printf '%s' "${ZO_BUILD_TYPE:-noconfig}" | tr '[:upper:]' '[:lower:]')
{
  for lib in zoframework ZoScsiSrvClient; do
    echo "$ZO_LIBDIR/lib$lib.so"
    echo "$ZO_LIBDIR/lib$lib.so.$major"
    echo "$ZO_LIBDIR/lib$lib.so.$ZO_VERSION"
  done
  for f in ZoScsiSrvClientConfig.cmake ZoScsiSrvClientConfigVersion.cmake \
           ZoScsiSrvClientTargets.cmake "ZoScsiSrvClientTargets-$config.cmake"; do
    echo "$ZO_LIBDIR/cmake/ZoScsiSrvClient/$f"
  done
  echo "$ZO_LIBDIR/pkgconfig/zoframework.pc"
  echo "$ZO_LIBDIR/pkgconfig/zoscsisrvclient.pc"
  (cd "$ZO_SOURCE_DIR/framework/include" && find . -name '*.h' | sed "s|^\./|$ZO_INCLUDEDIR/zo/|")
  for h in "$ZO_SOURCE_DIR"/client/include/*.h "$ZO_SOURCE_DIR"/bootstrap/include/*.h; do
    echo "$ZO_INCLUDEDIR/zo/$(basename "$h")"
  done
  echo "$ZO_SBINDIR/zoscsisrv"
  echo "$ZO_BINDIR/zoscsictl"
  echo "lib/systemd/system/zoscsisrv.service"
  echo "$ZO_MANDIR/man1/zoscsictl.1"
  echo "$ZO_MANDIR/man8/zoscsisrv.8"
  echo "$ZO_DATADIR/bash-completion/completions/zoscsictl"
  echo "$ZO_DATADIR/doc/zoscsisrv/README.md"
  echo "$ZO_DATADIR/doc/zoscsisrv/examples/zo.conf.sample"
  for d in "$ZO_SOURCE_DIR"/docs/*.md; do
    [ -e "$d" ] && echo "$ZO_DATADIR/doc/zoscsisrv/$(basename "$d")"
  done
} | sort -u >"$work/expected"
(cd "$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) >"$work/actual"
if ! diff -u "$work/expected" "$work/actual" >"$work/list.diff"; then
  cat "$work/list.diff" >&2
  fail "installed files differ from the expected list (- missing, + unexpected)"
fi
note "installed file list: $(wc -l <"$work/actual") files as expected"
for doc in GUIDE.md INSTALL.md; do
  [ -s "$prefix/$ZO_DATADIR/doc/zoscsisrv/$doc" ] || fail "docs/$doc is not installed"
done

# --- libraries: SONAME and version links ---------------------------------
for lib in zoframework ZoScsiSrvClient; do
  soname=$(readelf -d "$libdir/lib$lib.so.$ZO_VERSION" | sed -n 's/.*(SONAME).*\[\(.*\)\].*/\1/p')
  [ "$soname" = "lib$lib.so.$major" ] || fail "lib$lib: SONAME '$soname', expected lib$lib.so.$major"
  [ -L "$libdir/lib$lib.so" ] && [ "$(readlink "$libdir/lib$lib.so")" = "lib$lib.so.$major" ] ||
    fail "lib$lib.so is not a link to lib$lib.so.$major"
  [ -L "$libdir/lib$lib.so.$major" ] && [ "$(readlink "$libdir/lib$lib.so.$major")" = "lib$lib.so.$ZO_VERSION" ] ||
    fail "lib$lib.so.$major is not a link to lib$lib.so.$ZO_VERSION"
done
readelf -d "$libdir/libZoScsiSrvClient.so.$ZO_VERSION" | grep -q "(NEEDED).*\[libzoframework.so.$major\]" ||
  fail "libZoScsiSrvClient does not record libzoframework.so.$major as needed"
nm -D --defined-only "$libdir/libZoScsiSrvClient.so.$ZO_VERSION" | grep -qw 'T ZoScsiSrvStart' ||
  fail "libZoScsiSrvClient does not export ZoScsiSrvStart under its plain name"
note "libraries carry SONAMEs and version links"

# --- configured files name the install prefix -----------------------------
leaks=$(grep -rlF -e "$ZO_SOURCE_DIR/" -e "$ZO_BUILD_DIR/" "$prefix" \
          --include='*.pc' --include='*.cmake' --include='*.service' --include='*.sample' || true)
[ -z "$leaks" ] || fail "installed files name the source or build tree: $leaks"
grep -qx "prefix=$prefix" "$libdir/pkgconfig/zoscsisrvclient.pc" ||
  fail "zoscsisrvclient.pc does not name the install prefix"
grep -q "^ExecStart=$prefix/$ZO_SBINDIR/zoscsisrv " "$prefix/lib/systemd/system/zoscsisrv.service" ||
  fail "the unit does not start the installed zoscsisrv"

# --- the installed programs run from the prefix ---------------------------
for prog in "$ZO_SBINDIR/zoscsisrv" "$ZO_BINDIR/zoscsictl"; do
  [ -x "$prefix/$prog" ] || fail "$prog is not executable"
  readelf -d "$prefix/$prog" | grep -q "(NEEDED).*\[libzoframework.so.$major\]" ||
    fail "$prog does not record libzoframework.so.$major as needed"
  runpath=$(readelf -d "$prefix/$prog" | sed -n 's/.*(RUNPATH).*\[\(.*\)\].*/\1/p')
  if [ -n "$runpath" ]; then
    # A relative RUNPATH must lead to the installed libraries from wherever
    # the tree is; then the program runs with no help from the environment.
    dir=${runpath//\$ORIGIN/$(dirname "$prefix/$prog")}
    [ "$(readlink -f "$dir")" = "$(readlink -f "$libdir")" ] ||
      fail "$prog: RUNPATH $runpath does not lead to $libdir"
    env -u LD_LIBRARY_PATH "$prefix/$prog" --help >"$work/help" 2>&1 ||
      { cat "$work/help" >&2; fail "$prog --help failed"; }
  else
    LD_LIBRARY_PATH=$libdir "$prefix/$prog" --help >"$work/help" 2>&1 ||
      { cat "$work/help" >&2; fail "$prog --help failed"; }
  fi
done
note "installed zoscsisrv and zoscsictl run"

# --- every public header compiles on its own ------------------------------
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig   # only the installed tree's files
unset PKG_CONFIG_PATH
[ "$(pkg-config --modversion zoscsisrvclient)" = "$ZO_VERSION" ] || fail "pkg-config: wrong version"
[ "$(pkg-config --modversion zoframework)" = "$ZO_VERSION" ] || fail "pkg-config: wrong zoframework version"
read -r -a cflags <<<"$(pkg-config --cflags zoscsisrvclient)"
read -r -a libs <<<"$(pkg-config --libs zoscsisrvclient)"
printf '%s\n' "${cflags[@]}" | grep -qx -- "-I$incdir" || fail "pkg-config cflags lack -I$incdir"
(cd "$incdir" && find . -name '*.h' | sed 's|^\./||' | sort) | while read -r header; do
  echo "#include <$header>" | "$ZO_CXX" -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
    "${cflags[@]}" -x c++ - 2>"$work/header.err" ||
    { cat "$work/header.err" >&2; fail "installed header $header does not compile on its own"; }
done
note "every installed header compiles on its own"

# --- the consumer, both ways ----------------------------------------------
src=$ZO_SOURCE_DIR/tests/install/consumer
"$ZO_CXX" -std=c++17 -Wall -Wextra -Werror "${cflags[@]}" "$src/consumer.cpp" "${libs[@]}" -ldl \
  -o "$work/consumer-pkgconfig" 2>"$work/pc.err" ||
  { cat "$work/pc.err" >&2; fail "the consumer does not build with pkg-config"; }
note "consumer built with pkg-config"

# The guide's first program, as the guide shows it, builds the same way.
awk '/^```cpp$/ { on = 1; next } on && /^```$/ { exit } on' "$prefix/$ZO_DATADIR/doc/zoscsisrv/GUIDE.md" \
  >"$work/hello.cpp"
grep -q 'ZoScsiSrvClient' "$work/hello.cpp" || fail "GUIDE.md shows no first program"
"$ZO_CXX" -std=c++17 -Wall -Wextra -Werror "${cflags[@]}" "$work/hello.cpp" "${libs[@]}" -o "$work/hello" \
  2>"$work/hello.err" || { cat "$work/hello.err" >&2; fail "the guide's first program does not build"; }

"$ZO_CMAKE" -S "$src" -B "$work/consumer-cmake" -G "$ZO_GENERATOR" \
  -DCMAKE_CXX_COMPILER="$ZO_CXX" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
  >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "the consumer does not configure"; }
found=$(sed -n 's/^ZoScsiSrvClient_DIR:PATH=//p' "$work/consumer-cmake/CMakeCache.txt")
[ "$found" = "$libdir/cmake/ZoScsiSrvClient" ] || fail "find_package found '$found', not the installed package"
"$ZO_CMAKE" --build "$work/consumer-cmake" >>"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "the consumer does not build with find_package"; }
note "consumer built with find_package(ZoScsiSrvClient CONFIG)"

library=$(readlink -f "$libdir/libZoScsiSrvClient.so.$ZO_VERSION")
check_run() {  # name, command...
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>&1 || { cat "$work/$name.out" >&2; fail "$name exited with $?"; }
  grep -qx 'connected: no' "$work/$name.out" || fail "$name: unexpected output: $(cat "$work/$name.out")"
  grep -qx 'lun: Lun: \[3\] Target: \[tgt01\] Host: \[\] Creation Time: \[100\]' "$work/$name.out" ||
    fail "$name: LunInfo::str() is not the library's: $(cat "$work/$name.out")"
  loaded=$(sed -n 's/^ZoScsiSrvStart from: //p' "$work/$name.out")
  [ -n "$loaded" ] && [ "$(readlink -f "$loaded")" = "$library" ] ||
    fail "$name: ZoScsiSrvStart came from '$loaded', not from $library"
}
# The find_package build runs as built (CMake records the library folder);
# the pkg-config build needs the loader told where the prefix is.
check_run consumer-cmake env -u LD_LIBRARY_PATH "$work/consumer-cmake/consumer"
check_run consumer-pkgconfig env LD_LIBRARY_PATH="$libdir" "$work/consumer-pkgconfig"
note "both consumers run against the installed library"

# --- a session against the installed service ------------------------------
# The installed sample configuration, as it is, names the installed
# zoscsisrv; the launcher starts it on demand in a scratch runtime folder and
# the consumer creates a target and lists it.
mkdir -p "$work/run" "$work/state"
chmod 700 "$work/run"
sample=$prefix/$ZO_DATADIR/doc/zoscsisrv/examples/zo.conf.sample
grep -qx "ZoScsiSrv = $prefix/$ZO_SBINDIR/zoscsisrv" "$sample" ||
  fail "the sample configuration does not name the installed zoscsisrv"
env ZO_CONFIG="$sample" ZO_RUNTIME_DIR="$work/run" ZO_STATE_DIR="$work/state" \
  ZO_SERVICE_ZoScsiSrv_IDLE_EXIT=5 ZO_LAUNCH_TIMEOUT=60 LD_LIBRARY_PATH="$libdir" \
  "$work/consumer-pkgconfig" session consumer-node >"$work/session.out" 2>&1 ||
  { cat "$work/session.out" >&2; fail "the session against the installed service failed"; }
pidfile=$work/run/ZoScsiSrv/consumer-node/pid
[ -f "$pidfile" ] && read -r service_pid _ <"$pidfile"
[ -n "${service_pid:-}" ] || fail "session: no instance was launched in $work/run"
[ "$(readlink -f "/proc/$service_pid/exe")" = "$(readlink -f "$prefix/$ZO_SBINDIR/zoscsisrv")" ] ||
  fail "session: the launched instance is not the installed zoscsisrv"
grep -qx 'service up: yes' "$work/session.out" || fail "session: service not up: $(cat "$work/session.out")"
grep -q '^target: .*consumer01' "$work/session.out" ||
  fail "session: the new target is not listed: $(cat "$work/session.out")"
[ -n "$(find "$work/state" -name 'inventory.db')" ] || fail "session: no inventory in the state folder"
note "a session against the installed service works"

# --- the permanent service, as the installed unit starts it ----------------
# The unit's own ExecStart line, with its folders moved into the scratch
# folder; clients reach it through an endpoint entry and its session.
unit=$prefix/lib/systemd/system/zoscsisrv.service
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
secret=0123456789abcdef0123456789abcdef
mkdir -m 700 "$work/perm" "$work/perm-state"
install -m 600 /dev/null "$work/perm-session"
echo "$secret" >"$work/perm-session"
exec_line=${exec_line//\/run\/zo\/zoscsisrv/$work/perm}
exec_line=${exec_line//\/var\/lib\/zoscsisrv/$work/perm-state}
exec_line=${exec_line//\/etc\/zo\/zoscsisrv.session/$work/perm-session}
exec_line=${exec_line//\$ZOSCSISRV_OPTIONS/}
read -r -a perm_argv <<<"$exec_line"
LD_LIBRARY_PATH=$libdir "${perm_argv[@]}" --client perm-node >"$work/perm.log" 2>&1 &
perm_pid=$!
for _ in $(seq 600); do [ -S "$work/perm/socket" ] && break; sleep 0.1; done
[ -S "$work/perm/socket" ] || { cat "$work/perm.log" >&2; fail "the unit's command line does not start the service"; }
env ZO_CONFIG=/dev/null ZO_SERVICE_ZoScsiSrv="unix:$work/perm/socket" ZO_SERVICE_ZoScsiSrv_SESSION=$secret \
  ZO_LAUNCH_TIMEOUT=60 LD_LIBRARY_PATH="$libdir" "$work/consumer-pkgconfig" session perm-node >"$work/perm-session.out" 2>&1 ||
  { cat "$work/perm-session.out" "$work/perm.log" >&2; fail "a client cannot use the permanent service"; }
grep -q '^target: .*consumer01' "$work/perm-session.out" || fail "permanent service: target not listed"
[ -f "$work/perm-state/perm-node/inventory.db" ] || fail "permanent service: no inventory in its state folder"
if env ZO_CONFIG=/dev/null ZO_SERVICE_ZoScsiSrv="unix:$work/perm/socket" ZO_SERVICE_ZoScsiSrv_SESSION=wrong \
     ZO_LAUNCH_TIMEOUT=2 LD_LIBRARY_PATH="$libdir" "$work/consumer-pkgconfig" session perm-node \
     >"$work/perm-wrong.out" 2>&1; then
  fail "the permanent service admitted a client with a wrong session"
fi
grep -q 'refused the session' "$work/perm-wrong.out" ||
  fail "a wrong session is not reported as such: $(cat "$work/perm-wrong.out")"
note "the unit's command line serves clients that present its session"

echo "install test passed"
