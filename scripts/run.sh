#!/usr/bin/env bash
# Builds Quorvel and runs it: the window when a display is there, the headless proxy otherwise.
# Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh release >/dev/null

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [ "$#" -gt 0 ]; then
  exec build/src/cli/quorvel "$@"
fi
exec build/src/cli/quorvel --headless
