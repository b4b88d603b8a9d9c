#!/usr/bin/env bash
# A fault inside the running LevelEditor.exe, made to happen from outside (a thread started at
# its image's first byte by a second program): the crash reporter's dialog appears, "close
# application" ends the program (the fault cannot be continued), and the bug report file beside
# the program holds the report of that fault.
set -euo pipefail
exe=$1
injector=$2
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup

cp "$exe" "$E2E_DIR/LevelEditor.exe"
report=$E2E_DIR/bugreport.txt
e2e_start "$E2E_DIR/LevelEditor.exe"
sleep 3 # the editor's start

"$ZE_WINE" "$injector" inject LevelEditor.exe </dev/null 2>/dev/null | tr -d '\r' || e2e_fail "the fault could not be made"
# The dialog comes up centred on Wine's 1280x1024 desktop; its "close application" button is
# clicked (Esc as well, should the keyboard focus be there) until the program ends: a click or a
# key before the dialog exists is lost.
ended=""
for i in $(seq 1 60); do
  if ! kill -0 $E2E_PID 2>/dev/null; then ended=1; break; fi
  if [ "$i" = 8 ]; then e2e_screenshot e2e-crash-dialog; fi
  if [ "$i" -ge 8 ]; then
    e2e_click 768 539
    kill -0 $E2E_PID 2>/dev/null || continue
    xdotool windowfocus --sync "$E2E_DESKTOP" 2>/dev/null || true
    e2e_keys Escape
  fi
  sleep 0.5
done
if [ -z "$ended" ]; then
  e2e_fail "LevelEditor.exe did not end after the fault"
  kill $E2E_PID 2>/dev/null || true
else
  code=0
  wait $E2E_PID || code=$?
  [ "$code" = 1 ] || e2e_fail "LevelEditor.exe ended with $code, expected 1"
fi

if [ ! -f "$report" ]; then
  e2e_fail "no bug report file"
else
  text=$(tr -d '\r' <"$report")
  for want in "executable         : LevelEditor.exe" "exception class    : XunException" \
    "in module 'LevelEditor.exe'. Execute of address" "main thread (\$"; do
    grep -qF "$want" <<<"$text" || e2e_fail "the bug report lacks: $want"
  done
fi
[ $E2E_STATUS -eq 0 ] && echo "e2e: a fault inside LevelEditor.exe was reported; the program ended with 1 and left its bug report"
rm -rf "$E2E_DIR"
exit $E2E_STATUS
