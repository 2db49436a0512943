"""The demo: the whole update chain against a local server, then a report.

    /usr/bin/python3 demo/run_demo.py --build BUILD_DIR [--run-dir demo-run]

Makes the content afresh in the run folder, starts the update server, writes
the agent's configuration and starts the agent as a scheduled task would. The
agent finds its newer version, hands over to the installer, which installs it
and starts the new agent with the same switches; that one installs TAVREL0101
(with the table conversion) and TAVREL0102 and ends by itself. Then tavrelpkg
installs TAVREL0103.ZIP, which fails in stage 3 and is rolled back. The
report follows; the exit code is 0 only when every check passed.
Screenshots are taken when a display is there (scripts/demo.sh gives one).
"""
import argparse
import datetime
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_content  # noqa: E402
import demo_run  # noqa: E402
from demo_run import print_flush as say  # noqa: E402

BUDGET_SECONDS = 30


class Screenshots:
    """Pictures of the whole display, taken with the project's grabber."""

    def __init__(self, bin_dir, folder):
        self.grabber = os.path.join(bin_dir, "installer_screen_grab")
        self.folder = folder
        self.paths = []
        self.enabled = bool(os.environ.get("DISPLAY")) and os.path.isfile(self.grabber)

    def take(self, name):
        if not self.enabled:
            return
        os.makedirs(self.folder, exist_ok=True)
        path = os.path.join(self.folder, name)
        done = subprocess.run([self.grabber, path], capture_output=True, timeout=30)
        if done.returncode == 0 and os.path.isfile(path):
            self.paths.append(path)


def make_run_folder(bin_dir, run):
    if os.path.exists(run):
        # Only what an earlier demo left; a second run starts from scratch.
        demo_run.stop_processes_in(os.path.join(run, "agent"))
        shutil.rmtree(run)
    agent_files = [os.path.join(bin_dir, f) for f in demo_run.AGENT_FILES
                   if os.path.isfile(os.path.join(bin_dir, f))]
    installer = os.path.join(bin_dir, demo_run.INSTALLER_PROGRAM)
    started = time.monotonic()
    demo_content.make_content(bin_dir, run, agent_files,
                              installer if os.path.isfile(installer) else None)
    return time.monotonic() - started


