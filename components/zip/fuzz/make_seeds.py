#!/usr/bin/env python3
"""Writes the seed archives of zip_fuzz into a folder.

    make_seeds.py FOLDER

Every seed is made here from small source files, so that none is kept as a
binary: the `zip` program makes the archives it can make (stored, deflated,
bzip2, folders, links, streamed, encrypted), Python's zipfile writes the names
and kinds that `zip` will not store (backslashes, unsafe paths, special files),
and the damaged ones are good archives with a field or byte changed or cut
short. Each seed is a few KB at most, so the fuzzer mutates them quickly. The
folder is emptied of earlier seeds first.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings
import zipfile

# 2020-06-15 10:30:00 UTC: the stored time of every entry. (Runs still differ
# in the access times and owner ids of `zip`'s extra fields and in the
# encryption header; the fuzzer does not mind.)
FIXED_TIME = 1592217000
FIXED_DATE_TIME = (2020, 6, 15, 10, 30, 0)

# Small seeds keep the fuzzer's runs short and its mutations near the headers.
MAX_SEED_SIZE = 8192

# Unix file kinds in the high half of the external attributes.
KIND_FILE = 0o100644
KIND_FOLDER = 0o040755
KIND_LINK = 0o120777
KIND_FIFO = 0o010644
KIND_CHAR_DEVICE = 0o020644
KIND_SOCKET = 0o140755

# Offsets of the fields this script changes (all little-endian).
# End of central directory record:
#   0 4 signature 0x06054b50 | 10 2 entry count | 12 4 directory size
#   16 4 directory offset    | 20 2 comment length
# Central directory header (46 bytes and the variable parts):
#   0 4 signature 0x02014b50 | 16 4 CRC | 20 4 compressed size
#   24 4 uncompressed size   | 28 2 name length | 30 2 extra length
#   32 2 comment length      | 42 4 local header offset
# Local header (30 bytes and the variable parts):
#   0 4 signature 0x04034b50 | 14 4 CRC | 18 4 compressed size
#   22 4 uncompressed size   | 26 2 name length | 28 2 extra length
EOCD_SIGNATURE = b"PK\x05\x06"
CENTRAL_SIGNATURE = 0x02014B50
LOCAL_SIGNATURE = 0x04034B50


def fail(message):
    sys.exit("make_seeds: " + message)


def entry_headers(archive):
    """Offsets of (central header, local header) of each entry, in order."""
    eocd = archive.rfind(EOCD_SIGNATURE)
    if eocd < 0:
        fail("no end record")
    count, _, offset = struct.unpack_from("<HII", archive, eocd + 10)
    out = []
    for _ in range(count):
        if struct.unpack_from("<I", archive, offset)[0] != CENTRAL_SIGNATURE:
            fail("bad central header at %d" % offset)
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", archive, offset + 28)
        local = struct.unpack_from("<I", archive, offset + 42)[0]
        if struct.unpack_from("<I", archive, local)[0] != LOCAL_SIGNATURE:
            fail("bad local header at %d" % local)
        out.append((offset, local))
        offset += 46 + name_len + extra_len + comment_len
    return out


def patch_entry(archive, index, crc=None, compressed=None, size=None):
    """The archive with entry `index`'s CRC and sizes replaced in both headers."""
    out = bytearray(archive)
    central, local = entry_headers(archive)[index]
    for value, central_at, local_at in ((crc, 16, 14), (compressed, 20, 18), (size, 24, 22)):
        if value is not None:
            struct.pack_into("<I", out, central + central_at, value)
            struct.pack_into("<I", out, local + local_at, value)
    return bytes(out)


def entry_data_offset(archive, index):
    """Where entry `index`'s stored data starts."""
    _, local = entry_headers(archive)[index]
    name_len, extra_len = struct.unpack_from("<HH", archive, local + 26)
    return local + 30 + name_len + extra_len


class Seeds:
    def __init__(self, folder, sources):
        self.folder = folder
        self.sources = sources
        self.env = dict(os.environ, TZ="UTC")

    def write(self, name, data):
        with open(os.path.join(self.folder, name), "wb") as f:
            f.write(data)
        return data

    def read(self, name):
        with open(os.path.join(self.folder, name), "rb") as f:
            return f.read()

    def zip(self, name, *args, stdin=None):
        """Runs `zip` in the source folder, writing seed `name`; its bytes."""
        target = os.path.join(self.folder, name)
        subprocess.run(["zip", "-q", target] + list(args), cwd=self.sources, env=self.env,
                       input=stdin, check=True)
        return self.read(name)

    def zip_to_pipe(self, name, *args):
        """Like `zip`, but to a pipe, so that sizes follow the data in descriptors."""
        result = subprocess.run(["zip", "-q", "-"] + list(args), cwd=self.sources,
                                env=self.env, stdout=subprocess.PIPE, check=True)
        return self.write(name, result.stdout)

    def python(self, name, entries, comment=b""):
        """Writes seed `name` with zipfile from (stored name, data, options) triples;
        options may set kind (Unix mode), system (0 DOS, 3 Unix), deflate, comment."""
        path = os.path.join(self.folder, name)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # duplicate names are meant
            with zipfile.ZipFile(path, "w") as archive:
                archive.comment = comment
                for stored, data, options in entries:
                    info = zipfile.ZipInfo(stored, FIXED_DATE_TIME)
                    info.create_system = options.get("system", 3)
                    kind = options.get("kind", KIND_FOLDER if stored.endswith("/") else KIND_FILE)
                    info.external_attr = (kind << 16) if info.create_system == 3 else kind
                    if options.get("deflate"):
                        info.compress_type = zipfile.ZIP_DEFLATED
                    info.comment = options.get("comment", b"")
                    archive.writestr(info, data)
        return self.read(name)


