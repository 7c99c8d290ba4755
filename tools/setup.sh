#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian machine. Safe to run again: every step checks
# first and does only what is missing. Prints what it does, one step at a time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/zorv-deps}
step() { printf '==> %s\n' "$*"; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# --- Debian packages -------------------------------------------------------------------------------------
mapfile -t pkgs < <(grep -v -E '^\s*(#|$)' "$here/tools/packages.txt" | awk '{print $1}')
# A package named with an architecture (wine32:i386) needs that architecture enabled in dpkg first.
for arch in $(printf '%s\n' "${pkgs[@]}" | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u); do
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    step "enabling the $arch architecture"
    $SUDO dpkg --add-architecture "$arch"
  fi
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  step "installing Debian packages: ${missing[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  step "Debian packages: all ${#pkgs[@]} present"
fi

# --- locales: Wine takes its ANSI code page from LANG, and only from a locale that exists ----------------
# zh_CN gives 936, as on the players' systems; zh_TW (950), ja_JP (932) and en_US (1252) give the prefixes
# the code-page tests and flows run in.
wanted=()
for loc in zh_CN zh_TW ja_JP en_US; do
  locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8$" || wanted+=("$loc")
done
if [ ${#wanted[@]} -gt 0 ]; then
  step "generating the locales: ${wanted[*]/%/.UTF-8}"
  for loc in "${wanted[@]}"; do
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$loc.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  done
  $SUDO locale-gen >/dev/null
else
  step "locales zh_CN, zh_TW, ja_JP, en_US (UTF-8): present"
fi

# --- static libcurl for both MinGW targets ---------------------------------------------------------------
for arch in x86_64 i686; do
  root=$("$here/tools/build-curl.sh" "$arch")
  step "libcurl for $arch: $root"
done
