#!/usr/bin/env bash
# The demo: installs what is missing, builds, and runs the whole update chain
# against a local update server, then prints a report.
#   scripts/demo.sh [RUN_DIR]     RUN_DIR defaults to demo-run/ (made afresh)
# Exit code 0 only when every check of the report passed. Without a desktop
# ($DISPLAY unset) the agent's windows run on a virtual X server (Xvfb).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh

run_dir=${1:-$root/demo-run}
dir=build
if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Only what the demo runs; scripts/test.sh builds everything.
# The agent program is named by its output file, whatever its target is called.
targets=(xbtool tavrelpkg kes04 kes01 tavrel_installer installer_screen_grab)
if grep -q '^build bin/TavrelUpdate1.exe:' "$dir/build.ninja"; then
    targets+=(bin/TavrelUpdate1.exe)
fi
echo "Building: ${targets[*]}"
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}" >/dev/null

demo=(/usr/bin/python3 demo/run_demo.py --build "$dir" --run-dir "$run_dir")
if [ -n "${DISPLAY:-}" ]; then
    exec "${demo[@]}"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "${demo[@]}"
