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

# --- Chinese locale (Wine takes its ANSI code page 936 from it) --------------------------------------------
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  step "generating the zh_CN.UTF-8 locale"
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  grep -q '^C.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || true
  $SUDO locale-gen >/dev/null
else
  step "locale zh_CN.UTF-8: present"
fi

# --- static libcurl for both MinGW targets ---------------------------------------------------------------
for arch in x86_64 i686; do
  root=$("$here/tools/build-curl.sh" "$arch")
  step "libcurl for $arch: $root"
done
