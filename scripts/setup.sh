#!/usr/bin/env bash
# Installs everything Kestrel needs to build, test, package and run on Debian 12.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  libwxgtk3.2-dev libwxgtk-media3.2-dev libopencv-dev
  libboost-system-dev libboost-dev libgtest-dev googletest
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libexpat1-dev libjpeg62-turbo-dev
  libsqlite3-dev libssl-dev libcairo2-dev fuse python3-fusepy
  xvfb xauth openbox imagemagick x11-apps xdotool fonts-dejavu-core locales ffmpeg
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-libav gstreamer1.0-x gstreamer1.0-tools
  libgstrtspserver-1.0-dev socat clang libclang-rt-14-dev python3
  dpkg-dev file help2man lintian desktop-file-utils libx11-dev
  e2fsprogs mount
  sway grim
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
