# Sourced by the scripts that run Windows programs: one Wine prefix inside the build tree, quiet,
# without Mono/Gecko downloads and without Wine's crash dialog (it would block under Xvfb).
repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$repo_root/build/wineprefix}
# 64-bit Wine: this machine's kernel cannot execute 32-bit code, so the tests run the 64-bit
# build of the program (see README, "Testing under Wine").
export WINEARCH=win64
ZE_WINE=/usr/lib/wine/wine64
[ -x "$ZE_WINE" ] || ZE_WINE=wine64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winedbg.exe=d"}

ze_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$ZE_WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    "$ZE_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1 || true
    # One virtual desktop the size of the screen: Wine manages the windows itself, so maximized
    # windows fill the screen and have captions and frames without an X window manager.
    "$ZE_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1 || true
    "$ZE_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f </dev/null >/dev/null 2>&1 || true
    wineserver -w
  fi
}

# A virtual display when there is none. Sets DISPLAY and ZE_XVFB_PID.
ze_virtual_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 91 140); do
    [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    ZE_XVFB_PID=$!
    export DISPLAY=:$n
    for _ in $(seq 1 50); do
      xdpyinfo >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill "$ZE_XVFB_PID" 2>/dev/null || true
  done
  echo "could not start Xvfb" >&2
  return 1
}

# A persistent wineserver makes every program start cheap; Wine's services must not inherit
# our pipes, or test discovery and output capture hang.
ze_wineserver_start() {
  wineserver -p
  "$ZE_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

ze_wineserver_stop() {
  wineserver -k 2>/dev/null || true
}
