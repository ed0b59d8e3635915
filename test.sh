#!/usr/bin/env bash
# Installs what the build and the tests need, builds, runs every test, then
# builds again with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# the whole suite once more, runs the socket library's tests under
# ThreadSanitizer, then runs the fuzz targets for a fixed number of runs.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 4)

PACKAGES=(g++ make cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
          clang libclang-rt-14-dev libxml2-utils zip unzip p7zip-full python3 iproute2)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build_and_test() {
    local dir=$1; shift
    echo "== configure $dir"
    cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
    echo "== build $dir"
    cmake --build "$dir" -j "$JOBS"
    echo "== test $dir"
    (cd "$dir" && ctest --output-on-failure -j "$JOBS" --timeout 600)
}

build_and_test "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== declared functions"
python3 "$ROOT/tests/check_declared_symbols.py" "$ROOT/build"

SAN="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build_and_test "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DAISB_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$SAN" -DCMAKE_C_FLAGS="$SAN" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"

# The socket library's threads (pool, detached sockets, resolver) under
# ThreadSanitizer: its tests only; any report fails the run.
TSAN="-fsanitize=thread -fno-omit-frame-pointer -O1"
echo "== configure $ROOT/build-tsan"
cmake -S "$ROOT" -B "$ROOT/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DAISB_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$TSAN" -DCMAKE_C_FLAGS="$TSAN" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
echo "== build $ROOT/build-tsan (net_tests)"
cmake --build "$ROOT/build-tsan" -j "$JOBS" --target net_tests
echo "== test $ROOT/build-tsan (net)"
(cd "$ROOT/build-tsan" && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --output-on-failure -R '^net_' -j "$JOBS" --timeout 600)

echo "== fuzz"
cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DAISB_FUZZ=ON -DAISB_TESTS=OFF -DAISB_BENCH=OFF >/dev/null
cmake --build "$ROOT/build-fuzz" -j "$JOBS"
"$ROOT/fuzz/run_fuzzers.sh" "$ROOT/build-fuzz"
echo "== all tests passed"
