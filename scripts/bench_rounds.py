"""Rounds of a benchmark against its baseline, alternating, with a report of
medians and their ratio (the machines here are noisy: a single timing says
little, a ratio of medians taken side by side says more)."""
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
