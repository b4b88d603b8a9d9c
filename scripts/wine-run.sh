#!/usr/bin/env bash
# The cross-compiling emulator of the Windows builds: `wine-run.sh win32|win64 PROGRAM ARGS...`
# runs a Windows program under the Wine of that architecture. scripts/test.sh prepares the
# prefixes, a display and the persistent wineservers once per run; on its own this script does
# that as needed.
set -uo pipefail
arch=win64
case "${1:-}" in win32 | win64) arch=$1; shift ;; esac
export ZE_WINE_ARCH=$arch
source "$(dirname "$0")/wine-env.sh"
ze_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  ze_virtual_display || exit 1
  trap 'kill $ZE_XVFB_PID 2>/dev/null' EXIT
fi
"$ZE_WINE" "$@"
