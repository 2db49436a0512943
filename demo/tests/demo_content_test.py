"""Tests of the demo content: what the chain and the tests start from.

Run with /usr/bin/python3 (dbfread); TAVREL_BIN_DIR names the build's bin
folder (xbtool, tavrelpkg, KES01.DLL, KES04.DLL).
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

import dbfread

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import demo_content  # noqa: E402

BIN = os.environ.get("TAVREL_BIN_DIR", "")
TIMEOUT = 120


def run(program, *args):
    return subprocess.run([os.path.join(BIN, program)] + list(args), capture_output=True,
                          text=True, timeout=TIMEOUT)


def read_text(path):
    with open(path) as f:
        return f.read()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def tree_digest(top):
    """Path -> SHA-1 of every file below top."""
    digests = {}
    for folder, _, files in os.walk(top):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                digests[os.path.relpath(path, top)] = hashlib.sha1(f.read()).hexdigest()
    return digests


class DemoContentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.mkdtemp(prefix="demo-content-")
        cls.out = os.path.join(cls.temp, "run")
        # Two stand-in agent files; the real agent's files are passed the same way.
        cls.agent_files = [os.path.join(BIN, "KES01.DLL"), os.path.join(BIN, "KES04.DLL")]
        demo_content.make_content(BIN, cls.out, cls.agent_files)
        cls.app = os.path.join(cls.out, "app")
        cls.root = os.path.join(cls.out, "server", demo_content.BASE_FOLDER)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.temp)

    def entries(self, path):
        with zipfile.ZipFile(path) as archive:
            self.assertIsNone(archive.testzip())
            return [info.filename for info in archive.infolist()]

    def test_every_table_passes_the_checks_of_the_engine(self):
        tables = ["TABLEUPL", "TABLEDES", "TABLEDET"] + [
            os.path.join(f, "TABLES", "CUSTOMER") for f in demo_content.DATA_FOLDERS]
        for table in tables:
            done = run("xbtool", "check", os.path.join(self.app, table))
            self.assertEqual(done.returncode, 0, table + ": " + done.stdout + done.stderr)
        customer = run("xbtool", "check", os.path.join(self.app, "DATA01", "TABLES", "CUSTOMER"))
        self.assertIn("20000 records, 15000 memos, 3 tags", customer.stdout)

    def test_checksums_verify_and_a_changed_record_is_caught(self):
        for table in ["TABLEDET"] + [os.path.join(f, "TABLES", "CUSTOMER")
                                     for f in demo_content.DATA_FOLDERS]:
            done = run("tavrelpkg", "checksums", "verify", os.path.join(self.app, table + ".DBF"))
            self.assertEqual(done.returncode, 0, table + ": " + done.stdout + done.stderr)
        # A byte changed behind the checksum's back must be found.
        spoilt = os.path.join(self.temp, "spoilt")
        shutil.copytree(os.path.join(self.app, "DATA00", "TABLES"), spoilt)
        dbf = os.path.join(spoilt, "CUSTOMER.DBF")
        data = bytearray(read_bytes(dbf))
        header = int.from_bytes(data[8:10], "little")
        width = int.from_bytes(data[10:12], "little")
        data[header + 7 * width + 1 + 40] ^= 0x01  # the CODE of record 8
        with open(dbf, "wb") as f:
            f.write(bytes(data))
        done = run("tavrelpkg", "checksums", "verify", dbf)
        self.assertEqual(done.returncode, 1)
        self.assertIn("mismatch at record 8", done.stdout + done.stderr)

    def test_an_independent_reader_sees_the_customers(self):
        path = os.path.join(self.app, "DATA01", "TABLES", "CUSTOMER.DBF")
        table = dbfread.DBF(path, char_decode_errors="strict")
        names = [f.name for f in table.fields]
        self.assertEqual(names, ["CHECK_SUM", "CODE", "NAME", "BALANCE", "OPENED", "ACTIVE",
                                 "NOTES"])
        records = list(table)
        self.assertEqual(len(records), demo_content.CUSTOMER_RECORDS)
        self.assertEqual(records[0]["CODE"], "C00001")
        self.assertEqual(records[19999]["NAME"], "Customer 20000 of folder 01")
        self.assertFalse(records[3]["NOTES"])  # no memo block: None or ""
        self.assertTrue(records[4]["NOTES"].startswith("Customer 00005: account notes"))
        self.assertEqual(len(set(r["CODE"] for r in records)), len(records))
        self.assertTrue(all(len(r["CHECK_SUM"]) == 40 for r in records))

    def test_descriptors_describe_the_installed_tables(self):
        det = list(dbfread.DBF(os.path.join(self.app, "TABLEDET.DBF")))
        des = list(dbfread.DBF(os.path.join(self.app, "TABLEDES.DBF")))
        self.assertEqual([r["TBL_NAME"] for r in det], ["CUSTOMER"])
        self.assertEqual(det[0]["FIELDARRAY"], des[0]["FIELDARRAY"])
        self.assertEqual(det[0]["TBL_PATH"], "LICTBL")
        self.assertEqual(det[0]["ENABLED"], "4")
        fields = [line.split("^^")[1] for line in det[0]["FIELDARRAY"].split("\r\n")]
        customer = dbfread.DBF(os.path.join(self.app, "DATA00", "TABLES", "CUSTOMER.DBF"))
        self.assertEqual(fields, [f.name for f in customer.fields])
        done = run("tavrelpkg", "scan", self.app)
        self.assertEqual(done.stdout.strip(), "no table needs converting")

    def test_the_table_update_changes_customer_and_adds_orders(self):
        work = os.path.join(self.temp, "scan")
        shutil.copytree(self.app, work)
        with zipfile.ZipFile(os.path.join(self.root, "UPDATE2", "UPDATES",
                                          "TAVREL0101.ZIP")) as package:
            package.extract("TBLUPD0101.ZIP", work)
        with zipfile.ZipFile(os.path.join(work, "TBLUPD0101.ZIP")) as update:
            self.assertEqual(sorted(update.namelist()),
                             ["TABLEDES.CDX", "TABLEDES.DBF", "TABLEDES.FPT"])
            update.extractall(work)
        self.assertEqual(run("xbtool", "check", os.path.join(work, "TABLEDES")).returncode, 0)
        done = run("tavrelpkg", "scan", work)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(done.stdout.split("\n")[:-1]),
                         ["DATA00\tCUSTOMER\tchanged", "DATA00\tORDERS\tnew",
                          "DATA01\tCUSTOMER\tchanged", "DATA01\tORDERS\tnew"])
        rows = {r["TBL_NAME"]: r for r in dbfread.DBF(os.path.join(work, "TABLEDES.DBF"))}
        self.assertIn("0^^NAME^^C^^60^^0", rows["CUSTOMER"]["FIELDARRAY"])
        self.assertIn("0^^PHONE^^C^^20^^0", rows["CUSTOMER"]["FIELDARRAY"])
        self.assertIn("^^OPENED^^^^A^^DTOS(OPENED)^^", rows["CUSTOMER"]["TAGARRAY"])

    def test_server_layout_and_packages(self):
        updates = os.path.join(self.root, "UPDATE2", "UPDATES")
        self.assertEqual(sorted(os.listdir(updates)),
                         ["TAVREL0099.ZIP", "TAVREL0101.ZIP", "TAVREL0102.ZIP"])
        self.assertEqual(self.entries(os.path.join(updates, "TAVREL0101.ZIP")),
                         ["TAVREL32.EXE", "TAVRELRPT.DLL", "REPORTS/MONTHLY.RPT",
                          "TBLUPD0101.ZIP"])
        self.assertEqual(self.entries(os.path.join(updates, "TAVREL0102.ZIP")),
                         ["TAVREL32.EXE", "TAVRELRPT.DLL"])
        self.assertEqual(self.entries(os.path.join(updates, "TAVREL0099.ZIP")), ["TAVREL32.EXE"])
        # The failing package lies beside the server, not on it; its second
        # entry lands where TAVREL0101 makes a folder.
        failing = os.path.join(self.out, "packages", "TAVREL0103.ZIP")
        self.assertEqual(self.entries(failing), ["TAVREL32.EXE", "REPORTS"])
        agent = os.path.join(self.root, "UPDATE0", "UPDATES")
        self.assertEqual(sorted(os.listdir(agent)), ["KES01.DLL", "KES04.DLL", "UPDATE.VER"])
        self.assertEqual(read_text(os.path.join(agent, "UPDATE.VER")), "UPDATE0002")
        self.assertEqual(read_text(os.path.join(self.root, "UPDATE0", "SETUPS", "UPDATE.VER")),
                         "UPDATE0001")
        for test_folder in ("UPDTST0/SETUPS", "UPDTST0/UPDATES", "UPDTST2/UPDATES"):
            self.assertTrue(os.path.isdir(os.path.join(self.root, test_folder)))

    def test_application_and_agent_folders(self):
        self.assertEqual(read_text(os.path.join(self.app, "TAVRELUPD.VER")), "TAVREL0100")
        self.assertIn(b"level TAVREL0100", read_bytes(os.path.join(self.app, "TAVREL32.EXE")))
        agent = os.path.join(self.out, "agent")
        self.assertEqual(read_text(os.path.join(agent, "TAVRELUPD.VER")), "UPDATE0001")
        # Every file of the new agent version has a current one beside it, which
        # the installer needs for its backup.
        for path in self.agent_files:
            self.assertTrue(os.path.isfile(os.path.join(agent, os.path.basename(path))))
        history = run("tavrelpkg", "history", self.app)
        self.assertEqual(history.returncode, 0, history.stderr)
        self.assertTrue(history.stdout.startswith("TAVREL0100\t"))
        self.assertNotIn("FAILED", history.stdout)

    def test_a_second_run_makes_the_same_bytes_and_refuses_an_existing_folder(self):
        again = os.path.join(self.temp, "again")
        demo_content.make_content(BIN, again, self.agent_files)
        self.assertEqual(tree_digest(again), tree_digest(self.out))
        with self.assertRaises(RuntimeError):
            demo_content.make_content(BIN, again, self.agent_files)


if __name__ == "__main__":
    unittest.main()