def make_sources(root):
    """The files `zip` archives: a text, a small table and memo, folders, links."""
    files = {
        "A.TXT": b"first line\r\nsecond line\r\n",
        "DATA/B.DBF": bytes([0x30, 120, 6, 15]) + b"\x00" * 28
        + b"NAME" + b"\x00" * 7 + b"C" + b"\x00" * 4 + bytes([20]) + b"\x00" * 15 + b"\r"
        + b" ALPHA               BETA                \x1a",
        "DATA/C.FPT": b"\x00\x00\x00\x08\x00\x00\x00\x40" + b"\x00" * 56
        + b"\x00\x00\x00\x01\x00\x00\x00\x05memo!",
        "DATA/SUB/D.TXT": b"repeated text " * 40,
    }
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "x", "y"))
    os.makedirs(os.path.join(root, "EMPTY"))
    os.symlink("A.TXT", os.path.join(root, "LINK.TXT"))
    os.symlink("../OUTSIDE", os.path.join(root, "UP"))
    for folder, dirs, names in os.walk(root):
        for name in dirs + names:
            os.utime(os.path.join(folder, name), (FIXED_TIME, FIXED_TIME), follow_symlinks=False)


def made_by_zip(s):
    s.zip("stored.zip", "-0", "A.TXT", "DATA/B.DBF")
    s.zip("deflated.zip", "-9", "-r", "A.TXT", "DATA")
    s.zip("folders.zip", "-r", "x", "EMPTY", "DATA/SUB")
    s.zip("bzip2.zip", "-Z", "bzip2", "DATA/SUB/D.TXT")
    s.zip("encrypted.zip", "-P", "secret", "A.TXT", "DATA/SUB/D.TXT")
    s.zip("zip64.zip", "-fz", "A.TXT", "DATA/C.FPT")
    # Written to a pipe: sizes and CRCs in data descriptors after the data.
    s.zip_to_pipe("streamed.zip", "A.TXT", "DATA/SUB/D.TXT")
    # `-y` stores the links themselves: one to a file beside it, one out.
    s.zip("link.zip", "-y", "LINK.TXT", "UP", "A.TXT")
    s.zip("commented.zip", "-z", "A.TXT", stdin=b"an archive comment\n.\n")


