#!/usr/bin/env python3
"""Benchmark of a package installation against a plain baseline, in one run.

    scripts/bench-install.py [BUILD_DIR] [--rounds N] [--files N] [--megabytes N]

Makes an application folder (the demo's, at TAVREL0100) with FILES files of
which half a package replaces, and a package TAVREL0101.ZIP of MEGABYTES in
FILES entries (no table update). Each round, on fresh copies of the folder:

  tavrelpkg   `tavrelpkg install APP TAVREL0101.ZIP`: every stage, with the
              archive test, the backup of the replaced files, the journal,
              the history records and the level
  baseline    copy the files being replaced into a backup folder
              (cp --parents), then `unzip -o -q` the package into an empty
              folder

The two alternate (the machines here are noisy); the report gives the medians
and their ratio. Nothing is timed by the tests; this is run by hand.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "demo"))
import demo_content  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_rounds  # noqa: E402


def relative_names(count):
    # Folders of 100 files, as an application's sub-folders hold them.
    return ["LIB%02d/FILE%04d.BIN" % (i // 100, i) for i in range(count)]


def file_bytes(rng, size):
    # Half random (does not compress), half text-like (compresses well).
    half = size // 2
    return rng.randbytes(half) + (b"TAVREL line of text %08d\r\n" * (size // 60 + 1))[:size - half]


def make_fixture(bin_dir, work, count, megabytes):
    rng = random.Random(101)
    app = os.path.join(work, "app")
    demo_content.make_application(demo_content.Tools(bin_dir), app)
    names = relative_names(count)
    size = megabytes * 1024 * 1024 // count
    for name in names[: count // 2]:
        path = os.path.join(app, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(b"old " + file_bytes(rng, size - 4))
    package = os.path.join(work, "TAVREL0101.ZIP")
    with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for name in names:
            z.writestr(name, file_bytes(rng, size))
    return app, package, names[: count // 2]


def run_baseline(app, package, replaced):
    backup = os.path.join(app, "UPDATE", "TAVREL0101", "BACKUP")
    os.makedirs(backup)
    subprocess.run(["cp", "--parents"] + replaced + [backup], cwd=app, check=True, timeout=900)
    target = os.path.join(os.path.dirname(app), "unzipped")
    shutil.rmtree(target, ignore_errors=True)
    os.makedirs(target)
    subprocess.run(["unzip", "-o", "-q", package, "-d", target], check=True, timeout=900)
    subprocess.run(["sync", "-f", target], check=True, timeout=900)


def main():
    args, bin_dir = bench_rounds.arguments(__doc__, ROOT, {"--files": 2000, "--megabytes": 100})
    if shutil.which("unzip") is None:
        print("unzip is missing (package unzip)")
        return 1
    work = tempfile.mkdtemp(prefix="tavrel-bench-install-")
    try:
        app, package, replaced = make_fixture(bin_dir, work, args.files, args.megabytes)
        print("package %s: %d entries, %.1f MB compressed; %d files replaced" %
              (os.path.basename(package), args.files, os.path.getsize(package) / 1e6,
               len(replaced)))
        times = bench_rounds.run_rounds(
            args.rounds, os.path.join(work, "copy"), app,
            {"tavrelpkg": lambda copy: bench_rounds.run_tavrelpkg_install(bin_dir, copy, package),
             "baseline": lambda copy: run_baseline(copy, package, replaced)})
        bench_rounds.report(times, "tavrelpkg", "baseline")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
