#!/usr/bin/env bash
# Builds the packages into build/packages and checks them the way a user meets them:
#   orvquote-<version>-win64.zip          the Windows SDK (preset package-windows, mingw-w64)
#   orvquote_<version>_amd64.deb          the Debian package    } preset package-linux
#   orvquote-bridge_<version>_amd64.deb   quote_bridge, apart   }
#   orvquote-<version>-linux-x86_64.tar.gz the same tree, both  }
# The checks: every package holds what it must; the DLL imports system DLLs only and carries
# its version resource; the programs print the version; the minimal examples, C++ and C, build
# from the unpacked archives (CMake and a pkg-config one-liner; mingw-w64 for the ZIP, the C one
# with its C compiler) and show quotes from oqs_sim (the Windows programs under wine); the
# header-only client's example, built with clang++ and libc++, and the C# example, built with
# mono, run against the g++-built library;
# as root, the .deb installs with apt-get, pkg-config finds it, and it is removed again without
# a trace. Exits non-zero on any failure.
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

. scripts/lib/packages.sh
. scripts/lib/sim.sh
ensure_packages cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine64 pkg-config dpkg-dev \
    llvm clang libc++-14-dev libc++abi-14-dev libhiredis-dev mono-mcs mono-runtime

out=$root/build/packages
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start=$SECONDS
phase() { echo "== [$((SECONDS - start)) s] $*"; }
fail() {
    echo "package: $*" >&2
    exit 1
}

phase "building and packing (package-linux, package-windows)"
rm -rf "$out"
for preset in package-linux package-windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc 2>/dev/null || echo 2)"
    cpack --preset "$preset" >/dev/null
done
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package-linux/CMakeCache.txt)
[ -n "$version" ] || fail "no project version in build/package-linux"
zip=$out/orvquote-$version-win64.zip
deb=$out/orvquote_${version}_amd64.deb
tgz=$out/orvquote-$version-linux-x86_64.tar.gz
# quote_bridge ships apart, with the hiredis dependency (cmake/orvq_packaging.cmake).
bridge_deb=$out/orvquote-bridge_${version}_amd64.deb
ls -l "$out"

# require LISTING PREFIX ENTRY...: every entry (an extended regex after PREFIX) is in LISTING.
require() {
    local listing=$1 prefix=$2 entry
    shift 2
    for entry in "$@"; do
        grep -qE "^$prefix$entry\$" "$listing" || fail "$(basename "$listing" .txt) lacks $entry"
    done
}

phase "contents"
cmake -E tar tf "$zip" | sed 's/\r$//' >"$work/zip.txt"
dpkg-deb -c "$deb" | awk '{ print $6 }' >"$work/deb.txt"
tar tzf "$tgz" >"$work/tgz.txt"
for listing in zip deb tgz; do
    echo "-- $listing"
    grep -v '/$' "$work/$listing.txt"
done
headers=(include/orv_quote_api.h include/orv_quote_c.h include/orv_quote_client.hpp)
require "$work/zip.txt" "orvquote-$version-win64/" "${headers[@]}" bin/orvquote.dll \
    lib/liborvquote.dll.a lib/orvquote.lib lib/orvquote.def \
    lib/cmake/OrvQuote/OrvQuoteConfig.cmake lib/pkgconfig/orvquote.pc bin/quote_demo.exe \
    bin/oqs_sim.exe README.txt examples/minimal/minimal.cpp examples/minimal/CMakeLists.txt \
    examples/c/minimal_c.c examples/c/CMakeLists.txt examples/header_only/two_modes.cpp \
    examples/csharp/MinimalClient.cs
linux_files=("${headers[@]}" 'lib/[^/]+/liborvquote\.so' 'lib/[^/]+/liborvquote\.so\.1'
    'lib/[^/]+/cmake/OrvQuote/OrvQuoteConfig\.cmake' 'lib/[^/]+/pkgconfig/orvquote\.pc'
    bin/quote_demo bin/oqs_sim share/doc/orvquote/examples/minimal/minimal.cpp
    share/doc/orvquote/examples/c/minimal_c.c share/doc/orvquote/examples/header_only/two_modes.cpp
    share/doc/orvquote/examples/csharp/MinimalClient.cs)
