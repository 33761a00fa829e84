#!/usr/bin/env bash
# Builds Quorvel and runs it: the window when a display is there, the headless proxy otherwise.
# Installs and builds only what the program needs (the tests are scripts/test.sh's business).
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --run
echo "== Building the program in build/"
scripts/build.sh program

# The build writes down where the program is, wherever its target lives in the source tree.
program=$(<build/program-path)

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "$#" -gt 0 ]; then
  exec "$program" "$@"
fi
exec "$program" --headless
