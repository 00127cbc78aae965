#!/usr/bin/env bash
# Installs the Debian packages Vesk builds, tests and demos with.
# The one list of system dependencies; safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ccache
  tcl8.6-dev tk8.6-dev
  libjpeg62-turbo-dev zlib1g-dev
  libproj-dev proj-data
  libx11-dev libcairo2-dev
  libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri
  libgtest-dev
  xvfb xauth x11-apps fonts-dejavu-core
  ghostscript
  libsane-dev sane-utils
  libcups2-dev cups-daemon cups-client
  poppler-utils libemf2svg-dev xclip
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
