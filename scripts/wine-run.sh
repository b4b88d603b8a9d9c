#!/usr/bin/env bash
# The cross-compiling emulator of the test build: runs a Windows program under Wine.
# scripts/test.sh prepares the prefix, a display and a persistent wineserver once per run;
# on its own this script does that as needed.
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"
ze_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  ze_virtual_display || exit 1
  trap 'kill $ZE_XVFB_PID 2>/dev/null' EXIT
fi
"$ZE_WINE" "$@"
