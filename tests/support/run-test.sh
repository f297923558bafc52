#!/usr/bin/env bash
# Runs one test program in an environment of its own: a temporary HOME and XDG
# folders (exported before any bus starts), so nothing touches the real session.
#   run-test.sh unit|integration|ui PROGRAM [ARGS...]
set -euo pipefail
label=$1; shift

root=$(mktemp -d "${TMPDIR:-/tmp}/daybrook-test.XXXXXX")
cleanup() {
  if [ -n "${keyring_pid:-}" ]; then kill "$keyring_pid" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT

export HOME="$root/home"
export XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache"
export XDG_STATE_HOME="$root/state" XDG_RUNTIME_DIR="$root/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
export QT_LOGGING_RULES="${QT_LOGGING_RULES:-daybrook.*.debug=false}"

case "$label" in
  unit)
    export QT_QPA_PLATFORM=offscreen
    exec "$@"
    ;;
  integration)
    export QT_QPA_PLATFORM=offscreen
    # The keyring must be started unlocked inside the private bus, or writes fail.
    # Everything runs in its own process group so that services the bus started
    # (keyring, calendar factories) are ended with it and never hold the output.
    log="$root/output.log"
    setsid dbus-run-session -- bash -c '
      eval "$(printf daybrook-test | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)"
      export GNOME_KEYRING_CONTROL SSH_AUTH_SOCK
      "$@"; status=$?
      # End what this private bus started (the keyring, evolution-data-server,
      # dconf), by process id: a name pattern would also hit other sessions
      # and this very script. Left running, they hold the output pipe open.
      bus() { dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "$@" 2>/dev/null; }
      for name in $(bus org.freedesktop.DBus.ListNames | sed -n "s/^ *string \"\(:[^\"]*\)\"\$/\1/p"); do
        pid=$(bus org.freedesktop.DBus.GetConnectionUnixProcessID "string:$name" | sed -n "s/^ *uint32 //p")
        if [ -n "$pid" ] && [ "$pid" != "$$" ]; then kill "$pid" 2>/dev/null || true; fi
      done
      exit $status' bash "$@" >"$log" 2>&1 </dev/null &
    group=$!
    status=0
    wait "$group" || status=$?
    kill -TERM -- "-$group" 2>/dev/null || true
    grep -v -e 'Failed to set fd limit' "$log" || true
    exit "$status"
    ;;
  ui)
    exec "$@"
    ;;
  *)
    echo "unknown test label: $label" >&2
    exit 2
    ;;
esac
