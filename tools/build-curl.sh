#!/usr/bin/env bash
# Builds a static, HTTP-only libcurl for one MinGW-w64 target from Debian's curl source package (with
# Debian's patches applied) and prints the install prefix. The result is cached outside the clone, keyed by
# the source version, the target and the option set, so later clones and CI runs reuse it.
set -euo pipefail
arch=${1:?usage: build-curl.sh x86_64|i686}
DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/zorv-deps}
log() { printf '==> %s\n' "$*" >&2; }
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo

opts=(
  -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF
  -DHTTP_ONLY=ON -DCURL_ENABLE_SSL=OFF -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=OFF
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF
  -DENABLE_UNIX_SOCKETS=OFF -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_ALTSVC=ON
  -DCURL_DISABLE_HSTS=ON -DCURL_DISABLE_DOH=ON -DCURL_DISABLE_NETRC=ON -DCURL_DISABLE_NTLM=ON
  -DCURL_DISABLE_CRYPTO_AUTH=ON -DCURL_DISABLE_GETOPTIONS=ON -DCURL_DISABLE_MIME=ON
  -DCURL_DISABLE_PROGRESS_METER=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DENABLE_THREADED_RESOLVER=ON
)

# Source: Debian's package, unpacked once. apt-get source needs a deb-src entry for the mirror in use.
mkdir -p "$DEPS_CACHE/src"
src=$(ls -d "$DEPS_CACHE"/src/curl-*/ 2>/dev/null | head -n 1 || true)
if [ -z "$src" ]; then
  if ! apt-get source --print-uris curl >/dev/null 2>&1; then
    log "adding a deb-src entry for the configured Debian mirror"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -n '/^Types:/,/^$/p' /etc/apt/sources.list.d/debian.sources | sed 's/^Types: deb$/Types: deb-src/' \
        | $SUDO tee /etc/apt/sources.list.d/zorv-deb-src.sources >/dev/null
    else
      grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
        | $SUDO tee /etc/apt/sources.list.d/zorv-deb-src.list >/dev/null
    fi
    $SUDO apt-get update -q >&2
  fi
  log "fetching Debian's curl source package"
  tmp=$(mktemp -d "$DEPS_CACHE/src/.fetch.XXXXXX")
  (cd "$tmp" && apt-get source -q curl >&2)
  d=$(ls -d "$tmp"/curl-*/ | head -n 1)
  mv "$d" "$DEPS_CACHE/src/"
  rm -rf "$tmp"
  src=$(ls -d "$DEPS_CACHE"/src/curl-*/ | head -n 1)
fi
src=${src%/}
version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version 2>/dev/null || basename "$src")

cc=$arch-w64-mingw32-gcc-posix
key=$(printf '%s\n' "$version" "$arch" "${opts[@]}" "$($cc -dumpfullversion)" | sha256sum | cut -c1-12)
prefix="$DEPS_CACHE/curl-$version-$arch-$key"
if [ -f "$prefix/lib/libcurl.a" ]; then
  echo "$prefix"
  exit 0
fi

log "building libcurl $version for $arch (a few minutes, once)"
build="$DEPS_CACHE/build/curl-$arch-$key"
rm -rf "$build" "$prefix.tmp"
mkdir -p "$DEPS_CACHE/build"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_RC_COMPILER="$arch-w64-mingw32-windres" -DCMAKE_INSTALL_PREFIX="$prefix.tmp" "${opts[@]}" >"$build.log" 2>&1 \
  || { tail -n 30 "$build.log" >&2; exit 1; }
cmake --build "$build" >>"$build.log" 2>&1 && cmake --install "$build" >>"$build.log" 2>&1 \
  || { tail -n 30 "$build.log" >&2; exit 1; }
# Installed under a temporary name and renamed at the end, so a half-finished build is never reused.
mv "$prefix.tmp" "$prefix"
rm -rf "$build"
echo "$prefix"
