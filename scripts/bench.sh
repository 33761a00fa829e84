#!/usr/bin/env bash
# Benchmarks the relay: builds the optimised flavour (program and load generator), then drives
# `quorvel --headless` and socat (a plain TCP relay, the reference) on loopback in the same run
# and prints a table. Not a test: numbers depend on the machine. Arguments go to relay_bench
# (--seconds S per measurement, --soak S for the slow reader; defaults 3 and 15).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
QUORVEL_JOBS=${QUORVEL_JOBS:-2} scripts/build.sh bench >/dev/null
exec build-bench/bench/relay_bench --quorvel build-bench/src/cli/quorvel "$@"
