#!/usr/bin/env bash
# The Wine environment the Windows programs run in: a disposable prefix under build/wine, a Chinese locale
# (ANSI code page 936, as on the players' systems), a virtual display when none is given, and one
# persistent wineserver so that each program starts in tens of milliseconds.
#
# Two kinds of Windows: ZORV_WINE_ARCH=win64 (the default) is a 64-bit Windows, where 32-bit programs run
# behind WoW64 as on most players' machines; ZORV_WINE_ARCH=win32 is a 32-bit Windows, in its own prefix
# under build/wine32. Both can be up at once.
#
#   wine-env.sh up        create the prefix if needed, start Xvfb (without DISPLAY) and the wineserver
#   wine-env.sh down      stop what 'up' started
#   wine-env.sh run P A…  run a Windows program; when the environment is not up, bring it up for this one
#                         run and take it down afterwards (this is the cross-compiling emulator of CTest)
#   wine-env.sh env       print the environment as shell assignments (for scripts that drive programs)
#   wine-env.sh probe32   exit 0 when 32-bit Windows programs can run here; otherwise say why in one line
#                         and exit 77 (CTest's code for a skipped test)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
arch=${ZORV_WINE_ARCH:-win64}
case "$arch" in
  win64) state=${ZORV_WINE_STATE:-$here/build/wine} ;;
  win32) state=${ZORV_WINE_STATE:-$here/build/wine32} ;;
  *) echo "wine-env: ZORV_WINE_ARCH must be win64 or win32, not $arch" >&2; exit 2 ;;
esac
mkdir -p "$state"
state=$(cd "$state" && pwd)
DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/zorv-deps}

export WINEPREFIX=${ZORV_WINEPREFIX:-$state/prefix}
export WINEARCH=$arch
export WINEDEBUG=${ZORV_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes its code page from the Unix locale, and decodes argv with it: it must be a UTF-8 one.
export LANG=${ZORV_WINE_LANG:-zh_CN.UTF-8}
unset LC_ALL LC_CTYPE LANGUAGE
# The 32-bit loader (from wine32:i386) starts 32-bit programs and hands 64-bit ones to wine64.
WINE32=${ZORV_WINE32:-/usr/lib/wine/wine}   # ZORV_WINE32=/nonexistent shows the machine without it
WINE64=/usr/lib/wine/wine64
if [ "$arch" = win32 ]; then
  WINE=$WINE32 WINESERVER=/usr/lib/wine/wineserver32
else
  WINE=$WINE64 WINESERVER=/usr/lib/wine/wineserver64
fi

say() { printf 'wine-env: %s\n' "$*" >&2; }
alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }

# Why 32-bit Windows programs cannot run here, or nothing when they can: the kernel must run 32-bit code
# (IA32 emulation) and the 32-bit half of Wine must be installed.
why_no_32bit() {
  local ld=/usr/lib/i386-linux-gnu/ld-linux.so.2
  if [ ! -x "$WINE32" ] || [ ! -e "$ld" ]; then
    echo "the 32-bit half of Wine (wine32:i386) is not installed"
  elif ! "$ld" --version </dev/null >/dev/null 2>&1; then
    echo "this kernel does not run 32-bit programs (no IA32 emulation)"
  elif ! "$WINE32" --version </dev/null >/dev/null 2>&1; then
    echo "the 32-bit Wine loader $WINE32 does not start"
  fi
}
runs_32bit() {
  local why
  why=$(why_no_32bit)
  [ -z "$why" ] && return 0
  echo "wine-env: 32-bit Windows programs cannot run on this machine: $why; their tests are skipped"
  return 1
}

# The loader for a program: the 32-bit one for a PE32 file (machine 0x14c) when it is there.
loader_for() {
  local at
  if [ "$arch" = win64 ] && [ -x "$WINE32" ] && [ -f "$1" ]; then
    at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    if [ -n "$at" ] && [ "$(od -An -tx2 -j$((at + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')" = 14c ]; then
      echo "$WINE32"; return
    fi
  fi
  echo "$WINE"
}

read_state() {
  XVFB_PID="" SERVER_UP="" ENV_DISPLAY=""
  [ -f "$state/up" ] && . "$state/up"
  return 0
}

