#!/usr/bin/env bash
# Sets up what is missing, builds the 64-bit Windows programs and runs the demo
# under Wine in a 64-bit prefix.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bash "$root/scripts/setup.sh"
trap 'stop_wine "$win_build"' EXIT

configure_win
cmake --build "$win_build" -j"$jobs" >/dev/null

echo "== The ten startup locations as this machine resolves them"
wine_run "$win_build/bin/kdLocations.exe"

source "$root/demo/agent-demo.sh"
source "$root/demo/update-demo.sh"
