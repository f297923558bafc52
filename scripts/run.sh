#!/usr/bin/env bash
# Builds Daybrook, installs it for this user (~/.local), makes it the handler of
# daybrook: links (the Todoist sign-in returns through one) and starts the bar.
# Without a display it starts the installed bar on a private Xvfb under a
# temporary home, takes a screenshot, prints its path and exits.
# scripts/uninstall.sh removes the installation again.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDAYBROOK_BUILD_TESTS=OFF -DDAYBROOK_BUILD_BENCH=OFF
cmake --build build/release -j "$(nproc)"

prefix=$HOME/.local
cmake --install build/release --prefix "$prefix"
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$prefix/share/applications" 2>/dev/null || true
fi
if [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
  gtk-update-icon-cache -f -t "$prefix/share/icons/hicolor" 2>/dev/null || true
fi
xdg-mime default daybrook.desktop x-scheme-handler/daybrook
echo "Installed into $prefix; remove with scripts/uninstall.sh."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec ./scripts/headless-demo.sh "$prefix/bin/daybrook" "$PWD/build/release/daybrook-screenshot.png"
fi
nohup "$prefix/bin/daybrook" >/dev/null 2>&1 &
pid=$!
sleep 1
if kill -0 "$pid" 2>/dev/null; then
  echo "Daybrook is running (pid $pid)."
elif wait "$pid"; then
  # A second start hands over to the running one (which opens its settings) and exits.
  echo "A Daybrook was already running: quit it from its tray menu and run this again to start the new build."
else
  echo "Daybrook exited with status $? at start." >&2
  exit 1
fi
