#!/usr/bin/env bash
# Starts the bar on a private Xvfb (with a compositor and a window manager)
# under a temporary home, takes a screenshot and prints its path.
#   headless-demo.sh PATH-TO-DAYBROOK [OUTPUT.png]
set -euo pipefail
binary=$(realpath "$1")
out=${2:-$PWD/daybrook-screenshot.png}
root=$(mktemp -d /tmp/daybrook-demo.XXXXXX)
export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data XDG_CACHE_HOME=$root/cache
export XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=()
cleanup() { kill "${pids[@]}" "$xvfb" 2>/dev/null || true; rm -rf "$root"; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
xcompmgr >/dev/null 2>&1 & pids+=($!)
# A 32-px top panel (it also hosts the tray icon), as on a desktop: the bar
# hangs from its lower edge.
if command -v trayer >/dev/null; then
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true --SetPartialStrut true \
    --transparent true --alpha 0 --tint 0x303030 >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 30); do
    xprop -root _NET_WORKAREA 2>/dev/null | grep -q '= 0, 32,' && break
    sleep 0.1
  done
fi
dbus-run-session -- "$binary" >/dev/null 2>&1 & pids+=($!)
sleep 3
# Rest the pointer on the bar, on the 14:00 tick of the default day (the
# middle of the screen), so that it expands and shows the tick's tooltip.
if command -v xdotool >/dev/null; then
  top=$(xprop -root _NET_WORKAREA 2>/dev/null | awk -F', ' '{ print $2 + 0 }')
  xdotool mousemove 950 $(( ${top:-0} + 3 ))
  sleep 0.2
  xdotool mousemove 960 $(( ${top:-0} + 3 ))
  sleep 1.5
fi
import -window root "$out"
echo "Screenshot of the running bar: $out"
