#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the application and the tests need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev qt6-qpa-plugins
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev libavdevice-dev libavfilter-dev ffmpeg
  libssl-dev nlohmann-json3-dev libasio-dev libusbmuxd-dev libplist-dev usbmuxd
  libpocketsphinx-dev pocketsphinx-en-us espeak-ng libespeak-ng-dev
  festival festvox-us-slt-hts festvox-kallpc16k pocketsphinx-testdata
  fonts-material-design-icons-iconfont
  pulseaudio libpulse-dev
  libgtest-dev libgmock-dev libbenchmark-dev libxml2-utils xvfb xauth dbus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
