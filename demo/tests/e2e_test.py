"""End-to-end runs of the built agent over the demo content.

    /usr/bin/python3 e2e_test.py CASE WORK_DIR      (TAVREL_BIN_DIR: the build's bin)

CASE is one of:
  chain             the whole chain (new agent version, installer, 0101 with the
                    table conversion, 0102), then tavrelpkg install of the failing
                    TAVREL0103.ZIP; every check of the demo must pass
  refused_login     the server refuses the account: nothing changes, the day is
                    not recorded, LOG.TXT says why
  locked            the business application holds TAVRELUPD.LCK: no run, no
                    connection, no message; the agent waits for the next tick
  killed_conversion the agent is killed during the table conversion and started
                    again: the application folder is restored, then updated
  check_now         the agent already at UPDATE0002, started with "/N/U": it
                    checks at once, installs 0101 (with the conversion) and 0102,
                    writes the history and LOG.TXT, and ends by itself
Exit 0 passed, 1 failed, 77 skipped (from 00:00 to 01:00 no scheduled window
can hold the time of day).
"""
import datetime
import hashlib
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import demo_content  # noqa: E402
import demo_run  # noqa: E402

BIN = os.environ.get("TAVREL_BIN_DIR", "")
SKIP = 77


def tree_digest(top, leave_out=("TAVRELUPD.LCK",)):
    digests = {}
    for folder, _, files in os.walk(top):
        for name in files:
            if name in leave_out:
                continue
            path = os.path.join(folder, name)
            digests[os.path.relpath(path, top)] = hashlib.sha1(
                demo_run.read_bytes(path)).hexdigest()
    return digests


def message_of(line):
    """The message of a LOG.TXT line, after its "ddd dd mmm yyyy Hh:Nn:Ss " stamp."""
    return line[25:]


def start_up_line(message):
    return (message in ("Started", "Tavrel Update - Loaded and Started") or
            message.startswith("ScheduleTask Started - "))


