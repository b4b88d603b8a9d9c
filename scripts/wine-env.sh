# Sourced by the scripts that run Windows programs: one Wine prefix per architecture inside the
# build tree, quiet, without Mono/Gecko downloads and without Wine's crash dialog (it would block
# under Xvfb).
#
# ZE_WINE_ARCH chooses the architecture: win64 (the default; 64-bit Wine runs on every machine)
# or win32 (the shipped 32-bit program; needs a kernel that executes 32-bit code, see
# ze_can_run_32bit). Each has its own prefix and so its own wineserver.
ze_repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Where the prefixes live (a second worker on the same tree can keep its own).
ze_prefix_root=${ZE_WINEPREFIX_ROOT:-$ze_repo_root/build}
ze_wine_select() {
  ZE_WINE_ARCH=$1
  export ZE_WINE_ARCH
  export WINEARCH=$1
  if [ "$1" = win32 ]; then
    export WINEPREFIX=$ze_prefix_root/wineprefix32
    ZE_WINE=/usr/lib/wine/wine
  else
    export WINEPREFIX=$ze_prefix_root/wineprefix
    ZE_WINE=/usr/lib/wine/wine64
    [ -x "$ZE_WINE" ] || ZE_WINE=wine64
  fi
  # scripts/test.sh gives each architecture a virtual display of its own: the two Wine desktops
  # would lie on top of each other on one screen, and screenshots and xdotool would hit the wrong one.
  if [ -n "${ZE_SCREENSHOTS:-}" ]; then
    export ZE_SCREENSHOT_DIR=$ZE_SCREENSHOTS/$1
    mkdir -p "$ZE_SCREENSHOT_DIR"
  fi
  local display_var=ZE_DISPLAY_$1
  if [ -n "${!display_var:-}" ]; then export DISPLAY=${!display_var}; fi
}
ze_wine_select "${ZE_WINE_ARCH:-win64}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winedbg.exe=d"}

# Whether this machine's kernel executes 32-bit x86 programs (some kernels are built without
# IA32 emulation, and then 32-bit Wine cannot start at all). Runs a tiny static i386 program
# made with binutils; prints the reason and returns 1 when it cannot.
ze_can_run_32bit() {
  local dir rc
  if [ -n "${ZE_NO_WINE32:-}" ]; then # to try the other kind of machine here
    echo "ZE_NO_WINE32 is set"
    return 1
  fi
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine (/usr/lib/wine/wine from wine32:i386) is not installed"
    return 1
  fi
  dir=$(mktemp -d)
  # exit(42) through the i386 system call gate.
  printf '.globl _start\n_start: movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' >"$dir/t.s"
  if ! as --32 -o "$dir/t.o" "$dir/t.s" 2>/dev/null || ! ld -m elf_i386 -o "$dir/t" "$dir/t.o" 2>/dev/null; then
    rm -rf "$dir"
    echo "binutils cannot make an i386 test program"
    return 1
  fi
  "$dir/t" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  if [ $rc -ne 42 ]; then
    echo "this kernel does not execute 32-bit x86 programs (no IA32 emulation)"
    return 1
  fi
  return 0
}

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
  # Fails when a server already runs for this prefix; that one serves as well.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  "$ZE_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

ze_wineserver_stop() {
  wineserver -k 2>/dev/null || true
}