require "$work/deb.txt" ./usr/ "${linux_files[@]}"
require "$work/tgz.txt" "orvquote-$version-linux-x86_64/" "${linux_files[@]}" bin/quote_bridge
dpkg-deb -c "$bridge_deb" | awk '{ print $6 }' >"$work/bridge.txt"
require "$work/bridge.txt" ./usr/ bin/quote_bridge
! grep -q quote_bridge "$work/deb.txt" || fail "the library's .deb holds quote_bridge"
bridge_depends=$(dpkg-deb -f "$bridge_deb" Depends)
echo "orvquote-bridge depends on: $bridge_depends"
for need in "orvquote (= $version)" libhiredis; do
    grep -qF "$need" <<<"$bridge_depends" || fail "orvquote-bridge does not depend on $need"
done
! dpkg-deb -f "$deb" Depends | grep -q hiredis || fail "the library's .deb depends on hiredis"

phase "unpacking"
cmake -E chdir "$work" cmake -E tar xf "$zip"
tar xzf "$tgz" -C "$work"
sdk=$work/orvquote-$version-win64
tree=$work/orvquote-$version-linux-x86_64
libdir=$(dirname "$(find "$tree/lib" -name 'liborvquote.so.1')")

phase "Windows binaries: imports and version resource"
# The DLL must run on a bare Windows: nothing but system DLLs; the programs may add the DLL.
check_imports() {  # file, allowed DLL names...
    local file=$1 dll
    shift
    x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p' >"$work/imports.txt"
    echo "$(basename "$file") imports: $(tr '\n' ' ' <"$work/imports.txt")"
    while read -r dll; do
        printf '%s\n' "$@" | grep -qix "$dll" || fail "$(basename "$file") needs $dll"
    done <"$work/imports.txt"
}
check_imports "$sdk/bin/orvquote.dll" KERNEL32.dll msvcrt.dll WS2_32.dll
check_imports "$sdk/bin/quote_demo.exe" KERNEL32.dll msvcrt.dll WS2_32.dll orvquote.dll
check_imports "$sdk/bin/oqs_sim.exe" KERNEL32.dll msvcrt.dll WS2_32.dll
x86_64-w64-mingw32-windres -i "$sdk/bin/orvquote.dll" -O rc >"$work/dll.rc"
for value in "\"FileVersion\", \"$version\"" '"ProductName", "orvquote"' '"FileDescription", "'; do
    grep -qF "VALUE $value" "$work/dll.rc" || fail "orvquote.dll: no version resource $value"
done
grep -qF "FILEVERSION ${version//./, }, 0" "$work/dll.rc" || fail "orvquote.dll: file version"
# orvquote.lib is a Microsoft-format import library for orvquote.dll with the C interface in it.
llvm-nm "$sdk/lib/orvquote.lib" >"$work/lib.txt" 2>&1 || fail "orvquote.lib: llvm-nm cannot read it"
for symbol in __imp_orvq_create orvq_poll_quotes __imp_CreateOrvQuoteApi; do
    grep -qE " $symbol\$" "$work/lib.txt" || fail "orvquote.lib lacks $symbol"
done

wine=$root/build/package-windows/wine-run.sh
phase "versions the programs print"
check_version() {  # expected program name, command...
    local name=$1 said
    shift
    said=$("$@" --version | tr -d '\r')
    echo "$said"
    [ "$said" = "$name $version" ] || fail "$name --version says '$said'"
}
check_version quote_demo "$tree/bin/quote_demo"
check_version oqs_sim "$tree/bin/oqs_sim"
check_version quote_demo "$wine" "$sdk/bin/quote_demo.exe"
check_version oqs_sim "$wine" "$sdk/bin/oqs_sim.exe"

# start_sim COMMAND...: starts a simulator on a free loopback port and sets sim_port.
start_sim() {
    local log=$work/sim.log
    : >"$log"
    "$@" --port 0 --rate 20 2>"$log" &
    sim_pid=$!
    sim_port=$(sim_port_of "$log" "$sim_pid") && return 0
    cat "$log" >&2
    fail "the simulator did not start: $*"
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
}