def damaged(s):
    good = s.read("deflated.zip")
    names = [i.filename for i in zipfile.ZipFile(os.path.join(s.folder, "deflated.zip")).infolist()]
    dbf = names.index("DATA/B.DBF")
    text = names.index("DATA/SUB/D.TXT")
    s.write("crc_damaged.zip", patch_entry(good, dbf, crc=0x12345678))
    flipped = bytearray(good)
    flipped[entry_data_offset(good, text) + 4] ^= 0x5A
    s.write("deflate_data_damaged.zip", bytes(flipped))
    s.write("truncated_half.zip", good[: len(good) // 2])
    s.write("truncated_end_record.zip", good[:-10])
    # Central directory intact, half of an entry's data gone.
    central = entry_headers(good)[dbf][0]
    compressed = struct.unpack_from("<I", good, central + 20)[0]
    s.write("truncated_data.zip",
            cut_bytes(good, entry_data_offset(good, dbf) + 2, compressed // 2))
    # Huge declared sizes: the data ends long before them.
    s.write("huge_declared_size.zip", patch_entry(good, text, size=0xFFFFFFF0))
    stored = s.read("stored.zip")
    s.write("huge_stored_size.zip", patch_entry(stored, 1, compressed=0x7FFFFFF0, size=0x7FFFFFF0))
    s.write("small_declared_size.zip", patch_entry(good, text, size=7))


def cut_bytes(archive, start, count):
    """The archive without `count` bytes at `start` (inside an entry's data), its
    central directory and the local offsets behind the cut moved to match."""
    out = bytearray(archive[:start] + archive[start + count:])
    for central, local in entry_headers(archive):
        if local > start:
            struct.pack_into("<I", out, central - count + 42, local - count)
    eocd = out.rfind(EOCD_SIGNATURE)
    directory = struct.unpack_from("<I", out, eocd + 16)[0]
    struct.pack_into("<I", out, eocd + 16, directory - count)
    return bytes(out)


def made_by_python(s):
    s.python("empty.zip", [])
    s.python("backslash.zip", [
        ("A.TXT", b"top\r\n", {"system": 0}),
        ("DATA\\", b"", {"system": 0, "kind": 0x10}),
        ("DATA\\B.DBF", b"\x30" + b"\x00" * 40, {"system": 0, "deflate": True}),
        ("DATA\\SUB\\D.TXT", b"below\r\n", {"system": 0, "kind": 0x01}),
        ("DATA\\SUB/MIXED.TXT", b"both separators\r\n", {}),
    ])
    s.python("dot_parts.zip", [
        ("./A.TXT", b"dot first\n", {}),
        ("DATA/./B.DBF", b"dot inside\n", {}),
        ("DATA//SUB\\\\D.TXT", b"doubled separators\n", {}),
        ("x/y/", b"", {}),
    ])
    s.python("name_clashes.zip", [
        ("A.TXT", b"upper\n", {}),
        ("a.txt", b"lower\n", {}),
        ("A.TXT", b"same name again\n", {}),
        ("X", b"a file where a folder comes\n", {}),
        ("X/Y.TXT", b"below the file\n", {}),
        ("Z/", b"", {}),
        ("Z", b"a file where a folder stands\n", {}),
        ("F/", b"a folder entry with data", {}),
    ])
    s.python("unicode_and_comments.zip", [
        ("\u00c4RGER.TXT", b"umlaut\n", {"comment": b"entry comment"}),
        ("DATA/\u65e5\u672c.DBF", b"wide\n", {"deflate": True}),
    ], comment=b"archive comment")
    long_part = "N" * 300 + ".TXT"
    s.python("long_names.zip", [
        ("L" * 196 + ".TXT", b"fits\n", {}),
        (long_part, b"one part longer than a file name may be\n", {}),
        ("D/" * 120 + "DEEP.TXT", b"deep\n", {}),
        ("/".join(["P" * 99] * 10) + "/LONG.TXT", b"long path\n", {}),
    ])


def unsafe(s):
    """One archive per unsafe path or kind, each after a safe entry."""
    paths = {
        "unsafe_absolute.zip": "/ABS.TXT",
        "unsafe_absolute_backslash.zip": "\\ABS.TXT",
        "unsafe_network_backslash.zip": "\\\\SERVER\\SHARE\\NET.TXT",
        "unsafe_network_slash.zip": "//SERVER/SHARE/NET.TXT",
        "unsafe_drive.zip": "C:DRIVE.TXT",
        "unsafe_drive_root.zip": "C:\\DRIVE.TXT",
        "unsafe_stream.zip": "A.TXT:STREAM",
        "unsafe_parent.zip": "../EVIL.TXT",
        "unsafe_parent_inside.zip": "DATA/../../EVIL.TXT",
        "unsafe_parent_backslash.zip": "DATA\\..\\..\\EVIL.TXT",
        "unsafe_parent_last.zip": "DATA/..",
        "unsafe_no_parts.zip": "./",
        "unsafe_empty_name.zip": "",
    }
    for name, stored in paths.items():
        s.python(name, [("A.TXT", b"safe\n", {}), (stored, b"escaped\n", {})])
    kinds = {
        "unsafe_link_then_file.zip": [("LNK", b"..", {"kind": KIND_LINK}),
                                      ("LNK/EVIL.TXT", b"through the link\n", {})],
        "unsafe_fifo.zip": [("PIPE", b"", {"kind": KIND_FIFO})],
        "unsafe_device.zip": [("DEV", b"", {"kind": KIND_CHAR_DEVICE})],
        "unsafe_socket.zip": [("SOCK", b"", {"kind": KIND_SOCKET})],
    }
    for name, entries in kinds.items():
        s.python(name, [("A.TXT", b"safe\n", {})] + entries)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    if not shutil.which("zip"):
        fail("the zip program is missing (Debian package zip; scripts/deps.sh installs it)")
    folder = os.path.abspath(sys.argv[1])
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.endswith(".zip"):
            os.remove(os.path.join(folder, name))
    with tempfile.TemporaryDirectory(prefix="zip-seed-sources-") as sources:
        make_sources(sources)
        s = Seeds(folder, sources)
        made_by_zip(s)
        damaged(s)
        made_by_python(s)
        unsafe(s)
    names = sorted(os.listdir(folder))
    for name in names:
        size = os.path.getsize(os.path.join(folder, name))
        if size > MAX_SEED_SIZE:
            fail("%s is %d bytes; seeds stay below %d" % (name, size, MAX_SEED_SIZE))
    print("make_seeds: %d archives in %s" % (len(names), folder))


if __name__ == "__main__":
    main()
