#!/bin/sh
# Runs a command beside a private, unlocked GNOME keyring. Start it inside its own bus:
#   dbus-run-session -- keyring-session.sh FOLDER COMMAND [ARGUMENT...]
# FOLDER must be new and empty: the keyring keeps its files there (a fresh data folder plus a
# non-empty unlock password is what makes the daemon create the persistent "login"
# collection). The daemon is stopped, by its process id, when the command ends.
set -eu
folder=$1
shift
mkdir -p "$folder/data" "$folder/home" "$folder/runtime"
chmod 700 "$folder/runtime"

printf pw | env XDG_DATA_HOME="$folder/data" HOME="$folder/home" XDG_RUNTIME_DIR="$folder/runtime" \
  gnome-keyring-daemon --foreground --unlock --components=secrets >"$folder/daemon.log" 2>&1 &
daemon=$!
trap 'kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true' EXIT

# No client call before the daemon owns its bus name: up to 10 s, in 0.05 s steps.
tries=0
until gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
  --method org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null | grep -q true; do
  tries=$((tries + 1))
  if [ "$tries" -ge 200 ]; then
    echo "keyring-session: the keyring daemon did not come up; its log:" >&2
    cat "$folder/daemon.log" >&2
    exit 1
  fi
  sleep 0.05
done

"$@"