# shows_quotes NAME COMMAND...: runs a minimal client for 3 s; each symbol must show quotes.
shows_quotes() {
    local name=$1 log=$work/$1.log symbol
    shift
    "$@" --server "127.0.0.1:$sim_port" --seconds 3 'Au(T+D)' cu2506 >"$log" 2>&1 ||
        { cat "$log" >&2; fail "$name exited with an error"; }
    for symbol in 'Au\(T\+D\)' cu2506; do
        grep -qE "^$symbol +[A-Z] [0-9:]{8}\.[0-9]{3}  last " "$log" ||
            { cat "$log" >&2; fail "$name shows no quote of $symbol"; }
    done
    echo "$name: $(tr -d '\r' <"$log" | tail -n 1)"
}

phase "minimal example on Linux, from the unpacked .tar.gz"
cmake -S examples/minimal -B "$work/linux-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$tree" >/dev/null
cmake --build "$work/linux-cmake" >/dev/null
# shellcheck disable=SC2046  # pkg-config's flags are meant to split into words
c++ -std=c++17 examples/minimal/minimal.cpp \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs orvquote) -o "$work/minimal-pc"
start_sim "$tree/bin/oqs_sim"
shows_quotes linux-cmake "$work/linux-cmake/minimal" &
cmake_run=$!
LD_LIBRARY_PATH=$libdir shows_quotes linux-pkg-config "$work/minimal-pc"
wait $cmake_run || exit 1

