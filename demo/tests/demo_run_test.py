"""Tests of the demo's run machinery that need no agent: the scheduled
task's switches, the update server with the account, the lock holder, and
that the final checks fail on content that was never updated.
"""
import datetime
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import demo_content  # noqa: E402
import demo_run  # noqa: E402

BIN = os.environ.get("TAVREL_BIN_DIR", "")


def hhnn(moment):
    return moment.strftime("%H:%M")


def window_of(switches):
    """Start and finish as the agent derives them from /Sh/Fh (whole hours)."""
    pieces = [p for p in switches.split("/") if p]
    start = "%02d:00" % int(pieces[0][1:])
    finish = "%02d:00" % int(pieces[1][1:])
    return start, finish


class ScheduleSwitchesTest(unittest.TestCase):
    def test_every_minute_of_the_day_has_a_window_holding_it_or_none_exists(self):
        day = datetime.datetime(2026, 12, 7)
        for minute in range(24 * 60):
            now = day + datetime.timedelta(minutes=minute)
            switches = demo_run.schedule_switches(now)
            if now.hour == 0 or (now.hour == 1 and now.minute == 0):
                self.assertIsNone(switches, hhnn(now))
                self.assertGreater(demo_run.seconds_until_a_window_exists(now), 0)
                continue
            self.assertTrue(switches.endswith("/U"), switches)
            start, finish = window_of(switches)
            # Both this agent and the restarted one, minutes later, are inside.
            for later in (0, 5, 59):
                moment = hhnn(now + datetime.timedelta(minutes=later))
                if moment < hhnn(now):  # past midnight: the demo is over long before
                    continue
                self.assertTrue(start < moment < finish, (switches, moment))
            self.assertEqual(demo_run.seconds_until_a_window_exists(now), 0)

    def test_examples(self):
        at = lambda h, m: datetime.datetime(2026, 12, 7, h, m)  # noqa: E731
        self.assertEqual(demo_run.schedule_switches(at(17, 30)), "/S17/F19/U")
        self.assertEqual(demo_run.schedule_switches(at(17, 0)), "/S16/F18/U")
        self.assertEqual(demo_run.schedule_switches(at(23, 59)), "/S23/F25/U")
        self.assertEqual(demo_run.schedule_switches(at(1, 1)), "/S1/F3/U")
        self.assertIsNone(demo_run.schedule_switches(at(0, 30)))
        self.assertEqual(demo_run.seconds_until_a_window_exists(at(0, 30)), 31 * 60 + 5)


class RunMachineryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="demo-run-")
        cls.run_dir = os.path.join(cls.temp, "run")
        demo_content.make_content(BIN, cls.run_dir, [os.path.join(BIN, "KES01.DLL")])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def curl_list(self, server, password="copperfinch"):
        url = "ftp://%s/httpdocs/download/TAVREL/UPDATE2/UPDATES/" % server.host()
        return subprocess.run(["curl", "-s", "-l", "--max-time", "20", "-u",
                               "kestmoor:" + password, url],
                              capture_output=True, text=True, timeout=30)

    def test_the_server_serves_the_packages_to_the_account_only(self):
        server = demo_run.FtpServer(os.path.join(self.run_dir, "server"),
                                    os.path.join(self.temp, "ftp.log"))
        try:
            listing = self.curl_list(server)
            self.assertEqual(listing.returncode, 0, listing.stderr)
            self.assertEqual(sorted(listing.stdout.split()),
                             ["TAVREL0099.ZIP", "TAVREL0101.ZIP", "TAVREL0102.ZIP"])
            self.assertNotEqual(self.curl_list(server, "wrong").returncode, 0)
            self.assertEqual(server.logins(), 1)
        finally:
            server.stop()

    def test_a_refusing_server_accepts_no_login(self):
        server = demo_run.FtpServer(os.path.join(self.run_dir, "server"),
                                    os.path.join(self.temp, "ftp-refusing.log"),
                                    refuse_login=True)
        try:
            self.assertNotEqual(self.curl_list(server).returncode, 0)
            self.assertEqual(server.logins(), 0)
        finally:
            server.stop()

    def test_the_lock_holder_keeps_every_other_exclusive_open_out(self):
        app = os.path.join(self.run_dir, "app")
        holder = demo_run.LockHolder(app)
        probe = ("import fcntl,sys\nf=open(sys.argv[1],'a+b')\n"
                 "try:\n fcntl.flock(f.fileno(),fcntl.LOCK_EX|fcntl.LOCK_NB)\n"
                 "except OSError:\n sys.exit(3)\n")
        path = os.path.join(app, "TAVRELUPD.LCK")
        try:
            self.assertEqual(subprocess.run([sys.executable, "-c", probe, path],
                                            timeout=30).returncode, 3)
        finally:
            holder.release()
        self.assertEqual(subprocess.run([sys.executable, "-c", probe, path],
                                        timeout=30).returncode, 0)
        with open(path, "a+b") as f:
            fcntl.flock(f.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)

    def test_the_final_checks_fail_on_content_never_updated(self):
        checks = demo_run.check_updated(BIN, self.run_dir, demo_run.Checks(), True)
        failed = {name for name, _, _ in checks.failed()}
        for name in ("application level TAVREL0102", "TAVREL32.EXE of TAVREL0102",
                     "TABLEDET holds CUSTOMER and ORDERS of 0101", "history: TAVREL0102 completed",
                     "history: TAVREL0103 failed", "xbtool check DATA00/TABLES/ORDERS",
                     "LOG.TXT: the scheduled run completed", "CUSTOMER of DATA01 in the new structure"):
            self.assertIn(name, failed)
        # What the content already has passes.
        self.assertNotIn("xbtool check DATA00/TABLES/CUSTOMER", failed)
        self.assertNotIn("TABLEDET CHECK_SUM1 verify", failed)
        self.assertNotIn("TAVREL0099 passed over", failed)


if __name__ == "__main__":
    unittest.main()