class Case:
    """One run folder with content, server and configuration."""

    def __init__(self, work, refuse_login=False):
        if os.path.exists(work):
            demo_run.stop_processes_in(os.path.join(work, "agent"))
            shutil.rmtree(work)
        self.work = work
        demo_content.make_content(BIN, work,
                                  [os.path.join(BIN, f) for f in demo_run.AGENT_FILES],
                                  os.path.join(BIN, demo_run.INSTALLER_PROGRAM))
        self.agent = os.path.join(work, "agent")
        self.app = os.path.join(work, "app")
        self.server = demo_run.FtpServer(os.path.join(work, "server"),
                                         os.path.join(work, "ftp-server.log"), refuse_login)
        demo_run.write_configuration(self.agent, self.app, self.server.host())
        self.switches = demo_run.schedule_switches(datetime.datetime.now())
        self.checks = demo_run.Checks()

    def chain(self):
        return demo_run.Chain(self.work, demo_run.agent_environment(
            False, os.path.join(self.work, "runtime")), self.switches)

    def wait_for(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(0.2)
        return condition()

    def close(self):
        demo_run.stop_processes_in(self.agent)
        self.server.stop()


def case_chain(case):
    chain = case.chain()
    ended = chain.watch(chain.start())
    case.checks.check("chain ended by itself in time", ended)
    if ended:
        demo_run.install_failing_package(BIN, case.work, case.checks)
        demo_run.check_updated(BIN, case.work, case.checks, after_failing_package=True)
    for name, seconds in chain.phases():
        print("phase %-20s %6.1f s (timers %d s)" % (name, seconds, demo_run.TIMER_SECONDS[name]))


def not_updated(case, before):
    """Nothing of the application or the agent changed; the day not recorded."""
    case.checks.check("application folder unchanged", tree_digest(case.app) == before)
    case.checks.check("application level TAVREL0100", demo_run.read_level(
        os.path.join(case.app, "TAVRELUPD.VER")) == "TAVREL0100")
    case.checks.check("agent level UPDATE0001", demo_run.read_level(
        os.path.join(case.agent, "TAVRELUPD.VER")) == "UPDATE0001")
    case.checks.check("day not recorded", demo_run.read_configuration(
        case.agent, "UpdateLast") is None, str(demo_run.read_configuration(case.agent,
                                                                          "UpdateLast")))


def case_refused_login(case):
    before = tree_digest(case.app)
    chain = case.chain()
    chain.start()
    # The update window's first tick connects 25 s after the start.
    says_why = lambda: any(  # noqa: E731
        "No connection to the Update Server: Ftp Error" in line
        for line in demo_run.log_lines(case.agent))
    case.checks.check("LOG.TXT says why", case.wait_for(says_why, 90),
                      " / ".join(demo_run.log_lines(case.agent)[:5]))
    case.checks.check("no login accepted", case.server.logins() == 0)
    case.checks.check("the agent waits for its retry", bool(demo_run.processes_in(case.agent)))
    demo_run.stop_processes_in(case.agent)
    not_updated(case, before)


def case_locked(case):
    holder = demo_run.LockHolder(case.app)
    try:
        before = tree_digest(case.app)
        chain = case.chain()
        process = chain.start()
        # The main window's first tick (10 s) finds the lock taken; had it run,
        # the update window would have connected at 25 s.
        started = case.wait_for(lambda: any("Loaded and Started" in line
                                            for line in demo_run.log_lines(case.agent)), 30)
        case.checks.check("the agent started", started)
        time.sleep(35)
        case.checks.check("no connection to the server", case.server.logins() == 0)
        case.checks.check("the agent still runs, showing nothing", process.poll() is None)
        unexpected = [line for line in demo_run.log_lines(case.agent)
                      if not start_up_line(message_of(line))]
        case.checks.check("LOG.TXT holds only the start-up lines", not unexpected,
                          " / ".join(unexpected))
        demo_run.stop_processes_in(case.agent)
        not_updated(case, before)
    finally:
        holder.release()


def case_killed_conversion(case):
    chain = case.chain()
    seen = chain.watch(chain.start(), stop_at_conversion=True)
    case.checks.check("table conversion seen", seen)
    demo_run.stop_processes_in(case.agent)
    case.checks.check("killed before TAVREL0101 was installed", demo_run.read_level(
        os.path.join(case.app, "TAVRELUPD.VER")) == "TAVREL0100")
    if not seen:
        return
    again = case.chain()
    ended = again.watch(again.start())
    case.checks.check("the restarted agent ended by itself", ended)
    demo_run.check_updated(BIN, case.work, case.checks, after_failing_package=False)
    leftovers = [os.path.join(folder, "TABLES", "TABLENEW", "CUSTOMER.DBF")
                 for folder in demo_content.DATA_FOLDERS]
    case.checks.check("no new table left behind",
                      not any(os.path.exists(os.path.join(case.app, p)) for p in leftovers))


def case_check_now(case):
    with open(os.path.join(case.agent, "TAVRELUPD.VER"), "w") as f:
        f.write("UPDATE0002")
    chain = demo_run.Chain(case.work, demo_run.agent_environment(
        False, os.path.join(case.work, "runtime")), "/N/U")
    first = chain.start()
    ended = chain.watch(first, limit_seconds=240)
    case.checks.check("the agent ended by itself", ended)
    case.checks.check("no installer started", not any(
        name == "installer started" for name, _ in chain.events))
    # The same end state as the chain, less what only a scheduled run writes.
    full = demo_run.Checks()
    demo_run.check_updated(BIN, case.work, full, after_failing_package=False)
    for name, passed, detail in full.results:
        if name not in ("LOG.TXT: the scheduled run completed",
                        "history: agent UPDATE0002 completed"):
            case.checks.check(name, passed, detail)
    lines = [message_of(line) for line in demo_run.log_lines(case.agent)]
    case.checks.check("LOG.TXT: the run unloaded the agent",
                      "TavrelUpdate1 - Unloaded" in lines and
                      not any("FinishTime has already been passed" in m for m in lines),
                      " / ".join(lines[:6]))


CASES = {"chain": (case_chain, False), "refused_login": (case_refused_login, True),
         "locked": (case_locked, False), "killed_conversion": (case_killed_conversion, False),
         "check_now": (case_check_now, False)}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in CASES:
        print(__doc__)
        return 2
    missing = demo_run.agent_missing(BIN)
    if missing:
        print(missing)
        return 1
    if demo_run.schedule_switches(datetime.datetime.now()) is None:
        print("skipped: from 00:00 to 01:00 no scheduled window can hold the time of day")
        return SKIP
    function, refuse = CASES[sys.argv[1]]
    case = Case(os.path.abspath(sys.argv[2]), refuse_login=refuse)
    try:
        function(case)
    finally:
        case.close()
    for name, passed, detail in case.checks.results:
        print("%-4s %s%s" % ("ok" if passed else "FAIL", name,
                             ("  (%s)" % detail) if detail and not passed else ""))
    failed = case.checks.failed()
    print("%d checks, %d failed; run folder %s" % (len(case.checks.results), len(failed),
                                                   case.work))
    return 0 if case.checks.results and not failed else 1


if __name__ == "__main__":
    sys.exit(main())
