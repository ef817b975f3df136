#!/usr/bin/env bash
# Installs the packages scripts/package built, the way a player does (apt-get install ./….deb),
# runs the installed program as an unprivileged user with a fresh home under Xvfb against the
# installed server, checks it registered its links, keeps its data per user and loaded the tool
# page, then removes the packages again. Needs root for apt-get; CI runs it after scripts/test.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build}
[ "$(id -u)" -eq 0 ] || { echo "install_test: run as root (it installs and removes packages)" >&2; exit 1; }
client=$(ls "$build"/yfzs_*.deb 2>/dev/null | head -1)
server=$(ls "$build"/qx77-server_*.deb 2>/dev/null | head -1)
[ -n "$client" ] && [ -n "$server" ] || { echo "install_test: no packages in $build; run scripts/package" >&2; exit 1; }

user=nobody
work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -q yfzs qx77-server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install_test: $*" >&2
  for log in "$work"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; tail -40 "$log" >&2; }; done
  exit 1
}
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_port() {
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -q --no-install-recommends "./$client" "./$server"

# What the packages put where.
[ -x /usr/bin/YFZS ] || fail "/usr/bin/YFZS missing"
[ -x /usr/bin/qx77-server ] || fail "/usr/bin/qx77-server missing"
getent passwd qx77-server >/dev/null || fail "the server package made no user for its service"
! dpkg -L yfzs | grep -q qx77-server || fail "the program's package carries the server"
tests/packaging/validate.sh /usr/share/applications/YFZS.desktop /usr/share/metainfo/com.qx77.yfzs.metainfo.xml
for size in 16 24 32 48 64 128 256; do
  [ -f "/usr/share/icons/hicolor/${size}x${size}/apps/yfzs.png" ] || fail "no ${size} px icon"
done
zcat /usr/share/doc/yfzs/changelog.gz | head -1 | grep -q '^yfzs (' || fail "no changelog"
dpkg-query -W -f='${Depends}\n' yfzs | grep -q 'libqt6webenginewidgets6' || fail "dependencies not computed"

# The installed server with its demo catalogue; it finds its page in the package by itself.
mkdir -p "$work/data"
qx77-server --make-demo "$work/data" >"$work/server.log" 2>&1
tool_port=$(free_port)
service_port=$(free_port)
qx77-server --tool-port "$tool_port" --service-port "$service_port" "$work/data" \
  >>"$work/server.log" 2>&1 &
pids+=($!)
wait_port "$tool_port" || fail "the installed server does not listen"

Xvfb -screen 0 1024x768x24 -nolisten tcp -noreset -displayfd 3 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

home="$work/home"
mkdir -p "$home"
chown "$user" "$home"
as_user() {
  runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin DISPLAY="$DISPLAY" LANG=C.UTF-8 \
    QX77_HOST=127.0.0.1 QX77_TOOL_PORT="$tool_port" QX77_SERVICE_PORT="$service_port" \
    QX77_FORUM_URL="http://127.0.0.1:$tool_port" ${QTWEBENGINE_DISABLE_SANDBOX:+QTWEBENGINE_DISABLE_SANDBOX=1} "$@"
}
# runuser waits for the program it started: end the program itself (its only child).
stop_program() {
  local child
  child=$(pgrep -P "${pids[-1]}" || true)
  [ -n "$child" ] && kill "$child" 2>/dev/null
  wait "${pids[-1]}" 2>/dev/null || true
}
as_user YFZS >"$work/yfzs.log" 2>&1 &
pids+=($!)
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^QX77 云帆助手$' | head -1) || true
[ -n "$window" ] || fail "the installed program shows no window"
xprop -id "$window" WM_CLASS | grep -q '= "YFZS", "YFZS"$' || fail "window class is not YFZS"

# Per-user data: nothing beside the read-only program, the build's version in a fresh config.ini.
data="$home/.local/share/YFZS"
for _ in $(seq 100); do [ -f "$data/config.ini" ] && break; sleep 0.2; done
[ -f "$data/config.ini" ] || fail "no per-user config.ini"
grep -q '^version=1\.' "$data/config.ini" || fail "config.ini has no version: $(cat "$data/config.ini")"
grep -q '^sertime=[0-9]\{14\}' "$data/config.ini" || fail "config.ini has no sertime"
[ ! -e /usr/bin/config.ini ] || fail "config.ini written beside the program"

# Links: the packaged entry is the handler, no second entry written. The program registers
# once its first page has loaded, so give it that long.
for _ in $(seq 100); do grep -qs '^x-scheme-handler/vederu77=' "$home/.config/mimeapps.list" && break; sleep 0.2; done
grep -q '^x-scheme-handler/vederu77=YFZS.desktop;' "$home/.config/mimeapps.list" || fail "scheme not registered"
[ ! -e "$home/.local/share/applications/yfzs-vederu77.desktop" ] || fail "a second desktop entry was written"
[ "$(as_user xdg-mime query default x-scheme-handler/vederu77)" = YFZS.desktop ] || fail "xdg-mime disagrees"

# It works: the tool page came from the installed server.
for _ in $(seq 150); do grep -q 'GET /CF20/CF_Index.aspx' "$work/server.log" && break; sleep 0.2; done
grep -q 'GET /CF20/CF_Index.aspx 200' "$work/server.log" || fail "the tool page was not loaded"

# A data folder the user cannot write: told once, in a box, that nothing will be kept.
stop_program
mkdir -p "$work/locked-data"
as_user XDG_DATA_HOME="$work/locked-data" YFZS >"$work/yfzs-locked.log" 2>&1 &
pids+=($!)
timeout 60 xdotool search --sync --onlyvisible --name '^YFZS$' >/dev/null || fail "no word about the unwritable data folder"
# Said before anything else: the main window comes only once the box is answered.
[ -z "$(xdotool search --onlyvisible --name '^QX77 云帆助手$' 2>/dev/null)" ] || fail "the box is not the first thing shown"
stop_program

# A newer release on the server: the offer points at the package manager and starts no updater,
# so after the one box nothing else follows and the program keeps running.
sed -i 's/"version": *"[^"]*"/"version": "9.9.9"/' "$work/data/versions.json"
as_user YFZS >"$work/yfzs-update.log" 2>&1 &
pids+=($!)
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^YFZS$' | head -1) || true
[ -n "$box" ] || fail "no update offer"
grep -q '^version=9\.9\.9' "$data/update.ini" || fail "update.ini does not hold the offer"
xdotool windowfocus --sync "$box" key Return
sleep 3
[ -z "$(xdotool search --onlyvisible --name '^YFZS$' 2>/dev/null)" ] || fail "another box followed the offer"
kill -0 "${pids[-1]}" || fail "the program ended after the offer"
stop_program

apt-get remove -y -q yfzs qx77-server
[ ! -e /usr/bin/YFZS ] || fail "/usr/bin/YFZS left behind"
echo "install_test: $(basename "$client") and $(basename "$server") install, run as $user and remove"
