#!/usr/bin/env bash
# A screenshot of the "About File" dialog of KESVER1.dll on a virtual X server.
#
#   kesver1/screenshot.sh [build folder] [picture.png]
#
# Builds what it needs in the build folder (default: build-kesver1 beside this
# folder), writes a fixture executable with a version resource, and lets the
# test host program call ABOUT_FILE for it under xvfb-run; the host saves the
# dialog's area of the screen and closes the dialog.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build-kesver1}"
picture="${2:-$build/kesver1-about-file.png}"

if ! command -v xvfb-run >/dev/null; then
    echo "xvfb-run is missing (Debian package xvfb)" >&2
    exit 1
fi
cmake --build "$build" --target kesver1 kesver1_about_host kesver1_make_seeds >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/bin/kesver1_make_seeds" "$work/seeds"
mkdir -p "$work/app"
cp "$work/seeds/pe32_exe" "$work/app/TAVREL32.EXE"

env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bin/kesver1_about_host" screenshot "$work/app" TAVREL32.EXE "$picture" >/dev/null
echo "$picture"
