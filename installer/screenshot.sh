#!/usr/bin/env bash
# Shows the installer window after a failed installation and saves a picture
# of it: runs TAVRELUPDATE.EXE under a virtual X server (xvfb-run) in a
# temporary agent folder whose NewVersion holds a file without a current one.
#
#   installer/screenshot.sh [BUILD_DIR] [OUTPUT.png]
#
# BUILD_DIR defaults to build-installer (or build) beside this folder; the two
# programs it needs are built there first. OUTPUT defaults to
# BUILD_DIR/installer-failed.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-}
if [ -z "$dir" ]; then
    dir=$root/build-installer
    [ -d "$dir" ] || dir=$root/build
fi
dir=$(cd "$dir" && pwd)
out=${2:-$dir/installer-failed.png}
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 1; }
cmake --build "$dir" --target tavrel_installer installer_screen_grab >/dev/null

agent=$(mktemp -d)
trap 'rm -rf "$agent"' EXIT
printf 'UPDATE0011' >"$agent/TAVRELUPD.VER"
printf 'UPDATE0012' >"$agent/UPDATE.VER"
mkdir -p "$agent/NewVersion" "$agent/OldVersion"
printf 'old agent' >"$agent/TavrelUpdate1.exe"
printf 'new agent' >"$agent/NewVersion/TavrelUpdate1.exe"
# Listed after TavrelUpdate1.exe, so that one is backed up, replaced and restored.
printf 'new helper' >"$agent/NewVersion/XTRAHELP.DLL"

export INSTALLER_BIN=$dir/bin AGENT_FOLDER=$agent SHOT=$out
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
    set -eu
    cd "$AGENT_FOLDER"
    QT_QPA_PLATFORM=xcb "$INSTALLER_BIN/TAVRELUPDATE.EXE" /N &
    pid=$!
    # The first tick (after 5 s) installs and fails; the second enables Exit.
    for _ in $(seq 1 300); do [ -s UPDATELOG.RES ] && break; sleep 0.1; done
    [ "$(head -c 1 UPDATELOG.RES)" = F ] || { echo "installation did not fail" >&2; kill $pid; exit 1; }
    sleep 6
    "$INSTALLER_BIN/installer_screen_grab" "$SHOT"
    kill $pid
'
echo "$out"
