#!/usr/bin/env bash
# Measures the bar at rest: the program runs on a private Xvfb (window manager
# and compositor included) under a temporary home, collapsed with its
# breathing clock hand; after a short settling time its CPU use (percent of
# one core) and resident memory are sampled over the given span, beside those
# of `xclock -update 1` as an anchor. Also prints the time from exec to the
# bar's window being mapped.
#   measure-idle.sh PATH-TO-DAYBROOK [SECONDS] [--no-compositor]
set -euo pipefail
binary=$(realpath "$1")
seconds=${2:-60}
compositor=1
[ "${3:-}" = "--no-compositor" ] && compositor=0

root=$(mktemp -d /tmp/daybrook-idle.XXXXXX)
export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data XDG_CACHE_HOME=$root/cache
export XDG_RUNTIME_DIR=$root/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS

number=$((200 + RANDOM % 100))
while [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
display=:$number
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids=($!)
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$root"
}
trap cleanup EXIT
export DISPLAY=$display QT_QPA_PLATFORM=xcb
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$number" ] && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
if [ "$compositor" = 1 ]; then xcompmgr >/dev/null 2>&1 & pids+=($!); fi
sleep 0.5

# Start-up: from exec to the bar's window being mapped.
now_ms() { echo $(($(date +%s%N) / 1000000)); }
t0=$(now_ms)
"$binary" >/dev/null 2>&1 & app=$!
pids+=("$app")
until xdotool search --onlyvisible --name '^Daybrook$' >/dev/null 2>&1; do
  kill -0 "$app" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
  sleep 0.005
done
startup=$(($(now_ms) - t0))
# The anchor: an X11 clock repainting once a second, measured over the same span.
xclock -update 1 >/dev/null 2>&1 & anchor=$!
pids+=("$anchor")
sleep 5

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
start=$(ticks "$app") anchor_start=$(ticks "$anchor")
sleep "$seconds"
end=$(ticks "$app") anchor_end=$(ticks "$anchor")
rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app/status")
anchor_rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$anchor/status")
report() {
  awk -v name="$1" -v t="$2" -v hz="$hz" -v s="$seconds" -v rss="$3" 'BEGIN {
    printf "  %-22s CPU %.2f %% of one core, resident memory %.1f MB\n", name, 100 * t / (hz * s), rss / 1024 }'
}
echo "idle $seconds s ($([ "$compositor" = 1 ] && echo compositor || echo no compositor)):"
report daybrook $((end - start)) "$rss"
report "xclock -update 1" $((anchor_end - anchor_start)) "$anchor_rss"
echo "start-up: exec to bar mapped in $startup ms"
