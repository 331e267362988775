#!/bin/bash
# A headless GNOME Shell for the tests: a private bus (which also stands in for the system bus),
# runtime folder and settings, one 1280x800 virtual monitor, XWayland, the hot corner,
# animations and key repeats off (a slow tap must not type twice), and
# the extension folders given as arguments enabled, with the one of ours that leaves the overview
# the Shell starts in. Prints "shell <bus address> <X display> <Wayland
# display> <runtime folder> <X authority file>" once the Shell has started, then waits; SIGTERM ends the Shell and its bus.
# Exits 77 when the Shell cannot run here. With QV_KEEP_SHELL_LOG set, the Shell's output is
# copied there at the end.
set -u
extensions=("$@" "$(dirname "$0")/quorvenda-test-desktop@quorvenda.org")
for program in gnome-shell Xwayland dbus-daemon; do
  command -v "$program" >/dev/null || { echo "skip: $program is not installed"; exit 77; }
done

version=$(gnome-shell --version 2>/dev/null | sed -n 's/.* \([0-9]*\)\..*/\1/p')
if [ -n "$version" ] && [ "$version" -ge 45 ]; then
  echo "skip: the test desktop's extension is written for GNOME Shell 43 and 44"; exit 77
fi

base=$(mktemp -d "${TMPDIR:-/tmp}/qv-gnome.XXXXXX")
chmod 755 "$base"
export XDG_RUNTIME_DIR=$base/runtime HOME=$base/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/glib-2.0/settings" "$XDG_DATA_HOME/gnome-shell/extensions"
uuids=""
for extension in "${extensions[@]}"; do
  uuid=$(basename "$extension")
  cp -r "$extension" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid"
  uuids="$uuids${uuids:+, }'$uuid'"
done
cat > "$XDG_CONFIG_HOME/glib-2.0/settings/keyfile" <<KEYS
[org/gnome/shell]
enabled-extensions=[$uuids]
disable-user-extensions=false
disable-extension-version-validation=true
welcome-dialog-last-shown-version='999'
[org/gnome/desktop/interface]
enable-hot-corners=false
enable-animations=false
[org/gnome/desktop/peripherals/keyboard]
repeat=false
KEYS
export GSETTINGS_BACKEND=keyfile XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
unset DISPLAY WAYLAND_DISPLAY

conf=$(dirname "$0")/../session-bus.conf
dbus-daemon --config-file="$conf" --nofork --print-address=3 3>"$base/bus" 2>/dev/null &
bus_pid=$!
shell_pid=""
cleanup() {
  [ -n "$shell_pid" ] && kill "$shell_pid" 2>/dev/null && wait "$shell_pid" 2>/dev/null
  kill "$bus_pid" 2>/dev/null
  [ -n "${QV_KEEP_SHELL_LOG:-}" ] && cp "$base/shell.log" "$QV_KEEP_SHELL_LOG"
  rm -rf "$base"
}
trap cleanup EXIT
trap 'exit 0' TERM INT
for _ in $(seq 100); do [ -s "$base/bus" ] && break; sleep 0.05; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$base/bus")
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS

# XWayland wants /tmp/.X11-unix owned by root or by us: root gets a private one where it is not.
run=()
if [ "$(id -u)" = 0 ] && [ "$(stat -c %u /tmp/.X11-unix 2>/dev/null || echo 0)" != 0 ]; then
  if unshare -m true 2>/dev/null; then
    run=(unshare -m sh -c 'mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix && exec "$@"' shell)
  else
    echo "skip: /tmp/.X11-unix belongs to another user"; exit 77
  fi
elif [ -d /tmp/.X11-unix ] && [ ! -w /tmp/.X11-unix ]; then
  echo "skip: /tmp/.X11-unix is not writable"; exit 77
fi
wayland=qv-wayland-$$
"${run[@]}" gnome-shell --headless --wayland --virtual-monitor 1280x800 \
  --wayland-display="$wayland" >"$base/shell.log" 2>&1 &
shell_pid=$!
display=""
for _ in $(seq 300); do
  display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$base/shell.log" | head -1)
  if [ -n "$display" ] && grep -q "GNOME Shell started" "$base/shell.log"; then break; fi
  kill -0 "$shell_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "GNOME Shell started" "$base/shell.log"; then
  echo "skip: GNOME Shell did not start"; tail -5 "$base/shell.log"; exit 77
fi
xauthority=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -1)
echo "shell $DBUS_SESSION_BUS_ADDRESS $display $wayland $XDG_RUNTIME_DIR ${xauthority:-none}"
wait "$shell_pid"
