#!/usr/bin/env bash
# Starts LevelEditor.exe with a level file on its command line, saves with Ctrl+S typed through
# xdotool, closes it with Alt+F4, and compares the file's bytes with what the writer must produce.
set -euo pipefail
exe=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup

file=$E2E_DIR/e2e.lvl
# 16 x 12, start (1, 10); a moving stone whose flag byte is neither "e" nor "d" (reads as false),
# a content stone with a stale content index, a door — and bytes after the end marker.
printf '\x01\x30\x2c\x21\x2a\x02\x23\x25\x21\x78\x23\x27\x64\x20\x20\x24\x22\x25\x22\x21\x20\x20\x29\x29\x2f\x2b\x2c\x03\x0d\x0aJUNK' >"$file"
# What the writer makes of it: the flag as "d", the content index recomputed (3 stones).
expected=$(printf '\x01\x30\x2c\x21\x2a\x02\x23\x25\x21\x64\x23\x27\x64\x20\x20\x24\x22\x25\x22\x21\x20\x20\x20\x23\x2f\x2b\x2c\x03\x0d\x0a' | od -An -tx1 | tr -d ' \n')

e2e_start "$exe" "$(e2e_winpath "$file")"
sleep 3 # the editor opens the file at start

saved=""
for _ in 1 2 3; do
  xdotool windowfocus --sync "$E2E_DESKTOP" 2>/dev/null || true
  e2e_keys ctrl+s
  if e2e_wait_file "$file" "$expected"; then saved=1; break; fi
done

e2e_close
if [ -z "$saved" ]; then
  e2e_fail "the file was not saved as expected:
  expected $expected
  got      $(e2e_hex "$file")"
fi
rm -rf "$E2E_DIR"
[ $E2E_STATUS -eq 0 ] && echo "e2e: opened, saved with Ctrl+S and closed with Alt+F4; the file holds the expected 30 bytes"
exit $E2E_STATUS