def wait_for_a_window():
    wait = demo_run.seconds_until_a_window_exists(datetime.datetime.now())
    if wait > 0:
        say("Between 00:00 and 01:01 no scheduled window can hold the time of day (an hour "
            "switch below 1 is ignored): waiting %d minutes until 01:01." % (wait // 60 + 1))
        time.sleep(wait)
    return demo_run.schedule_switches(datetime.datetime.now())


def run_chain(bin_dir, run, server, shots, checks):
    """The agent chain; returns the Chain (for its phases) or None."""
    missing = demo_run.agent_missing(bin_dir)
    if missing:
        checks.check("agent chain", False, missing)
        say("Agent step: " + missing)
        return None
    demo_run.write_configuration(os.path.join(run, "agent"), os.path.join(run, "app"),
                                 server.host())
    switches = wait_for_a_window()
    say("Starting the agent as a scheduled task: %s %s" % (demo_run.AGENT_PROGRAM, switches))
    chain = demo_run.Chain(run, demo_run.agent_environment(bool(os.environ.get("DISPLAY"))),
                           switches)
    first = chain.start()
    ended = chain.watch(first, on_conversion=lambda: shots.take("update-window-conversion.png"))
    if not checks.check("agent chain ended by itself", ended, "time limit reached"):
        demo_run.stop_processes_in(chain.agent)
    return chain


def main_window_shot(bin_dir, run, shots):
    """The main window with the history at the end; the agent is then closed."""
    if not shots.enabled or demo_run.agent_missing(bin_dir):
        return
    agent = os.path.join(run, "agent")
    with open(os.path.join(run, "agent-output.txt"), "a") as log:
        process = demo_run.start_agent(agent, "", demo_run.agent_environment(True), log)
        time.sleep(6)
        shots.take("main-window.png")
        process.kill()
        process.wait()
    demo_run.stop_processes_in(agent)


def report(bin_dir, run, chain, timings, checks, shots):
    app, agent = os.path.join(run, "app"), os.path.join(run, "agent")
    say("")
    say("==== Demo report (%s)" % run)
    say("History (tavrelpkg history, newest first):")
    code, out, err = demo_run.run_tool(bin_dir, "tavrelpkg", "history", app)
    for line in (out or err).splitlines():
        say("  " + line.replace("\t", " | "))
    say("Application level: %s   agent level: %s" % (
        demo_run.read_level(os.path.join(app, "TAVRELUPD.VER"), "?"),
        demo_run.read_level(os.path.join(agent, "TAVRELUPD.VER"), "?")))
    say("Checks:")
    for name, passed, detail in checks.results:
        say("  %-4s %s%s" % ("ok" if passed else "FAIL", name,
                             ("  (%s)" % detail) if detail and not passed else ""))
    say("LOG.TXT, newest first:")
    for line in demo_run.log_lines(agent)[:12]:
        say("  " + line)
    say("Screenshots: " + (", ".join(shots.paths) if shots.paths else "none taken"))
    say("Times:")
    for name, seconds in timings:
        say("  %-34s %6.1f s" % (name, seconds))
    if chain is not None:
        total = 0.0
        for name, seconds in chain.phases():
            timers = demo_run.TIMER_SECONDS[name]
            total += seconds
            say("  %-34s %6.1f s  (timers %3d s, work and start-up %5.1f s)" % (
                name, seconds, timers, seconds - timers))
        timers = sum(demo_run.TIMER_SECONDS.values())
        say("  %-34s %6.1f s  (timers %3d s, %.1f s more; allowed %d s more)" % (
            "agent chain in all", total, timers, total - timers, BUDGET_SECONDS))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--run-dir", default="demo-run")
    options = parser.parse_args()
    bin_dir = os.path.abspath(os.path.join(options.build, "bin"))
    run = os.path.abspath(options.run_dir)
    checks = demo_run.Checks()
    timings = [("demo content", make_run_folder(bin_dir, run))]
    say("Demo content made in %s" % run)
    shots = Screenshots(bin_dir, os.path.join(run, "screenshots"))
    started = time.monotonic()
    server = demo_run.FtpServer(os.path.join(run, "server"), os.path.join(run, "ftp-server.log"))
    timings.append(("update server start", time.monotonic() - started))
    say("Update server on ftp://%s (user kestmoor)" % server.host())
    chain = None
    try:
        chain = run_chain(bin_dir, run, server, shots, checks)
        if chain is not None and not checks.failed():
            demo_run.check_updated(bin_dir, run, checks, after_failing_package=False)
            started = time.monotonic()
            say("tavrelpkg install %s (must fail in stage 3 and roll back)" %
                os.path.join(run, "packages", "TAVREL0103.ZIP"))
            demo_run.install_failing_package(bin_dir, run, checks)
            timings.append(("tavrelpkg install TAVREL0103", time.monotonic() - started))
            items = demo_run.history_items(bin_dir, os.path.join(run, "app"))
            checks.check("history: TAVREL0103 failed",
                         demo_run.has_item(items, "TAVREL0103", "TAVREL0103", "Failed"))
            main_window_shot(bin_dir, run, shots)
        elif chain is None:
            # What can be shown without the agent: the content as the tools see it.
            app = os.path.join(run, "app")
            code, _, _ = demo_run.run_tool(bin_dir, "tavrelpkg", "checksums", "verify",
                                           os.path.join(app, "TABLEDET.DBF"))
            checks.check("TABLEDET CHECK_SUM1 verify (content as made)", code == 0)
    finally:
        server.stop()
    report(bin_dir, run, chain, timings, checks, shots)
    failed = checks.failed()
    say("")
    say("Demo %s: %d checks, %d failed." % ("PASSED" if not failed else "FAILED",
                                             len(checks.results), len(failed)))
    return 0 if not failed else 1


if __name__ == "__main__":
    sys.exit(main())
