#!/usr/bin/env bash
# Pictures of the update window frmUpdate during and after a user session
# against a local FTP server (components/ftpclient/tests/ftp_test_server.py):
# the server offers TAVREL0123.ZIP and TAVREL0124.ZIP to an application at
# TAVREL0122; both are downloaded and installed by the real installation under
# a virtual X server (xvfb-run).
#
#   scripts/screenshots-update-window.sh [BUILD_DIR] [OUTPUT_DIR]
#
# BUILD_DIR defaults to build beside this folder (update_window_shot is built
# there first); OUTPUT_DIR defaults to BUILD_DIR. Writes
# update-window-during.png and update-window-after.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$dir}" && cd "${2:-$dir}" && pwd)
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (scripts/deps.sh installs xvfb)" >&2; exit 1; }
cmake --build "$dir" --target update_window_shot >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/agent" "$work/app" "$work/root/httpdocs/download/TAVREL/UPDATE0/SETUPS" \
         "$work/root/httpdocs/download/TAVREL/UPDATE0/UPDATES"
printf 'UPDATE0011' >"$work/agent/TAVRELUPD.VER"
printf 'TAVREL0122' >"$work/app/TAVRELUPD.VER"
printf 'program' >"$work/app/TAVREL32.EXE"
/usr/bin/python3 - "$work/root/httpdocs/download/TAVREL/UPDATE2/UPDATES" <<'PY'
import os, sys, zipfile
folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
for level in ("TAVREL0123", "TAVREL0124"):
    with zipfile.ZipFile(os.path.join(folder, level + ".ZIP"), "w") as z:
        z.writestr("README.TXT", "files of " + level + "\r\n")
        z.writestr("REPORTS/SUMMARY.TXT", "report layout " + level + "\r\n")
PY

/usr/bin/python3 "$root/components/ftpclient/tests/ftp_test_server.py" \
    --root "$work/root" --port-file "$work/port" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 1 150); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the FTP test server did not start" >&2; exit 1; }
port=$(cat "$work/port")

timeout 120 xvfb-run -a -s "-screen 0 800x640x24" \
    env QT_QPA_PLATFORM=xcb "$dir/bin/update_window_shot" "$work/agent" "$work/app" \
    "127.0.0.1:$port" "$out/update-window-during.png" "$out/update-window-after.png"
[ "$(head -c 10 "$work/app/TAVRELUPD.VER")" = TAVREL0124 ] ||
    { echo "the packages were not installed" >&2; exit 1; }
echo "$out/update-window-during.png"
echo "$out/update-window-after.png"
