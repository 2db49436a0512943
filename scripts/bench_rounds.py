"""Rounds of a benchmark against its baseline, alternating, with a report of
medians and their ratio (the machines here are noisy: a single timing says
little, a ratio of medians taken side by side says more)."""
import argparse
import os
import shutil
import statistics
import subprocess
import time


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def run_rounds(rounds, work_copy, source, measured):
    """Runs each of `measured` (name -> action(copy)) once a round, on a fresh
    copy of `source` at `work_copy`, the order swapped every round. Gives
    name -> list of seconds."""
    names = list(measured)
    times = {name: [] for name in names}
    for round_number in range(rounds):
        for name in names if round_number % 2 == 0 else list(reversed(names)):
            shutil.rmtree(work_copy, ignore_errors=True)
            shutil.copytree(source, work_copy, symlinks=True)
            subprocess.run(["sync", "-f", work_copy], check=True)
            times[name].append(timed(lambda: measured[name](work_copy)))
    return times


def report(times, measured_name, baseline_name):
    for name, values in times.items():
        print("%-10s median %7.2f s  (%s)" % (name, statistics.median(values),
                                             ", ".join("%.2f" % v for v in values)))
    print("ratio %s/%s (medians): %.2f" %
          (measured_name, baseline_name,
           statistics.median(times[measured_name]) / statistics.median(times[baseline_name])))


def arguments(doc, root, extra):
    """The command line every benchmark script takes: the build folder,
    --rounds, and its own integer options `extra` (name -> default). Gives
    the parsed arguments and the build's bin folder."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("build", nargs="?", default=os.path.join(root, "build"))
    parser.add_argument("--rounds", type=int, default=5)
    for name, default in extra.items():
        parser.add_argument(name, type=int, default=default)
    args = parser.parse_args()
    return args, os.path.join(os.path.abspath(args.build), "bin")


def run_tavrelpkg_install(bin_dir, app, package, timeout=1800):
    """`tavrelpkg install APP PACKAGE`; an exception with its output when it fails."""
    done = subprocess.run([os.path.join(bin_dir, "tavrelpkg"), "install", app, package],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
    if done.returncode != 0:
        raise RuntimeError("tavrelpkg install failed: " + done.stderr.decode(errors="replace") +
                           done.stdout.decode(errors="replace")[-2000:])