phase "C example, the header-only client (clang++ and libc++) and C# (mono) on Linux, from the .tar.gz"
cmake -S examples/c -B "$work/linux-c" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$tree" >/dev/null
cmake --build "$work/linux-c" >/dev/null
# The C example as installed, built as its README line says.
# shellcheck disable=SC2046
(cd "$tree/share/doc/orvquote" && cc -std=c99 -pedantic -Werror examples/c/*.c \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs orvquote) -o "$work/minimal_c-pc")
# No standard-library type crosses the C interface: libc++ on this side, libstdc++ inside.
# shellcheck disable=SC2046
clang++ -std=c++17 -stdlib=libc++ -Wall -Wextra -Werror \
    "$tree/share/doc/orvquote/examples/header_only/two_modes.cpp" \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs orvquote) -o "$work/two_modes"
ldd "$work/two_modes" >"$work/ldd.txt"
grep -q 'libc++\.so' "$work/ldd.txt" || fail "two_modes does not use libc++"
shows_quotes linux-c-cmake "$work/linux-c/minimal_c" &
cmake_run=$!
LD_LIBRARY_PATH=$libdir shows_quotes linux-c-pkg-config "$work/minimal_c-pc"
wait $cmake_run || exit 1
LD_LIBRARY_PATH=$libdir "$work/two_modes" 127.0.0.1 "$sim_port" >"$work/two_modes.log" 2>&1 ||
    { cat "$work/two_modes.log" >&2; fail "the header-only client built with libc++ failed"; }
grep "^two_modes on" "$work/two_modes.log"
# C#, as a .NET program calls C: P/Invoke into liborvquote.so (mono on this side).
mcs -unsafe -warnaserror -out:"$work/MinimalClient.exe" \
    "$tree/share/doc/orvquote/examples/csharp/MinimalClient.cs" >/dev/null
LD_LIBRARY_PATH=$libdir shows_quotes linux-csharp mono "$work/MinimalClient.exe"
stop_sim

phase "minimal examples for Windows (mingw-w64; C++ and C), from the unpacked ZIP, under wine"
cmake -S examples/minimal -B "$work/win-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$sdk" \
    >/dev/null
cmake --build "$work/win-cmake" >/dev/null
# The one-liner links the compiler's runtime as DLLs, as a mingw-w64 user's plain build does;
# wine finds them the way Windows would, on the path. (The CMake build links it statically.)
# shellcheck disable=SC2046
x86_64-w64-mingw32-g++-posix -std=c++17 examples/minimal/minimal.cpp \
    $(PKG_CONFIG_PATH=$sdk/lib/pkgconfig pkg-config --cflags --libs orvquote) \
    -o "$work/win-cmake/minimal-pc.exe"
runtime_path=
for dll in libstdc++-6.dll libwinpthread-1.dll; do
    runtime_path+="Z:$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")");"
done
# As the README says: linked plainly, a C++ program needs the compiler's runtime DLLs, and
# with -static and the import library named, only orvquote.dll.
x86_64-w64-mingw32-objdump -p "$work/win-cmake/minimal-pc.exe" >"$work/minimal-pc.txt"
grep -q 'DLL Name: libstdc++-6.dll' "$work/minimal-pc.txt" ||
    fail "minimal-pc.exe does not need libstdc++-6.dll, as the README says it does"
x86_64-w64-mingw32-g++-posix -std=c++17 examples/minimal/minimal.cpp -I"$sdk/include" \
    "$sdk/lib/liborvquote.dll.a" -static -o "$work/win-cmake/minimal-static.exe"
check_imports "$work/win-cmake/minimal-static.exe" KERNEL32.dll msvcrt.dll orvquote.dll
# The C example with mingw-w64's C compiler: nothing of C++ on either side of the boundary.
# shellcheck disable=SC2046
x86_64-w64-mingw32-gcc -std=c99 -pedantic -Werror examples/c/minimal_c.c \
    $(PKG_CONFIG_PATH=$sdk/lib/pkgconfig pkg-config --cflags --libs orvquote) \
    -o "$work/win-cmake/minimal_c.exe"
check_imports "$work/win-cmake/minimal_c.exe" KERNEL32.dll msvcrt.dll orvquote.dll
cp "$sdk/bin/orvquote.dll" "$work/win-cmake/"
start_sim "$wine" "$sdk/bin/oqs_sim.exe"
shows_quotes windows-cmake "$wine" "$work/win-cmake/minimal.exe"
WINEPATH=$runtime_path shows_quotes windows-pkg-config "$wine" "$work/win-cmake/minimal-pc.exe"
shows_quotes windows-static "$wine" "$work/win-cmake/minimal-static.exe"
shows_quotes windows-c "$wine" "$work/win-cmake/minimal_c.exe"
stop_sim

phase "the .deb with apt-get"
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the .deb needs root"
elif dpkg-query -W -f='${Status}' orvquote 2>/dev/null | grep -q 'install ok installed'; then
    echo "skipped: an orvquote package is installed already; it is left alone"
else
    # One install check at a time on this machine: another run would remove what this one checks.
    exec 9>/run/lock/orvquote-deb-check.lock
    flock -w 600 9 || fail "waiting for another .deb check"
    apt() {
        DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@" \
            >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get $*"; }
    }
    apt install "$deb" "$bridge_deb"
    dpkg -L orvquote orvquote-bridge >"$work/installed.txt"
    said=$(pkg-config --modversion orvquote)
    echo "installed; pkg-config --modversion orvquote: $said"
    /usr/bin/quote_bridge --help | grep -q '^Usage: quote_bridge' || fail "quote_bridge does not run"
    apt remove --purge orvquote orvquote-bridge
    [ "$said" = "$version" ] || fail "pkg-config --modversion orvquote says '$said'"
    # Every file is gone, and every folder that was the package's own.
    left=$(while read -r path; do
        if [ -e "$path" ] && { [ ! -d "$path" ] || grep -qi orvquote <<<"$path"; }; then
            echo "$path"
        fi
    done <"$work/installed.txt")
    [ -z "$left" ] || fail "left behind after removal: $left"
    for package in orvquote orvquote-bridge; do
        if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
            fail "$package is still installed after its removal"
        fi
    done
    echo "removed; nothing of it is left"
    flock -u 9
fi

phase "the Python package: wheels and .deb (scripts/package_python.sh)"
scripts/package_python.sh

phase "done: $(basename "$zip") $(basename "$deb") $(basename "$bridge_deb") $(basename "$tgz") in build/packages"