make_prefix() {
  local ver template
  ver=$($WINE --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
  template="$DEPS_CACHE/wine-prefix-$ver-${LANG%%.*}"
  # A 64-bit prefix made without the 32-bit half of Wine has no syswow64 to run 32-bit programs from; each
  # kind has a template of its own.
  if [ "$arch" = win32 ]; then template+=-win32; elif [ -x "$WINE32" ]; then template+=-wow64; fi
  [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$WINEPREFIX/.template" 2>/dev/null)" = "$template" ] && return 0
  if [ ! -f "$template/system.reg" ]; then
    say "creating a Wine prefix template ($template, about 15 s, once)"
    rm -rf "$template.tmp"; mkdir -p "$template.tmp"
    WINEPREFIX="$template.tmp" $WINE wineboot -i </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="$template.tmp" $WINESERVER -w </dev/null >/dev/null 2>&1 || true
    [ -f "$template.tmp/system.reg" ] || { say "wineboot failed"; exit 1; }
    rm -rf "$template"; mv "$template.tmp" "$template"
  fi
  say "copying the Wine prefix into $WINEPREFIX"
  rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
  cp -a "$template" "$WINEPREFIX"
  echo "$template" >"$WINEPREFIX/.template"
}

# Registry settings every run of the programs expects: the Chinese font faces mapped to installed CJK
# fonts, and Wine's Tahoma so that the default UI face is a sans one. Each file under tools/wine-reg is
# imported once per prefix.
configure_prefix() {
  local f stamp
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$WINEPREFIX/drive_c/windows/Fonts/tahoma.ttf" ]; then
    cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  for f in "$here"/tools/wine-reg/*.reg; do
    [ -f "$f" ] || continue
    stamp="$WINEPREFIX/.imported-$(basename "$f")-$(sha256sum <"$f" | cut -c1-12)"
    [ -f "$stamp" ] && continue
    $WINE regedit /S "$(winepath_of "$f")" </dev/null >/dev/null 2>&1
    touch "$stamp"
  done
}
winepath_of() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

free_display() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { echo ":$n"; return; }
  done
  say "no free X display number"; exit 1
}

up() {
  read_state
  if [ -n "$SERVER_UP" ]; then return 0; fi
  if [ "$arch" = win32 ] && ! runs_32bit >&2; then return 0; fi
  make_prefix
  local disp="${DISPLAY:-}" xpid=""
  if [ -z "$disp" ]; then
    disp=$(free_display)
    Xvfb "$disp" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xpid=$!
    for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${disp#:}" ] && break; sleep 0.05; done
  fi
  export DISPLAY=$disp
  # Wine's daemons must not hold the caller's output pipes, or CTest waits for them.
  $WINESERVER -p </dev/null >/dev/null 2>&1 || true
  configure_prefix
  # The first program starts Wine's services, and the first one that asks for the desktop window starts
  # explorer.exe; both live on and would inherit that program's output pipes, which CTest and scripts wait
  # on. Start them here, with nothing attached.
  $WINE cmd /c exit </dev/null >/dev/null 2>&1 || true
  $WINE rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  # The first 32-bit program in a 64-bit prefix loads the 32-bit half of Wine and its display driver,
  # which under load took longer than a test waits for a window: do it here.
  if [ "$arch" = win64 ] && [ -z "$(why_no_32bit)" ]; then
    $WINE32 'C:\windows\syswow64\rundll32.exe' user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
  fi
  printf 'XVFB_PID=%s\nSERVER_UP=1\nENV_DISPLAY=%s\n' "$xpid" "$disp" >"$state/up"
}

down() {
  read_state
  $WINESERVER -k </dev/null >/dev/null 2>&1 || true
  $WINESERVER -w </dev/null >/dev/null 2>&1 || true
  alive "$XVFB_PID" && kill "$XVFB_PID" 2>/dev/null || true
  rm -f "$state/up"
}

cmd=${1:-}; shift || true
case "$cmd" in
  up) up ;;
  down) down ;;
  env)
    up; read_state
    # ZORV_WINE: the loader that starts this environment's programs of either bitness.
    loader=$WINE; [ -z "$(why_no_32bit)" ] && loader=$WINE32
    printf 'export WINEPREFIX=%q WINEARCH=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q LANG=%q DISPLAY=%q ZORV_WINE=%q\n' \
      "$WINEPREFIX" "$WINEARCH" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$LANG" "$ENV_DISPLAY" "$loader" ;;
  probe32) runs_32bit || exit 77 ;;
  run)
    read_state
    # A 32-bit Windows that cannot run here is a skipped test (CTest's SKIP_RETURN_CODE 77), not a failure.
    if [ "$arch" = win32 ] && [ -z "$SERVER_UP" ]; then runs_32bit >&2 || exit 77; fi
    started=""
    if [ -z "$SERVER_UP" ]; then up; started=1; read_state; fi
    export DISPLAY=$ENV_DISPLAY
    # What the tests of the survey expect the native system information to say.
    export ZORV_EXPECT_WINDOWS_BITS=${arch#win}
    rc=0
    "$(loader_for "$1")" "$@" || rc=$?
    [ -n "$started" ] && down
    exit $rc ;;
  *) echo "usage: [ZORV_WINE_ARCH=win32] wine-env.sh up|down|run PROGRAM [ARG…]|env|probe32" >&2; exit 2 ;;
esac
