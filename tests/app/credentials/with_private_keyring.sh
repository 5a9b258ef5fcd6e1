#!/bin/sh
# Runs a command against a real Secret Service: gnome-keyring in a private D-Bus session, with a
# throw-away home, so that the user's own keyring is never touched. Exits 77 (skipped) when the
# tools are missing; tools/install-deps.sh installs them.
set -eu

for tool in dbus-run-session dbus-send gnome-keyring-daemon; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed; run tools/install-deps.sh for the Secret Service test."
        exit 77
    fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
export HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime" XDG_DATA_HOME="$scratch/data" \
       XDG_CONFIG_HOME="$scratch/config" XDG_CURRENT_DESKTOP=GNOME

dbus-run-session -- sh -c '
    # The password unlocks (and first creates) the default "login" collection.
    printf "quill-test" | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
    keyring=$!
    tries=0
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
              org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$keyring" 2>/dev/null; then
            echo "gnome-keyring did not start its Secret Service" >&2
            kill "$keyring" 2>/dev/null || true
            exit 1
        fi
        sleep 0.1
    done
    status=0
    "$@" || status=$?
    kill "$keyring" 2>/dev/null || true
    wait "$keyring" 2>/dev/null || true
    exit "$status"
' sh "$@"
