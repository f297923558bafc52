#!/usr/bin/env bash
# Installs every build, test and run dependency of Daybrook on Debian 12 / Ubuntu 24.04.
# A no-op when everything is already present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache clang-format
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins
  qt6-positioning-dev libqt6positioning6-plugins tzdata
  qtkeychain-qt6-dev libecal2.0-dev libicu-dev qt6-httpserver-dev qcoro-qt6-dev
  libbenchmark-dev libxcb-shape0-dev libxcb1-dev libgl-dev
  xvfb xdotool x11-utils x11-apps imagemagick xcompmgr trayer dbus-x11 dbus
  openbox xfwm4 i3-wm
  gnome-keyring libsecret-tools evolution-data-server python3-dbus python3-gi
  desktop-file-utils appstream xdg-utils fonts-dejavu-core fonts-noto-color-emoji
  mutter xwayland gir1.2-gtk-4.0
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
