#!/usr/bin/env bash
# Installs every Debian package the build, the programs and the tests need.
# One list for `make run`, `make test` and CI; a fresh Debian 12 machine needs nothing else.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core
  libpoco-dev libboost-dev
  libmad0-dev libvorbis-dev libflac-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libmp3lame-dev libopencore-amrnb-dev
  libsdl2-dev libpng-dev zlib1g-dev
  sox libsox-fmt-mp3 ffmpeg espeak-ng python3 python3-aiosmtpd xvfb libxml2-utils
  libsodium-dev libqrencode-dev libpq-dev postgresql zbar-tools wrk time
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with:  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
