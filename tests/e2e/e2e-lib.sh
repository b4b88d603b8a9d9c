# Sourced by the end-to-end scripts: starts LevelEditor.exe under Wine on a display of its own and
# drives it from outside with xdotool, the way a person at the keyboard and mouse would.
# Coordinates are screen pixels of Wine's 1280x1024 virtual desktop, which the maximized main
# window fills.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

E2E_STATUS=0

e2e_fail() {
  echo "FAIL: $*"
  E2E_STATUS=1
}

# Prefix and display; removes the display again when the script ends.
e2e_setup() {
  ze_wine_prefix
  if [ -z "${DISPLAY:-}" ]; then
    ze_virtual_display
    trap 'kill $ZE_XVFB_PID 2>/dev/null || true' EXIT
  fi
  E2E_DIR=$(mktemp -d)
}

# Starts the program with the given arguments and waits for Wine's desktop window.
e2e_start() {
  "$ZE_WINE" "$@" </dev/null >"$E2E_DIR/out.log" 2>&1 &
  E2E_PID=$!
  E2E_DESKTOP=""
  for _ in $(seq 1 100); do
    E2E_DESKTOP=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -1 || true)
    [ -n "$E2E_DESKTOP" ] && break
    sleep 0.2
  done
  if [ -z "$E2E_DESKTOP" ]; then
    echo "no Wine desktop window appeared"
    kill $E2E_PID
    exit 1
  fi
}

# "#RRGGBB" of one screen pixel.
e2e_pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | tail -1 | grep -o '#[0-9A-F]\{6\}' || true
}

# Waits up to $4 seconds (default 10) until pixel ($1, $2) has (or, with "!" before the colour,
# has no longer) the colour $3. Returns 1 on timeout.
e2e_wait_pixel() {
  local x=$1 y=$2 want=$3 limit=${4:-10} negate=""
  if [ "${want:0:1}" = "!" ]; then negate=1; want=${want:1}; fi
  local end=$((SECONDS + limit)) got
  while [ $SECONDS -le $end ]; do
    got=$(e2e_pixel "$x" "$y")
    if [ -z "$negate" ] && [ "$got" = "$want" ]; then return 0; fi
    if [ -n "$negate" ] && [ -n "$got" ] && [ "$got" != "$want" ]; then return 0; fi
    sleep 0.1
  done
  return 1
}

e2e_click() {
  xdotool mousemove "$1" "$2" click 1
  sleep 0.3
}

e2e_keys() {
  xdotool key --clearmodifiers "$@"
  sleep 0.3
}

e2e_type() {
  xdotool type --delay 40 "$1"
  sleep 0.2
}

# Clicks into an edit field, selects what it holds and types the new text over it.
e2e_field() {
  e2e_click "$1" "$2"
  e2e_keys End shift+Home
  e2e_type "$3"
}

# The file's bytes as one hex string.
e2e_hex() {
  od -An -tx1 "$1" 2>/dev/null | tr -d ' \n'
}

# Waits up to 10 seconds until file $1 holds the bytes given as hex string $2.
e2e_wait_file() {
  for _ in $(seq 1 50); do
    [ "$(e2e_hex "$1")" = "$2" ] && return 0
    sleep 0.2
  done
  return 1
}

# Writes the whole screen as PNG into ZE_SCREENSHOT_DIR (or the current folder).
e2e_screenshot() {
  local dir=${ZE_SCREENSHOT_DIR:-.}
  mkdir -p "$dir"
  import -window root "$dir/$1.png"
}

# Alt+F4, then waits for the program to end with exit code 0.
e2e_close() {
  e2e_keys alt+F4
  for _ in $(seq 1 50); do
    kill -0 $E2E_PID 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 $E2E_PID 2>/dev/null; then
    e2e_fail "LevelEditor.exe did not end after Alt+F4"
    kill $E2E_PID
  else
    wait $E2E_PID || e2e_fail "LevelEditor.exe ended with $?"
  fi
}

# The same path as Windows sees it through drive Z:.
e2e_winpath() {
  echo "Z:$(echo "$1" | sed 's|/|\\|g')"
}
