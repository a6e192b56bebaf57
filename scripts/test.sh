#!/usr/bin/env bash
# Builds every configuration and runs every test:
#   linux-x64 (ctest), linux-x64 with the scalar kernels only (ctest),
#   linux-x64 with AddressSanitizer + UndefinedBehaviorSanitizer (ctest),
#   linux-i686 (ctest through qemu-i386), the thread tests under ThreadSanitizer,
#   windows-i686 (DLL built, export table checked), and every fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)

./scripts/install-deps.sh

# The test configurations share one working folder, so generated streams are made once.
work="$root/build/test-work"
mkdir -p "$work"

configure_and_build() {
    local dir=$1; shift
    cmake -S "$root" -B "$dir" -DD2U_TEST_WORK_DIR="$work" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}
configure_and_build_target() {
    local dir=$1 target=$2; shift 2
    cmake -S "$root" -B "$dir" -DD2U_TEST_WORK_DIR="$work" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs" --target "$target"
}

echo "== linux-x64"
configure_and_build build/linux-x64 -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/linux-x64 --output-on-failure -j"$jobs"

echo "== linux-x64 with the scalar kernels only"
configure_and_build build/linux-x64-scalar -DCMAKE_BUILD_TYPE=RelWithDebInfo -DD2U_FORCE_SCALAR=ON
ctest --test-dir build/linux-x64-scalar --output-on-failure -j"$jobs"

echo "== linux-x64 with AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DD2U_SANITIZE=ON
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"

echo "== linux-i686 (tests through qemu-i386)"
configure_and_build build/linux-i686 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-linux-i686.cmake"
ctest --test-dir build/linux-i686 --output-on-failure -j"$jobs"

echo "== thread tests (handles on several threads, slice threads) under ThreadSanitizer"
tsan=-fsanitize=thread
configure_and_build_target build/tsan soak_threads -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$tsan" -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" \
    -DCMAKE_SHARED_LINKER_FLAGS="$tsan"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -R '^soak_threads$' --output-on-failure

echo "== windows-i686 DLL"
configure_and_build build/windows-i686 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
./tests/check_dll_exports.sh build/windows-i686/d2udir.dll include/d2udir.h

echo "== fuzz targets (libFuzzer, 60 s each on the committed corpus, two at a time)"
./scripts/fuzz.sh all 60 2

echo "All configurations built and tested."
