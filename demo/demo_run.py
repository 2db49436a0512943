"""Running the demo chain: the local update server, the agent's configuration,
the scheduled start of the agent, watching the chain to its end, and the
checks of the state it leaves. Used by scripts/demo.sh (through run_demo.py)
and by the end-to-end tests.
"""
import datetime
import fcntl
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
FTP_SERVER = os.path.join(REPO, "components", "ftpclient", "tests", "ftp_test_server.py")
PYTHON = "/usr/bin/python3"
AGENT_PROGRAM = "TavrelUpdate1.exe"
INSTALLER_PROGRAM = "TAVRELUPDATE.EXE"
# The agent's files: what the agent folder holds and what the newer agent
# version on the server brings (each needs a current file beside it, which
# the installer backs up).
AGENT_FILES = (AGENT_PROGRAM, "KES01.DLL", "KES04.DLL")
FINAL_LOG_LINE = "ScheduleTask Finished - Update Process has been Completed for Today"
# First ticks of the main window (10 s) and the update window (15 s), the
# installer's two 5 s ticks, and the update window's closing tick a minute
# after the session started, which ends the scheduled run.
TIMER_SECONDS = {"agent UPDATE0001": 10 + 15, "installer": 5 + 5,
                 "agent UPDATE0002": 10 + 15 + 60}


