#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need; only what is missing.
set -euo pipefail

packages=(cmake make g++ g++-multilib qemu-user g++-mingw-w64-i686 binutils-mingw-w64-i686
          googletest ffmpeg mjpegtools dvdauthor imagemagick python3 clang-format
          libbenchmark-dev hyperfine mpeg2dec time clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
# A warning about an unrelated index must not stop the build.
"${sudo_cmd[@]}" apt-get update -q || true
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
