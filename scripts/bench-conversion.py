#!/usr/bin/env python3
"""Benchmark of a table conversion against a plain baseline, in one run.

    scripts/bench-conversion.py [BUILD_DIR] [--rounds N] [--records N] [--deleted-every N]

Makes an application folder (the demo's, at TAVREL0100) with three data
folders, each holding the demo table CUSTOMER with RECORDS records (memo,
three tags, CHECK_SUM stamped; with --deleted-every N every Nth record is
marked deleted), and a package TAVREL0101.ZIP that carries
only the demo's table update (CUSTOMER gets a field, a wider field and a
tag; the new table ORDERS appears). Each round, on fresh copies of the folder:

  tavrelpkg   `tavrelpkg install APP TAVREL0101.ZIP`: the archive test, the
              conversion of the three CUSTOMER tables (safety copies, the
              backup archive, copying every record into the new structure,
              CHECK_SUM restamped, the new index, the move over the old
              table), the history records and the level
  baseline    copy the three files of each CUSTOMER table, then
              `xbtool reindex` the copy

The two alternate; the report gives the medians and their ratio. Nothing is
timed by the tests; this is run by hand.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "demo"))
import demo_content  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_rounds  # noqa: E402

DATA_FOLDERS = ("DATA00", "DATA01", "DATA02")


def mark_deleted(table, every):
    """Marks every `every`th record of the data file deleted, in place (no
    tag of CUSTOMER reads the mark, and CHECK_SUM does not cover it)."""
    with open(table, "r+b") as f:
        header = f.read(12)
        count, header_length, record_length = struct.unpack("<IHH", header[4:12])
        for n in range(0, count, every):
            f.seek(header_length + n * record_length)
            f.write(b"*")


def make_fixture(bin_dir, work, records, deleted_every=0):
    demo_content.CUSTOMER_RECORDS = records
    demo_content.DATA_FOLDERS = DATA_FOLDERS
    tools = demo_content.Tools(bin_dir)
    app = os.path.join(work, "app")
    demo_content.make_application(tools, app)
    if deleted_every > 0:
        for folder in DATA_FOLDERS:
            mark_deleted(os.path.join(app, folder, "TABLES", "CUSTOMER.DBF"), deleted_every)
    package = os.path.join(work, "TAVREL0101.ZIP")
    update = demo_content.make_table_update(tools, os.path.join(work, "tableupdate"))
    demo_content.write_zip(package, [("TBLUPD0101.ZIP", update)])
    return app, package


def run_baseline(bin_dir, app):
    for folder in DATA_FOLDERS:
        tables = os.path.join(app, folder, "TABLES")
        target = os.path.join(app, folder, "NEW")
        os.makedirs(target)
        subprocess.run(["cp"] + [os.path.join(tables, "CUSTOMER" + ext)
                                 for ext in (".DBF", ".CDX", ".FPT")] + [target],
                       check=True, timeout=1800)
        subprocess.run([os.path.join(bin_dir, "xbtool"), "reindex",
                        os.path.join(target, "CUSTOMER")],
                       check=True, stdout=subprocess.DEVNULL, timeout=1800)
    subprocess.run(["sync", "-f", app], check=True, timeout=900)


def main():
    args, bin_dir = bench_rounds.arguments(__doc__, ROOT, {"--records": 200000, "--deleted-every": 0})
    work = tempfile.mkdtemp(prefix="tavrel-bench-conversion-")
    try:
        app, package = make_fixture(bin_dir, work, args.records, args.deleted_every)
        size = os.path.getsize(os.path.join(app, "DATA00", "TABLES", "CUSTOMER.DBF"))
        print("%d data folders, CUSTOMER with %d records (%.1f MB data file) in each" %
              (len(DATA_FOLDERS), args.records, size / 1e6))
        times = bench_rounds.run_rounds(
            args.rounds, os.path.join(work, "copy"), app,
            {"tavrelpkg": lambda copy: bench_rounds.run_tavrelpkg_install(bin_dir, copy, package),
             "baseline": lambda copy: run_baseline(bin_dir, copy)})
        bench_rounds.report(times, "tavrelpkg", "baseline")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
