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
dbus-run-session -- "$binary" >/dev/null 2>&1 & pids+=($!)
sleep 3
import -window root "$out"
echo "Screenshot of the running bar: $out"
