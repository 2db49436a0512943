"""The demo's content: an update server root and an application folder.

Everything is made from this file with the project's own tools (xbtool makes
and fills the tables, tavrelpkg stamps their checksums), so the repository
holds no binary files. The result is the same on every run: record values
come from the record number, table headers and zip entries carry one fixed
date.

Layout made under the output folder:
  server/httpdocs/download/TAVREL/   the update server root (FTP)
  packages/TAVREL0103.ZIP            beside the server: a package that fails
                                     in stage 3
  app/                               the application folder at TAVREL0100
  agent/                             the agent folder at UPDATE0001 (when the
                                     agent's files are given)
"""
import json
import os
import shutil
import struct
import subprocess
import zipfile

BASE_FOLDER = "httpdocs/download/TAVREL"
CUSTOMER_RECORDS = 20000
DATA_FOLDERS = ("DATA00", "DATA01")
# Table headers and zip entries carry this date, not the day of the run.
FIXED_DATE = (2026, 1, 1, 9, 0, 0)
APP_LEVEL = "TAVREL0100"
AGENT_LEVEL = "UPDATE0001"
NEW_AGENT_LEVEL = "UPDATE0002"

CUSTOMER_0100 = {
    "fields": [("CHECK_SUM", "C", 40, 0), ("CODE", "C", 10, 0), ("NAME", "C", 40, 0),
               ("BALANCE", "N", 12, 2), ("OPENED", "D", 8, 0), ("ACTIVE", "L", 1, 0),
               ("NOTES", "M", 10, 0)],
    "tags": [("CODE", "U", "A", "CODE", ""), ("NAME", "", "A", "UPPER(NAME)", ""),
             ("OPEN", "", "A", "CODE", "BALANCE > 0")],
}
# TBLUPD0101: PHONE added, NAME widened from 40 to 60, tag OPENED added.
CUSTOMER_0101 = {
    "fields": [("CHECK_SUM", "C", 40, 0), ("CODE", "C", 10, 0), ("NAME", "C", 60, 0),
               ("PHONE", "C", 20, 0), ("BALANCE", "N", 12, 2), ("OPENED", "D", 8, 0),
               ("ACTIVE", "L", 1, 0), ("NOTES", "M", 10, 0)],
    "tags": CUSTOMER_0100["tags"] + [("OPENED", "", "A", "DTOS(OPENED)", "")],
}
ORDERS_0101 = {
    "fields": [("CHECK_SUM", "C", 40, 0), ("ORDER_NO", "C", 10, 0), ("CUST_CODE", "C", 10, 0),
               ("AMOUNT", "N", 12, 2), ("ORDERED", "D", 8, 0), ("NOTES", "M", 10, 0)],
    "tags": [("ORDER_NO", "U", "A", "ORDER_NO", ""), ("CUST_CODE", "", "A", "CUST_CODE", "")],
}

DESCRIPTOR_FIELDS = [("TBL_NAME", "C", 20, 0), ("TBL_PATH", "C", 10, 0), ("ENABLED", "C", 1, 0),
                     ("VERSIONID", "C", 10, 0), ("USER_TBL", "N", 6, 0),
                     ("HAS_CHKSUM", "N", 6, 0), ("TRAINING", "N", 6, 0),
                     ("NFIELDS", "N", 6, 0), ("NTAGS", "N", 6, 0), ("NLISTVIEWS", "N", 6, 0),
                     ("FIELDARRAY", "M", 10, 0), ("TAGARRAY", "M", 10, 0),
                     ("LISTVIEW", "M", 10, 0)]
DESCRIPTOR_TAGS = ['TBL_ORDER:TRIM(TBL_PATH)+"\\"+TBL_NAME']
HISTORY_FIELDS = [("UPDATE_KEY", "C", 10, 0), ("UPDATE_ZIP", "C", 20, 0), ("TYPE", "C", 1, 0),
                  ("ACT_FLAG", "C", 1, 0), ("CREATE_BY", "C", 20, 0), ("UPDATE_ON", "C", 14, 0),
                  ("UPDATE_BY", "C", 20, 0), ("RESULT", "C", 1, 0), ("DESC_TEXT", "C", 100, 0),
                  ("DESC_MEMO", "M", 10, 0)]
HISTORY_TAGS = ["UPDATE:UPDATE_KEY+UPDATE_ZIP", "DATE_BACK:UPDATE_ON:DESCENDING"]


def program_file(name, level):
    """The stand-in content of one of the application's program files."""
    return ("%s stand-in of the business application, level %s\r\n" % (name, level)).encode()


# Application files per package level; TAVREL0101 also adds REPORTS/MONTHLY.RPT.
PROGRAM_FILES_0100 = {"TAVREL32.EXE": APP_LEVEL, "TAVRELRPT.DLL": APP_LEVEL}


