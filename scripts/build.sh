#!/usr/bin/env bash
# Configures and builds one flavour of the project into its own folder.
#   scripts/build.sh release   -> build/        (warnings as errors, tests)
#   scripts/build.sh program   -> build/        (the program target alone, for scripts/run.sh)
#   scripts/build.sh asan      -> build-asan/   (AddressSanitizer + UBSan, tests)
#   scripts/build.sh fuzz      -> build-fuzz/   (clang, libFuzzer targets only)
#   scripts/build.sh bench     -> build-bench/  (optimised, benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
jobs=${QUORVEL_JOBS:-$(nproc)}
common=(-G Ninja -DQUORVEL_WERROR=ON)
targets=()

case "$flavour" in
  release) dir=build; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TESTS=ON) ;;
  program)
    # Shares build/ with the release flavour. A first configure leaves the tests out, so that
    # the test packages need not be installed; a build/ that already has them keeps them.
    dir=build; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo); targets=(--target quorvel)
    [ -f build/CMakeCache.txt ] || args+=(-DQUORVEL_TESTS=OFF)
    ;;
  asan) dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON) ;;
  fuzz)
    dir=build-fuzz
    args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DQUORVEL_FUZZ=ON
          -DQUORVEL_TESTS=OFF)
    ;;
  bench) dir=build-bench; args=(-DCMAKE_BUILD_TYPE=Release -DQUORVEL_BENCH=ON -DQUORVEL_TESTS=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac

cmake -S . -B "$dir" "${common[@]}" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$jobs" "${targets[@]}"
