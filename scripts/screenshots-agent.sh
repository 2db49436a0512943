#!/usr/bin/env bash
# Takes pictures of every window of the agent TavrelUpdate1 under a virtual X
# server (xvfb-run): the main window with a history list holding a failed and
# a completed update, the same with a report open, the settings dialog, the
# about box and both tray notices.
#
#   scripts/screenshots-agent.sh [BUILD_DIR] [OUTPUT_DIR]
#
# BUILD_DIR defaults to build beside this folder; the tool it needs is built
# there first. OUTPUT_DIR defaults to BUILD_DIR/screenshots.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(cd "${1:-$root/build}" && pwd)
out=${2:-$dir/screenshots}
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (package xvfb)" >&2; exit 1; }
cmake --build "$dir" --target agent_screenshots >/dev/null
mkdir -p "$out"
out=$(cd "$out" && pwd)
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
chmod 700 "$runtime"
XDG_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=xcb timeout 120 \
    xvfb-run -a -s "-screen 0 1024x600x24" "$dir/bin/agent_screenshots" "$out"
