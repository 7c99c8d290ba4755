#!/usr/bin/env bash
# The Wine environment the Windows programs run in: a disposable prefix under build/wine, a Chinese locale
# (ANSI code page 936, as on the players' systems), a virtual display when none is given, and one
# persistent wineserver so that each program starts in tens of milliseconds.
#
#   wine-env.sh up        create the prefix if needed, start Xvfb (without DISPLAY) and the wineserver
#   wine-env.sh down      stop what 'up' started
#   wine-env.sh run P A…  run a Windows program; when the environment is not up, bring it up for this one
#                         run and take it down afterwards (this is the cross-compiling emulator of CTest)
#   wine-env.sh env       print the environment as shell assignments (for scripts that drive programs)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
state=${ZORV_WINE_STATE:-$here/build/wine}
mkdir -p "$state"
state=$(cd "$state" && pwd)
DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/zorv-deps}

export WINEPREFIX=${ZORV_WINEPREFIX:-$state/prefix}
export WINEARCH=win64
export WINEDEBUG=${ZORV_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine takes its code page from the Unix locale, and decodes argv with it: it must be a UTF-8 one.
export LANG=${ZORV_WINE_LANG:-zh_CN.UTF-8}
unset LC_ALL LC_CTYPE LANGUAGE
WINE=/usr/lib/wine/wine64            # /usr/bin/wine picks the 32-bit loader, which this kernel cannot run
WINESERVER=/usr/lib/wine/wineserver64

say() { printf 'wine-env: %s\n' "$*" >&2; }
alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }

read_state() {
  XVFB_PID="" SERVER_UP="" ENV_DISPLAY=""
  [ -f "$state/up" ] && . "$state/up"
  return 0
}

make_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  local ver template
  ver=$($WINE --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
  template="$DEPS_CACHE/wine-prefix-$ver-${LANG%%.*}"
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
    printf 'export WINEPREFIX=%q WINEARCH=win64 WINEDEBUG=%q WINEDLLOVERRIDES=%q LANG=%q DISPLAY=%q\n' \
      "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$LANG" "$ENV_DISPLAY" ;;
  run)
    read_state
    started=""
    if [ -z "$SERVER_UP" ]; then up; started=1; read_state; fi
    export DISPLAY=$ENV_DISPLAY
    rc=0
    $WINE "$@" || rc=$?
    [ -n "$started" ] && down
    exit $rc ;;
  *) echo "usage: wine-env.sh up|down|run PROGRAM [ARG…]|env" >&2; exit 2 ;;
esac