class FtpServer:
    """The update server: pyftpdlib on 127.0.0.1, a free port, the account."""

    def __init__(self, root, log_path, refuse_login=False):
        self.port_file = log_path + ".port"
        if os.path.exists(self.port_file):
            os.remove(self.port_file)
        args = [PYTHON, FTP_SERVER, "--root", root, "--port-file", self.port_file]
        if refuse_login:
            args.append("--refuse-login")
        self.log_path = log_path
        self.log = open(log_path, "w")
        self.process = subprocess.Popen(args, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("the FTP server did not start; see " + log_path)
            time.sleep(0.05)
        with open(self.port_file) as f:
            self.port = int(f.read())

    def host(self):
        return "127.0.0.1:%d" % self.port

    def logins(self):
        """How many logins the server accepted so far."""
        with open(self.log_path, errors="replace") as f:
            return f.read().count("logged in")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def write_configuration(agent, app, host):
    """TavrelUPDATE.INI: the application folder, the server, automatic updates on."""
    with open(os.path.join(agent, "TavrelUPDATE.INI"), "w") as f:
        f.write("[General]\r\nHideInTray=False\r\n"
                "[Updates]\r\nFtpHost=%s\r\nUpdateFlag=True\r\nTraceFile=True\r\n"
                "[TavrelPath]\r\nMainPath=%s\r\n" % (host, app))


def read_configuration(agent, key):
    """The value of a key of the agent's configuration, or None (first match)."""
    path = os.path.join(agent, "TavrelUPDATE.INI")
    if not os.path.exists(path):
        return None
    with open(path, errors="replace") as f:
        for line in f:
            name, sep, value = line.partition("=")
            if sep and name.strip().upper() == key.upper():
                return value.strip()
    return None


def schedule_switches(now):
    """The switches of a scheduled task whose window holds `now`, or None.

    The start must be strictly earlier than the time of day and the restarted
    agent gets S, F and U back (not N), so whole hours are used: the start at
    the current hour (the hour before at minute 00), the finish two hours on
    ("25:00" still compares greater than "23:59"). An hour below 1 is ignored,
    so from 00:00 to 01:00 no such window exists.
    """
    hour = now.hour if now.minute >= 1 else now.hour - 1
    if hour < 1:
        return None
    return "/S%d/F%d/U" % (hour, hour + 2)


def seconds_until_a_window_exists(now):
    """0, or how long to wait until schedule_switches has an answer."""
    if schedule_switches(now) is not None:
        return 0
    target = now.replace(hour=1, minute=1, second=5, microsecond=0)
    return max(0, (target - now).total_seconds())


def processes_in(folder):
    """Pids of the processes whose current folder is `folder`: the agent and
    its installer run there, started by the demo or by each other."""
    folder = os.path.realpath(folder)
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            if os.path.realpath(os.readlink("/proc/%s/cwd" % entry)) == folder:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    words = [os.path.basename(w.decode(errors="replace"))
                             for w in f.read().split(b"\0")[:2]]
                # A program started through an interpreter names itself second.
                known = [w for w in words if w in (AGENT_PROGRAM, INSTALLER_PROGRAM)]
                found.append((int(entry), known[0] if known else words[0]))
        except OSError:
            continue
    return found


def stop_processes_in(folder):
    """Ends what still runs in `folder` (only processes of this run)."""
    for pid, _ in processes_in(folder):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    deadline = time.monotonic() + 10
    while processes_in(folder) and time.monotonic() < deadline:
        time.sleep(0.1)


def start_agent(agent, switches, env, log):
    """Starts the agent in its folder as a scheduled task would."""
    args = [os.path.join(agent, AGENT_PROGRAM)] + ([switches] if switches else [])
    return subprocess.Popen(args, cwd=agent, env=env, stdout=log, stderr=subprocess.STDOUT,
                            start_new_session=True)


def read_level(path, default=""):
    try:
        with open(path, errors="replace") as f:
            return f.read(10)
    except OSError:
        return default


def read_bytes(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def log_lines(agent):
    """LOG.TXT lines, newest first (as the agent writes them)."""
    try:
        with open(os.path.join(agent, "LOG.TXT"), errors="replace") as f:
            return [line.rstrip("\r\n") for line in f]
    except OSError:
        return []


class LockHolder:
    """The business application's side of TAVRELUPD.LCK: an exclusive lock
    held on the open file, as the agent takes it."""

    def __init__(self, app):
        self.file = open(os.path.join(app, "TAVRELUPD.LCK"), "a+b")
        fcntl.flock(self.file.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)

    def release(self):
        fcntl.flock(self.file.fileno(), fcntl.LOCK_UN)
        self.file.close()


class Chain:
    """Watches one run of the chain: agent, installer, new agent.

    Phases end at what can be seen from outside: the first agent's exit, the
    installer writing its result and the new agent starting, the new agent's
    exit. `on_conversion` is called once while a table conversion is under
    way (its new tables exist in TABLENEW).
    """

    def __init__(self, run, env, switches):
        self.run = run
        self.agent = os.path.join(run, "agent")
        self.app = os.path.join(run, "app")
        self.env = env
        self.switches = switches
        self.events = []
        self.output = open(os.path.join(run, "agent-output.txt"), "a")

    def mark(self, name):
        self.events.append((name, time.monotonic()))

    def conversion_running(self):
        return (read_level(os.path.join(self.app, "TAVRELUPD.VER")) == "TAVREL0100" and
                os.path.exists(os.path.join(self.app, "DATA00", "TABLES", "TABLENEW",
                                            "CUSTOMER.DBF")))

    def start(self):
        self.mark("start")
        return start_agent(self.agent, self.switches, self.env, self.output)

    def watch(self, first, limit_seconds=420, on_conversion=None, stop_at_conversion=False):
        """Follows the chain until nothing runs in the agent folder. True when
        it ended by itself in time; with stop_at_conversion, True as soon as a
        conversion was seen (the caller then kills the agent)."""
        deadline = time.monotonic() + limit_seconds
        first_done = installer_seen = second_seen = conversion_seen = False
        while time.monotonic() < deadline:
            running = processes_in(self.agent)
            names = [name for _, name in running]
            if not first_done and first is not None and first.poll() is not None:
                first_done = True
                self.mark("agent UPDATE0001 ended")
            if INSTALLER_PROGRAM in names and not installer_seen:
                installer_seen = True
                self.mark("installer started")
            if (installer_seen and not second_seen and AGENT_PROGRAM in names and
                    INSTALLER_PROGRAM not in names):
                second_seen = True
                self.mark("agent UPDATE0002 started")
            if not conversion_seen and self.conversion_running():
                conversion_seen = True
                self.mark("table conversion seen")
                if on_conversion:
                    on_conversion()
                if stop_at_conversion:
                    return True
            if not running and (first is None or first_done):
                self.mark("chain ended")
                return True
            time.sleep(0.1)
        self.mark("time limit")
        return False

    def phases(self):
        """(phase, seconds taken) from the marks that were seen."""
        times = dict(self.events)
        spans = [("agent UPDATE0001", "start", "agent UPDATE0001 ended"),
                 ("installer", "agent UPDATE0001 ended", "agent UPDATE0002 started"),
                 ("agent UPDATE0002", "agent UPDATE0002 started", "chain ended")]
        return [(name, times[b] - times[a]) for name, a, b in spans if a in times and b in times]


def run_tool(bin_dir, program, *args, timeout=120):
    done = subprocess.run([os.path.join(bin_dir, program)] + list(args), capture_output=True,
                          text=True, errors="replace", timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def history_items(bin_dir, app):
    """The history list as tavrelpkg prints it: lists of column texts."""
    code, out, _ = run_tool(bin_dir, "tavrelpkg", "history", app)
    return [line.split("\t") for line in out.splitlines()] if code == 0 else []


def converted_tables(app):
    return [os.path.join(app, folder, "TABLES", name)
            for folder in ("DATA00", "DATA01") for name in ("CUSTOMER", "ORDERS")]


class Checks:
    """A list of named checks, each passed or failed with its detail."""

    def __init__(self):
        self.results = []

    def check(self, name, passed, detail=""):
        self.results.append((name, bool(passed), detail))
        return passed

    def failed(self):
        return [r for r in self.results if not r[1]]


def has_item(items, key, archive, result):
    return any(len(i) >= 5 and i[0].strip() == key and i[1].strip() == archive and
               i[4] == result for i in items)


def check_updated(bin_dir, run, checks, after_failing_package):
    """The state the chain must leave: agent and application levels, files,
    converted tables with valid checksums, history, LOG.TXT, configuration."""
    agent, app = os.path.join(run, "agent"), os.path.join(run, "app")
    checks.check("agent level UPDATE0002", read_level(os.path.join(agent, "TAVRELUPD.VER")) ==
                 "UPDATE0002", read_level(os.path.join(agent, "TAVRELUPD.VER")))
    level = read_level(os.path.join(app, "TAVRELUPD.VER"))
    checks.check("application level TAVREL0102", level == "TAVREL0102", level)
    program = read_bytes(os.path.join(app, "TAVREL32.EXE"))
    checks.check("TAVREL32.EXE of TAVREL0102", b"level TAVREL0102" in program,
                 program[:70].decode(errors="replace").strip())
    checks.check("new file in a sub-folder", os.path.isfile(os.path.join(app, "REPORTS",
                                                                          "MONTHLY.RPT")))
    checks.check("TAVREL0099 passed over",
                 not os.path.exists(os.path.join(app, "UPDATE", "TAVREL0099")))
    for table in converted_tables(app):
        code, out, err = run_tool(bin_dir, "xbtool", "check", table)
        short = os.path.relpath(table, app)
        checks.check("xbtool check " + short, code == 0, (out + err).strip())
        code, out, err = run_tool(bin_dir, "tavrelpkg", "checksums", "verify", table + ".DBF")
        checks.check("CHECK_SUM verify " + short, code == 0, (out + err).strip())
    for folder in ("DATA00", "DATA01"):
        code, out, _ = run_tool(bin_dir, "xbtool", "info", os.path.join(app, folder, "TABLES",
                                                                        "CUSTOMER"))
        checks.check("CUSTOMER of %s in the new structure" % folder,
                     code == 0 and "Records:       20000" in out and "PHONE" in out and
                     "NAME       C    60" in out and "Tags:          4" in out)
    code, out, err = run_tool(bin_dir, "tavrelpkg", "checksums", "verify",
                              os.path.join(app, "TABLEDET.DBF"))
    checks.check("TABLEDET CHECK_SUM1 verify", code == 0, (out + err).strip())
    code, out, _ = run_tool(bin_dir, "xbtool", "dump", os.path.join(app, "TABLEDET"))
    checks.check("TABLEDET holds CUSTOMER and ORDERS of 0101",
                 code == 0 and out.count('"VERSIONID":"0101"') == 2, "")
    items = history_items(bin_dir, app)
    checks.check("history: agent UPDATE0002 completed",
                 has_item(items, "UPDATE0002", "", "Completed"))
    checks.check("history: TBLUPD0101 completed",
                 has_item(items, "TAVREL0101", "TBLUPD0101", "Completed"))
    checks.check("history: TAVREL0101 completed",
                 has_item(items, "TAVREL0101", "TAVREL0101", "Completed"))
    checks.check("history: TAVREL0102 completed",
                 has_item(items, "TAVREL0102", "TAVREL0102", "Completed"))
    if after_failing_package:
        checks.check("history: TAVREL0103 failed",
                     has_item(items, "TAVREL0103", "TAVREL0103", "Failed") and
                     any(i[0].strip() == "TAVREL0103" and i[-1] == "FAILED" for i in items))
    # LOG.TXT is newest first; the last run's lines end at its "Started".
    last_run = []
    for line in log_lines(agent):
        if line[25:] == "Started":
            break
        last_run.append(line)
    checks.check("LOG.TXT: the scheduled run completed",
                 any(FINAL_LOG_LINE in line for line in last_run),
                 " / ".join(last_run[:4]) if last_run else "no LOG.TXT")
    today = datetime.date.today().strftime("%Y%m%d")
    checks.check("day recorded ([Updates] UpdateLast)",
                 read_configuration(agent, "UpdateLast") == today,
                 str(read_configuration(agent, "UpdateLast")))
    return checks


def install_failing_package(bin_dir, run, checks):
    """tavrelpkg install of TAVREL0103.ZIP: stage 3 fails, everything rolled back."""
    app = os.path.join(run, "app")
    before = read_bytes(os.path.join(app, "TAVREL32.EXE"))
    code, out, err = run_tool(bin_dir, "tavrelpkg", "install", app,
                              os.path.join(run, "packages", "TAVREL0103.ZIP"), timeout=300)
    with open(os.path.join(run, "tavrelpkg-install-0103.txt"), "w") as f:
        f.write(out + err)
    checks.check("tavrelpkg install TAVREL0103.ZIP fails (exit 1)", code == 1,
                 "exit %d" % code)
    checks.check("stage 3 failed", "FAILED TO INSTALL UPDATED FILES" in out + err)
    checks.check("level stays TAVREL0102",
                 read_level(os.path.join(app, "TAVRELUPD.VER")) == "TAVREL0102")
    checks.check("TAVREL32.EXE rolled back",
                 read_bytes(os.path.join(app, "TAVREL32.EXE")) == before)
    checks.check("REPORTS still a folder with MONTHLY.RPT",
                 os.path.isfile(os.path.join(app, "REPORTS", "MONTHLY.RPT")))
    return code


def agent_environment(display, runtime_folder=None):
    """The agent's environment: a real display (DISPLAY set, xcb) or offscreen.

    The agent allows one instance per user through a lock in the runtime
    folder; runs side by side (the tests) each give their own folder.
    """
    env = dict(os.environ)
    if runtime_folder:
        os.makedirs(runtime_folder, mode=0o700, exist_ok=True)
        env["XDG_RUNTIME_DIR"] = runtime_folder
    if display:
        env["QT_QPA_PLATFORM"] = "xcb"
    else:
        env["QT_QPA_PLATFORM"] = "offscreen"
    return env


def agent_missing(bin_dir):
    """A message when the agent program has not been built, else None."""
    if not os.path.isfile(os.path.join(bin_dir, AGENT_PROGRAM)):
        return "agent program not built yet (%s missing)" % os.path.join(bin_dir, AGENT_PROGRAM)
    return None


def print_flush(*args):
    print(*args)
    sys.stdout.flush()
