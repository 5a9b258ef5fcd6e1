#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Quill needs.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config \
  libgtest-dev nlohmann-json3-dev \
  qt6-base-dev qt6-websockets-dev qt6-httpserver-dev qtkeychain-qt6-dev qcoro-qt6-dev \
  libboost1.81-dev \
  dbus-daemon dbus-bin gnome-keyring \
  lua5.4 luajit xvfb xauth fonts-noto-color-emoji ccache >/dev/null
