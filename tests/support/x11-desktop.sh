#!/usr/bin/env bash
# Starts a window manager and a top panel on $DISPLAY, prints "ready N" with N
# the panel's lower edge once both are up, and runs until terminated.
#   x11-desktop.sh openbox|xfwm4|i3|mutter|kwin
set -euo pipefail
wm=$1
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; exit 0' TERM INT EXIT
workarea_top() { xprop -root _NET_WORKAREA 2>/dev/null | sed -n 's/.* = [0-9]*, \([0-9]*\),.*/\1/p'; }
case "$wm" in
  i3)
    config=$(mktemp); printf '%s\n' '# i3 config file (v4)' 'default_border none' \
      'bar {' '  position top' '  tray_output none' '}' >"$config"
    i3 -c "$config" >/dev/null 2>&1 & pids+=($!)
    edge() { xdotool search --class i3bar getwindowgeometry --shell 2>/dev/null |
      awk -F= '/^Y=/ { y = $2 } /^HEIGHT=/ { print y + $2; exit }'; } ;;
  mutter) dbus-run-session -- mutter --x11 --replace --sm-disable >/dev/null 2>&1 & pids+=($!) ;;
  kwin)
    printf '[Desktops]\nNumber=2\n' >"${XDG_CONFIG_HOME:-$HOME/.config}/kwinrc"
    dbus-run-session -- kwin_x11 --replace >/dev/null 2>&1 & pids+=($!) ;;
  *) "$wm" >/dev/null 2>&1 & pids+=($!) ;;
esac
if [ "$wm" != i3 ]; then
  # The panel: a 32-px dock at the top that reserves its height.
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.1; done
  trayer --edge top --widthtype percent --width 100 --height 32 --SetDockType true \
    --SetPartialStrut true >/dev/null 2>&1 & pids+=($!)
  edge() { workarea_top; }
fi
until [ "$(edge)" -gt 0 ] 2>/dev/null; do sleep 0.1; done
echo "ready $(edge)"
wait
