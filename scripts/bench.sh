#!/usr/bin/env bash
# Benchmarks the relay: builds the optimised flavour (program and load generators), then drives
# `quorvel --headless`, danted (a SOCKS server) and socat (a plain TCP relay) on loopback in the
# same run and prints a table with quorvel's ratios to danted and their targets. Not a test:
# numbers depend on the machine and on what else runs on it. Arguments go to relay_bench
# (--seconds S per measurement, --soak S for the slow reader, --runs N for the medians; defaults
# 3, 15 and 3). Exits 3 when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
QUORVEL_JOBS=${QUORVEL_JOBS:-2} scripts/build.sh bench >/dev/null
exec build-bench/bench/relay_bench --quorvel build-bench/src/cli/quorvel "$@"
