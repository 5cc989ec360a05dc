#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the launcher,
# and brings JsonCpp's source into third_party/. Safe to run again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

need_root() { [ "$(id -u)" = 0 ] || { echo "setup: run as root (apt-get install)" >&2; exit 1; }; }

packages=(
  cmake ninja-build pkg-config
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine64 xvfb xauth x11-utils imagemagick xdotool
  fonts-liberation fonts-wqy-zenhei
  googletest curl python3 dpkg-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/pimbrel-src.sources
if [ ! -f "$src_list" ] || [ ${#missing[@]} -gt 0 ]; then
  need_root
  if [ ! -f "$src_list" ]; then
    cat >"$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

# JsonCpp from Debian's source package, unpacked once into third_party/jsoncpp.
jsoncpp="$top/third_party/jsoncpp"
if [ ! -f "$jsoncpp/include/json/reader.h" ]; then
  work=$(mktemp -d)
  (cd "$work" && apt-get source --download-only -qq libjsoncpp >/dev/null)
  orig=$(ls "$work"/libjsoncpp_*.orig.tar.* | head -n1)
  rm -rf "$jsoncpp" && mkdir -p "$jsoncpp"
  tar -xf "$orig" -C "$jsoncpp" --strip-components=1
  rm -rf "$work"
  echo "setup: JsonCpp source in third_party/jsoncpp"
fi
echo "setup: ready"
