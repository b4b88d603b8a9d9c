#!/usr/bin/env bash
# A designer's session, driven from outside with the mouse and the keyboard only:
#  1. builds the reference level (16 x 12, start (1, 10), a moving stone, a stone with contents
#     and a door) through the options dialog, the palette, the canvas and the properties panel,
#     and saves it with "Speichern unter..." by typing a name into the real save dialog;
#  2. shrinks that level to 8 x 6 so that the door lies beyond the grid (the first OK is refused
#     because the start point no longer fits), saves, reopens the file and saves it again.
# The file's bytes are checked after every save.
set -euo pipefail
exe=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup

# Screen positions in the maximized main window.
cell_x() { echo $((144 + 50 * $1 + 25)); } # canvas origin (144, 143), cells of 50 pixels
cell_y() { echo $((143 + 50 * $1 + 25)); }
palette() { # the stone bar: the select tool, then 1, 2, 5, 12, ... in 57-pixel buttons
  local k
  case $1 in 0) e2e_click 28 91; return ;; 1) k=0 ;; 2) k=1 ;; 5) k=2 ;; 12) k=3 ;; esac
  e2e_click $((93 + 57 * k)) 91
}
place() { # a stone of type $1 on cell ($2, $3), then a second press on it selects it
  palette "$1"
  e2e_click "$(cell_x "$2")" "$(cell_y "$3")"
}
PX=(76 169)
MOVEX_CHECK=(22 281)
STARTX_BTN=(120 303)
STOPX_BTN=(120 327)
GOLDS_UP=(113 320)
LIVES_UP=(113 352)
OPTIONS_BTN=(240 50)
FILE_MENU=(17 29)
ACTIVE='#3296FA'       # caption of the active window
MAIN_CAPTION=(600 8)
DIALOG_CAPTION=(300 210) # the options dialog sits at (200, 200), its client area at (203, 222)
WIDTH_TXT=(299 264)
HEIGHT_TXT=(299 296)
STARTX_TXT=(491 264)
STARTY_TXT=(491 296)
OK_BTN=(456 354)

# Fills the options dialog's four fields (empty = leave as it is) and presses OK.
options() {
  e2e_wait_pixel "${DIALOG_CAPTION[@]}" "$ACTIVE" || e2e_fail "the options dialog did not open"
  [ -n "$1" ] && e2e_field "${WIDTH_TXT[@]}" "$1"
  [ -n "$2" ] && e2e_field "${HEIGHT_TXT[@]}" "$2"
  [ -n "$3" ] && e2e_field "${STARTX_TXT[@]}" "$3"
  [ -n "$4" ] && e2e_field "${STARTY_TXT[@]}" "$4"
  e2e_click "${OK_BTN[@]}"
}

# Types a path into the file dialog that the last command opened and confirms it.
file_dialog() {
  e2e_wait_pixel "${MAIN_CAPTION[@]}" "!$ACTIVE" || e2e_fail "no file dialog opened"
  sleep 1
  e2e_type "$(e2e_winpath "$1")"
  e2e_keys Return
  e2e_wait_pixel "${MAIN_CAPTION[@]}" "$ACTIVE" || e2e_fail "the file dialog did not close"
}

expect_file() { # $1 file, $2 what, $3 expected bytes as hex
  if e2e_wait_file "$1" "$3"; then
    echo "ok: $2"
  else
    e2e_fail "$2: the file holds the wrong bytes
  expected $3
  got      $(e2e_hex "$1")"
  fi
}

hex() { echo "$*" | tr -d ' ' | tr 'A-F' 'a-f'; }
MOVING='23 25 21 65 23 27 64 20 20'  # (3, 5), type 1, along X from 3 to 7, not along Y
CONTENT='24 22 25 22 21 20 20 20 23' # (4, 2), type 5, 2 gold, 1 life, content index 3
END='03 0D 0A'

file=$E2E_DIR/beispiel.lvl
e2e_start "$exe"
e2e_wait_pixel 93 91 '#3569CF' 30 || e2e_fail "the main window did not appear"
e2e_wait_pixel "${MAIN_CAPTION[@]}" "$ACTIVE" || true

# --- 1: the reference level ---
e2e_keys F12
options "" "" 1 10

place 1 3 5
e2e_click "$(cell_x 3)" "$(cell_y 5)"
e2e_click "${MOVEX_CHECK[@]}"
e2e_click "${STARTX_BTN[@]}"     # start column := 3
e2e_keys Right Right Right Right # the stone to column 7
e2e_click "${STOPX_BTN[@]}"      # target column := 7
e2e_field "${PX[@]}" 3           # and back to column 3 through the X field
e2e_keys Return

place 5 4 2
e2e_click "$(cell_x 4)" "$(cell_y 2)"
e2e_click "${GOLDS_UP[@]}"
e2e_click "${GOLDS_UP[@]}"
e2e_click "${LIVES_UP[@]}"

place 12 15 11

e2e_click "${FILE_MENU[@]}"
e2e_keys u # "Speichern unter..."
file_dialog "${file%.lvl}" # the editor appends ".lvl"
expect_file "$file" "the reference level built with mouse and keyboard" \
  "$(hex 01 30 2C 21 2A 02 "$MOVING" "$CONTENT" 2F 2B 2C "$END")"
e2e_screenshot e2e-reference-level

# --- 2: shrink the level below the door, save, reopen ---
e2e_click "${OPTIONS_BTN[@]}"
options 8 6 "" ""
# Start Y 10 does not fit a height of 6: the message box, then the dialog again.
e2e_wait_pixel "${DIALOG_CAPTION[@]}" "!$ACTIVE" || e2e_fail "no message for the start point"
sleep 0.5
e2e_screenshot e2e-options-start-point-message
e2e_keys Return
options "" "" "" 4
e2e_wait_pixel "${DIALOG_CAPTION[@]}" "!$ACTIVE" || e2e_fail "the options dialog did not close"

e2e_keys ctrl+s
# The door keeps its cell (15, 11) beyond the new size; the file holds what the level holds.
expect_file "$file" "saved after shrinking to 8 x 6" \
  "$(hex 01 28 26 21 24 02 "$MOVING" "$CONTENT" 2F 2B 2C "$END")"

e2e_keys ctrl+o
file_dialog "$file"
palette 0
e2e_click "$(cell_x 7)" "$(cell_y 5)" # the door, read back onto the border cell (7, 5)
e2e_keys ctrl+s
expect_file "$file" "reopened: the door lies on the grid's last cell" \
  "$(hex 01 28 26 21 24 02 "$MOVING" "$CONTENT" 27 25 2C "$END")"
e2e_screenshot e2e-shrunk-level-reopened

e2e_close
rm -rf "$E2E_DIR"
[ $E2E_STATUS -eq 0 ] && echo "e2e: the reference level built, saved as, shrunk, saved, reopened and saved again"
exit $E2E_STATUS
