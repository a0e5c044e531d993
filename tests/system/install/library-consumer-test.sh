#!/usr/bin/env bash
# Installs the library's files from a build into a staging folder, as a packager does, and builds
# a program outside the tree against them: with `pkg-config --cflags --libs hufpack`, and as a
# CMake project with find_package(hufpack), shared and static. Each program round-trips a file.
#
#   library-consumer-test.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
for component in libhufpack1 libhufpack-dev; do
    cmake --install "$build" --prefix "$stage" --component "$component" >/dev/null
done
pc=$(dirname "$(find "$stage" -name hufpack.pc)")
libdir=$(dirname "$(find "$stage" -name 'libhufpack.so.1')")
head -c 3000000 /dev/urandom | base64 >"$work/sample"
# A build with sanitizers has them in the library too: its programs bring their runtime.
sanitize=$(sed -n 's/^HUFPACK_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt")
cflags=()
[[ -z $sanitize ]] || cflags=("-fsanitize=$sanitize")

echo "With pkg-config:"
PKG_CONFIG_PATH=$pc cc -std=c99 -Wall -Wextra -Werror "${cflags[@]}" "$here/consumer/consumer.c" \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs hufpack) -o "$work/by-pkg-config"
# The staged library, and no other copy the system may have.
LD_LIBRARY_PATH=$libdir "$work/by-pkg-config" "$work/sample"
# Read whole before grep looks: grep -q ending a pipe early would fail it under pipefail.
loaded=$(LD_LIBRARY_PATH=$libdir ldd "$work/by-pkg-config")
grep -qF "libhufpack.so.1 => $libdir/" <<<"$loaded" \
    || { echo "FAIL: the program did not load the staged library" >&2; exit 1; }

echo "With find_package:"
cmake -S "$here/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$stage" \
    -DCMAKE_C_FLAGS="${cflags[*]}" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/consumer" "$work/sample"
"$work/consumer-build/consumer-static" "$work/sample"
if grep -q libhufpack <<<"$(ldd "$work/consumer-build/consumer-static")"; then
    echo "FAIL: the static program loads the shared library" >&2
    exit 1
fi
echo "PASS"