class Tools:
    """The built xbtool and tavrelpkg, run as programs."""

    def __init__(self, bin_dir):
        self.xbtool = os.path.join(bin_dir, "xbtool")
        self.tavrelpkg = os.path.join(bin_dir, "tavrelpkg")

    def run(self, program, args, stdin=None):
        done = subprocess.run([program] + args, input=stdin, capture_output=True, timeout=120)
        if done.returncode != 0:
            raise RuntimeError("%s %s failed: %s" % (os.path.basename(program), " ".join(args),
                                                     done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace")

    def create(self, table, fields, tags):
        args = ["create", table, "--overwrite"]
        for name, kind, width, decimals in fields:
            field = "%s:%s" % (name, kind)
            if kind in "CN":
                field += ":%d" % width + (":%d" % decimals if decimals else "")
            args += ["--field", field]
        for tag in tags:
            args += ["--tag", tag]
        self.run(self.xbtool, args)

    def append(self, table, rows):
        text = "".join(json.dumps(row) + "\n" for row in rows)
        self.run(self.xbtool, ["append", table], stdin=text.encode())

    def stamp(self, table):
        self.run(self.tavrelpkg, ["checksums", "stamp", table + ".DBF"])


def xbtool_tags(structure):
    """The structure's tags as xbtool --tag arguments."""
    tags = []
    for name, unique, order, key, condition in structure["tags"]:
        argument = "%s:%s" % (name, key)
        if condition:
            argument += ":FOR=" + condition
        if unique == "U":
            argument += ":UNIQUE"
        if order == "D":
            argument += ":DESCENDING"
        tags.append(argument)
    return tags


def descriptor_row(name, structure, version):
    """The TABLEDES/TABLEDET row that describes a LICTBL table."""
    fields = "\r\n".join("0^^%s^^%s^^%d^^%d" % f for f in structure["fields"])
    tags = "\r\n".join("0^^%s^^%s^^%s^^%s^^%s" % t for t in structure["tags"])
    has_sum = any(f[0] == "CHECK_SUM" for f in structure["fields"])
    return {"TBL_NAME": name, "TBL_PATH": "LICTBL", "ENABLED": "4", "VERSIONID": version,
            "USER_TBL": "0", "HAS_CHKSUM": "-1" if has_sum else "0", "TRAINING": "0",
            "NFIELDS": str(len(structure["fields"])), "NTAGS": str(len(structure["tags"])),
            "NLISTVIEWS": "0", "FIELDARRAY": fields, "TAGARRAY": tags, "LISTVIEW": ""}


def customer_rows(folder_number):
    """The demo customers of one data folder; every fourth has no notes."""
    for n in range(1, CUSTOMER_RECORDS + 1):
        balance = (n * 7919 + folder_number * 131) % 200000 / 100.0 - 500.0
        yield {"CODE": "C%05d" % n,
               "NAME": "Customer %05d of folder %02d" % (n, folder_number),
               "BALANCE": "%.2f" % balance,
               "OPENED": "%04d%02d%02d" % (2000 + n % 26, n % 12 + 1, n % 28 + 1),
               "ACTIVE": "T" if n % 5 else "F",
               "NOTES": "" if n % 4 == 0 else "Customer %05d: account notes, line one.\r\n"
                        "Second line for record %d." % (n, n)}


def fix_header_date(table):
    """Puts the fixed date into the DBF header in place of the day of the run."""
    with open(table + ".DBF", "r+b") as dbf:
        dbf.seek(1)
        dbf.write(struct.pack("BBB", FIXED_DATE[0] - 1900, FIXED_DATE[1], FIXED_DATE[2]))


def write_zip(path, entries):
    """A zip archive of (entry name, bytes) in the given order, deflated."""
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=FIXED_DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)


def read_table_files(folder, name):
    files = []
    for ext in (".DBF", ".CDX", ".FPT"):
        with open(os.path.join(folder, name + ext), "rb") as f:
            files.append((name + ext, f.read()))
    return files


def make_application(tools, app):
    """The application folder at level TAVREL0100."""
    os.makedirs(app)
    for name, level in PROGRAM_FILES_0100.items():
        with open(os.path.join(app, name), "wb") as f:
            f.write(program_file(name, level))
    with open(os.path.join(app, "TAVRELUPD.VER"), "w") as f:
        f.write(APP_LEVEL)
    history = os.path.join(app, "TABLEUPL")
    tools.create(history, HISTORY_FIELDS, HISTORY_TAGS)
    tools.append(history, [{"UPDATE_KEY": APP_LEVEL, "UPDATE_ZIP": APP_LEVEL, "TYPE": "G",
                            "ACT_FLAG": "T", "CREATE_BY": "01 Jan 2026 09:00:00",
                            "UPDATE_ON": "20260101090012", "UPDATE_BY": "01 Jan 2026 09:00:12",
                            "RESULT": "S",
                            "DESC_TEXT": "INSTALL OF UPDATE COMPLETED WITHOUT ANY ERRORS",
                            "DESC_MEMO": "Installed with the application."}])
    fix_header_date(history)
    row = descriptor_row("CUSTOMER", CUSTOMER_0100, "0100")
    for name, first in (("TABLEDES", []), ("TABLEDET", [("CHECK_SUM1", "C", 40, 0)])):
        table = os.path.join(app, name)
        tools.create(table, first + DESCRIPTOR_FIELDS, DESCRIPTOR_TAGS)
        tools.append(table, [row])
        if first:
            tools.stamp(table)
        fix_header_date(table)
    for number, folder in enumerate(DATA_FOLDERS):
        tables = os.path.join(app, folder, "TABLES")
        os.makedirs(tables)
        table = os.path.join(tables, "CUSTOMER")
        tools.create(table, CUSTOMER_0100["fields"], xbtool_tags(CUSTOMER_0100))
        tools.append(table, customer_rows(number))
        tools.stamp(table)
        fix_header_date(table)


def make_table_update(tools, work):
    """TBLUPD0101.ZIP: the TABLEDES of level 0101 (CUSTOMER changed, ORDERS new)."""
    os.makedirs(work)
    table = os.path.join(work, "TABLEDES")
    tools.create(table, DESCRIPTOR_FIELDS, DESCRIPTOR_TAGS)
    tools.append(table, [descriptor_row("CUSTOMER", CUSTOMER_0101, "0101"),
                         descriptor_row("ORDERS", ORDERS_0101, "0101")])
    fix_header_date(table)
    path = os.path.join(work, "TBLUPD0101.ZIP")
    write_zip(path, read_table_files(work, "TABLEDES"))
    with open(path, "rb") as f:
        return f.read()


def make_packages(tools, root, packages, work):
    """The packages on the server and, beside it, the one that fails."""
    folder = os.path.join(root, "UPDATE2", "UPDATES")
    write_zip(os.path.join(folder, "TAVREL0099.ZIP"),
              [("TAVREL32.EXE", program_file("TAVREL32.EXE", "TAVREL0099"))])
    write_zip(os.path.join(folder, "TAVREL0101.ZIP"),
              [("TAVREL32.EXE", program_file("TAVREL32.EXE", "TAVREL0101")),
               ("TAVRELRPT.DLL", program_file("TAVRELRPT.DLL", "TAVREL0101")),
               ("REPORTS/MONTHLY.RPT", program_file("MONTHLY.RPT", "TAVREL0101")),
               ("TBLUPD0101.ZIP", make_table_update(tools, work))])
    write_zip(os.path.join(folder, "TAVREL0102.ZIP"),
              [("TAVREL32.EXE", program_file("TAVREL32.EXE", "TAVREL0102")),
               ("TAVRELRPT.DLL", program_file("TAVRELRPT.DLL", "TAVREL0102"))])
    # TAVREL32.EXE is replaced first; REPORTS then cannot be written because
    # the folder REPORTS (made by TAVREL0101) stands where the file would go,
    # so stage 3 fails and the rollback must bring TAVREL32.EXE back.
    os.makedirs(packages)
    write_zip(os.path.join(packages, "TAVREL0103.ZIP"),
              [("TAVREL32.EXE", program_file("TAVREL32.EXE", "TAVREL0103")),
               ("REPORTS", program_file("REPORTS", "TAVREL0103"))])


def make_server(tools, out, agent_files):
    """The update server root; agent_files are the new agent version's files."""
    root = os.path.join(out, "server", BASE_FOLDER)
    for top in ("UPDATE0", "UPDTST0"):
        for sub in ("SETUPS", "UPDATES"):
            os.makedirs(os.path.join(root, top, sub))
    for top in ("UPDATE2", "UPDTST2"):
        os.makedirs(os.path.join(root, top, "UPDATES"))
    # SETUPS names the agent level already installed, so no setup is fetched
    # and the session goes on to UPDATES, which holds the newer version.
    with open(os.path.join(root, "UPDATE0", "SETUPS", "UPDATE.VER"), "w") as f:
        f.write(AGENT_LEVEL)
    updates = os.path.join(root, "UPDATE0", "UPDATES")
    for path in agent_files:
        shutil.copy2(path, os.path.join(updates, os.path.basename(path)))
    with open(os.path.join(updates, "UPDATE.VER"), "w") as f:
        f.write(NEW_AGENT_LEVEL)
    make_packages(tools, root, os.path.join(out, "packages"), os.path.join(out, "work"))
    shutil.rmtree(os.path.join(out, "work"))
    return root


def make_agent_folder(agent, agent_files, installer):
    """The agent folder at UPDATE0001 with the built agent's files."""
    os.makedirs(agent)
    for path in list(agent_files) + ([installer] if installer else []):
        shutil.copy2(path, os.path.join(agent, os.path.basename(path)))
    with open(os.path.join(agent, "TAVRELUPD.VER"), "w") as f:
        f.write(AGENT_LEVEL)


def make_content(bin_dir, out, agent_files=(), installer=None):
    """Makes the whole demo content in `out`, which must not exist yet."""
    if os.path.exists(out):
        raise RuntimeError("%s exists already" % out)
    os.makedirs(out)
    tools = Tools(bin_dir)
    make_application(tools, os.path.join(out, "app"))
    make_server(tools, out, agent_files)
    if agent_files:
        make_agent_folder(os.path.join(out, "agent"), agent_files, installer)
