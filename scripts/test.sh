#!/usr/bin/env bash
# Builds and runs every test: the sanitizer build, the fuzzers (a few seconds each), the Windows
# cross-compile check, the Debian package's checks, then the release build's suite, whose ctest
# summary closes the output. This full run is what CI runs.
#   scripts/test.sh --quick   the release build and its suite only, for the developer loop
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
  "") ;;
  --quick) quick=true ;;
  *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen

if $quick; then
  scripts/build.sh release
  ctest --test-dir build --output-on-failure -j 2
  exit 0
fi
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-5}

echo "== AddressSanitizer + UBSan build"
scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-asan --output-on-failure -j 2

echo "== Fuzzers (${fuzz_seconds}s each)"
scripts/build.sh fuzz
mkdir -p build-fuzz/corpus
for fuzzer in build-fuzz/fuzz/fuzz_*; do
  [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  mkdir -p "build-fuzz/corpus/$name"
  "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=0 "build-fuzz/corpus/$name" \
    >"build-fuzz/$name.log" 2>&1 || { cat "build-fuzz/$name.log"; echo "$name failed"; exit 1; }
  echo "$name: $(grep -Eo 'Done [0-9]+ runs' "build-fuzz/$name.log" | tail -n 1 || echo ok)"
done

if [ -x scripts/check-windows.sh ]; then
  echo "== Windows cross-compile check"
  scripts/check-windows.sh
fi

echo "== Release build"
scripts/build.sh release

echo "== Debian package"
scripts/check-package.sh build

ctest --test-dir build --output-on-failure -j 2
