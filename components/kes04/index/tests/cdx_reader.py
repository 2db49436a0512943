#!/usr/bin/python3
"""An independent reader of FoxPro compound index (.CDX) files, written from
the published file layout alone, for the interoperation tests.

    cdx_reader.py FILE.CDX

Prints one JSON object per tag (in directory order): name, key and filter
expressions, options, descending flag, key length, and every entry in order
as [key as latin-1 text or hex, record number]. Exit 1 on a malformed file."""
import json
import struct
import sys

PAGE = 512


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


def be32(b, o):
    return struct.unpack_from(">I", b, o)[0]


def header(data, at):
    h = data[at:at + 1024]
    key_len = u16(h, 12)
    pool = h[512:1024]

    def text(start, length):
        raw = pool[start:start + length]
        return raw.split(b"\0")[0].decode("latin-1").rstrip(" ")

    return {
        "root": u32(h, 0),
        "key_length": key_len,
        "options": h[14],
        "descending": u16(h, 502) != 0,
        "key": text(u16(h, 508), u16(h, 510)),
        "for": text(u16(h, 504), u16(h, 506)),
    }


def leaf_entries(page, key_len, pad):
    count = u16(page, 2)
    rn, dc, tc, e = page[20], page[21], page[22], page[23]
    assert rn + dc + tc == 8 * e, "entry widths"
    out, prev, cursor = [], b"", PAGE
    for i in range(count):
        v = int.from_bytes(page[24 + i * e:24 + (i + 1) * e], "little")
        rec = v & ((1 << rn) - 1)
        dup = (v >> rn) & ((1 << dc) - 1)
        trail = (v >> (rn + dc)) & ((1 << tc) - 1)
        stored = key_len - dup - trail
        cursor -= stored
        assert cursor >= 24 + count * e, "key bytes overlap entries"
        key = prev[:dup] + page[cursor:cursor + stored] + bytes([pad]) * trail
        out.append((key, rec))
        prev = key
    free = u16(page, 12)
    assert free == 488 - count * e - (PAGE - cursor), "free-space field"
    return out


def walk(data, root, key_len, pad):
    """All entries in order: down the leftmost path, then along right siblings."""
    page_at = root
    while True:
        page = data[page_at:page_at + PAGE]
        if u16(page, 0) & 2:
            break
        page_at = be32(page, 12 + key_len + 4)  # first child
    entries = []
    while page_at != 0xFFFFFFFF:
        page = data[page_at:page_at + PAGE]
        assert u16(page, 0) & 2, "leaf chain reaches a non-leaf"
        entries += leaf_entries(page, key_len, pad)
        page_at = u32(page, 8)
    return entries


def main():
    data = open(sys.argv[1], "rb").read()
    assert len(data) % PAGE == 0, "file length not a multiple of 512"
    directory = header(data, 0)
    assert directory["options"] & 0x80 and directory["key_length"] == 10
    for name, tag_at in walk(data, directory["root"], 10, 0x20):
        h = header(data, tag_at)
        # Key type is not stored: character keys are what is not 8 or 1 bytes
        # here, which is enough for the test tables.
        pad = 0x00 if h["key_length"] == 8 else 0x20
        entries = []
        for key, rec in walk(data, h["root"], h["key_length"], pad):
            shown = key.hex() if pad == 0 else key.decode("latin-1")
            entries.append([shown, rec])
        print(json.dumps({"name": name.decode("latin-1").rstrip(" "), "key": h["key"],
                          "for": h["for"], "options": h["options"],
                          "descending": h["descending"], "key_length": h["key_length"],
                          "entries": entries}))


if __name__ == "__main__":
    try:
        main()
    except (AssertionError, IndexError, struct.error) as e:
        print("malformed: %s" % e, file=sys.stderr)
        sys.exit(1)
