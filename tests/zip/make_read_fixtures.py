#!/usr/bin/env python3
"""Writes the archives that the reading tests open, into the given folder.

Usage: make_read_fixtures.py <folder>
       make_read_fixtures.py --committed <folder>   (the archives kept in tests/zip/data)

Archives from the real tools (zip, 7z, python's zipfile, jar when it is
installed) over one small source tree, and hand-made archives whose records
carry the damage or the hostile values a test needs. Prints the names of the
tool archives it could make, one a line.
"""
import io
import os
import random
import shutil
import stat
import struct
import subprocess
import sys
import zipfile
import zlib


def write(path, data, mode=0o644, mtime=1600000000):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
    os.utime(path, (mtime, mtime))


def source_tree(root):
    rng = random.Random(7)
    text = "".join(f"<Placemark><name>vessel {i}</name><coordinates>{i * 0.001:.6f},{i * 0.002:.6f}</coordinates>"
                   f"</Placemark>\n" for i in range(3000)).encode()
    write(f"{root}/text.kml", text)
    write(f"{root}/random.bin", bytes(rng.getrandbits(8) for _ in range(150000)))
    write(f"{root}/empty.txt", b"")
    write(f"{root}/run.sh", b"#!/bin/sh\necho hi\n", 0o755)
    write(f"{root}/readonly.txt", b"do not touch\n", 0o444)
    write(f"{root}/sub/inner.txt", b"inner\n" * 50, 0o640, 1500000000)
    write(f"{root}/sub/deeper/x.txt", b"x" * 1000)
    os.makedirs(f"{root}/emptydir", exist_ok=True)
    os.utime(f"{root}/emptydir", (1600000000, 1600000000))


def run(cmd, cwd=None, stdin=None):
    return subprocess.run(cmd, cwd=cwd, input=stdin, shell=isinstance(cmd, str), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def tool_archives(out, src):
    made = []
    if run(["zip", "-qr", "-X-", f"{out}/zip_r.zip", "."], cwd=src):
        made.append("zip_r.zip")
    # Written to a pipe: zip cannot seek back, so every entry has a data
    # descriptor.
    if run(f"zip -qr - . | cat > {out}/zip_pipe.zip", cwd=src):
        made.append("zip_pipe.zip")
    with zipfile.ZipFile(f"{out}/python.zip", "w") as z:
        z.write(f"{src}/text.kml", "text.kml", zipfile.ZIP_DEFLATED)
        z.write(f"{src}/random.bin", "random.bin", zipfile.ZIP_STORED)
        z.write(f"{src}/run.sh", "run.sh", zipfile.ZIP_DEFLATED)
        z.writestr("π/ünïcode.txt", "UTF-8 names set bit 11\n".encode(), zipfile.ZIP_DEFLATED)
        commented = zipfile.ZipInfo("commented.txt", (2020, 9, 13, 12, 26, 40))
        commented.comment = b"an entry comment"
        commented.external_attr = 0o100644 << 16
        z.writestr(commented, b"with a comment\n")
        z.comment = b"python comment"
    made.append("python.zip")
    if run(["7z", "a", "-tzip", "-mtc=on", f"{out}/7z.zip", "."], cwd=src):
        made.append("7z.zip")
    if shutil.which("jar") and run(["jar", "cf", f"{out}/jar.jar", "-C", src, "."]):
        made.append("jar.jar")
    # A self-extracting stub in front of an archive.
    if "zip_r.zip" in made:
        with open(f"{out}/sfx.zip", "wb") as f:
            f.write(b"#!/bin/sh\necho this is a stub\nexit 0\n" + b"\0" * 1000)
            f.write(open(f"{out}/zip_r.zip", "rb").read())
        made.append("sfx.zip")
    return made


def refused_by_tools(out, src):
    # Input from a pipe: zip does not know the size and writes ZIP64 records.
    run(f"printf x | zip -q {out}/zip64_locator.zip -", stdin=None)
    run(["zip", "-q", "-Z", "bzip2", f"{out}/bzip2.zip", "text.kml"], cwd=src)
    run(["7z", "a", "-tzip", "-m0=LZMA", f"{out}/lzma.zip", "text.kml"], cwd=src)


# ---- hand-made archives ------------------------------------------------------

class Entry:
    def __init__(self, name, data=b"", method=8, mode=0o100644, flag=0, system=3, declared=None, crc=None,
                 extra=b"", attr=None, password=None):
        self.name = name.encode() if isinstance(name, str) else name
        self.data = data
        self.method = method
        self.mode = mode
        self.flag = flag
        self.system = system
        self.declared = declared  # uncompressed size to announce, when not the real one
        self.crc = crc
        self.extra = extra
        self.attr = attr  # the whole external attributes, when not mode << 16
        self.password = password  # traditional encryption with this password


def _crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


CRC_TABLE = _crc_table()


def encrypt(password, crc, data):
    """Traditional ZIP encryption: a 12-byte header whose last byte is the
    CRC's high byte, then the data."""
    keys = [0x12345678, 0x23456789, 0x34567890]

    def update(b):
        keys[0] = CRC_TABLE[(keys[0] ^ b) & 0xFF] ^ (keys[0] >> 8)
        keys[1] = ((keys[1] + (keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        keys[2] = CRC_TABLE[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8)

    for b in password.encode():
        update(b)
    out = bytearray()
    for b in bytes(range(11)) + bytes([crc >> 24]) + data:
        t = (keys[2] | 2) & 0xFFFF
        out.append(b ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(b)
    return bytes(out)


def build(entries, comment=b"", prefix=b"", duplicate_offsets=False):
    body = bytearray()
    central = bytearray()
    first_offset = None
    for e in entries:
        if e.method == 8:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            packed = c.compress(e.data) + c.flush()
        else:
            packed = e.data
        crc = zlib.crc32(e.data) if e.crc is None else e.crc
        flag = e.flag
        if e.password is not None:
            packed = encrypt(e.password, crc, packed)
            flag |= 1
        size = len(e.data) if e.declared is None else e.declared
        offset = len(body)
        if first_offset is None:
            first_offset = offset
        if duplicate_offsets:
            offset = first_offset
        local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flag, e.method, 0x6000, 0x5021, crc, len(packed),
                            size, len(e.name), len(e.extra))
        body += local + e.name + e.extra + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, (e.system << 8) | 20, 20, flag, e.method,
                               0x6000, 0x5021, crc, len(packed), size, len(e.name), len(e.extra), 0, 0, 0,
                               e.mode << 16 if e.attr is None else e.attr, offset) + e.name + e.extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(central), len(body),
                      len(comment)) + comment
    return prefix + bytes(body) + bytes(central) + end


def crafted(out):
    good = build([Entry("a.txt", b"hello, reader\n" * 40), Entry("b.txt", b"second entry\n", method=0)])
    open(f"{out}/good.zip", "wb").write(good)
    open(f"{out}/no_end_record.zip", "wb").write(good[:-22] + b"\0" * 22)
    open(f"{out}/cut_end_record.zip", "wb").write(good[:-10])
    flipped = bytearray(good)
    flipped[30 + 5 + 10] ^= 0x55  # inside the deflated data of a.txt
    open(f"{out}/flipped_data.zip", "wb").write(bytes(flipped))
    broken_local = bytearray(good)
    broken_local[0] = 0x51
    open(f"{out}/broken_local_signature.zip", "wb").write(bytes(broken_local))
    open(f"{out}/duplicate_offsets.zip", "wb").write(
        build([Entry("a.txt", b"one"), Entry("b.txt", b"two")], duplicate_offsets=True))
    # The directory claims more than lies before the end record.
    bad_offset = bytearray(good)
    struct.pack_into("<I", bad_offset, len(good) - 6, 0xFFFFFF00)
    open(f"{out}/directory_past_end.zip", "wb").write(bytes(bad_offset))
    open(f"{out}/bad_crc.zip", "wb").write(build([Entry("a.txt", b"payload" * 10, crc=0x12345678)]))
    # Encrypted, with less data than the encryption header alone.
    open(f"{out}/encrypted_tiny.zip", "wb").write(build([Entry("e.bin", b"abc", method=0, flag=1)]))
    open(f"{out}/encrypted.zip", "wb").write(build([Entry("e.bin", b"twelve bytes and more", method=0, flag=1)]))
    # Sizes that lie: more data than the header announces.
    open(f"{out}/deflate_more_than_declared.zip", "wb").write(
        build([Entry("big.txt", b"A" * 100000, declared=1000)]))
    # Compressed data left over once the declared size is reached.
    open(f"{out}/deflate_long_more_than_declared.zip", "wb").write(
        build([Entry("big.bin", random.Random(3).randbytes(200000), declared=1000)]))
    open(f"{out}/stored_more_than_declared.zip", "wb").write(
        build([Entry("big.bin", b"B" * 5000, method=0, declared=100)]))
    # jar writes its directories as empty deflate streams.
    open(f"{out}/dir_deflated.zip", "wb").write(
        build([Entry("META-INF/", b"", method=8, mode=0o040755), Entry("META-INF/x.txt", b"x")]))
    # A trailing "/" with file attributes, and a directory with data.
    open(f"{out}/dir_by_name.zip", "wb").write(build([Entry("d/", b"", method=0, mode=0o100644)]))
    open(f"{out}/dir_with_data.zip", "wb").write(build([Entry("d/", b"data", method=0, mode=0o040755)]))
    # Flags that differ only above bit 3: UTF-8 in the central record only.
    high_flag = bytearray(build([Entry("f.txt", b"flags", flag=0x0800)]))
    struct.pack_into("<H", high_flag, 6, 0)
    open(f"{out}/local_flag_high_bits.zip", "wb").write(bytes(high_flag))
    low_flag = bytearray(build([Entry("f.txt", b"flags")]))
    struct.pack_into("<H", low_flag, 6, 0x0002)
    open(f"{out}/local_flag_low_bits.zip", "wb").write(bytes(low_flag))
    # Names that point outside the target folder.
    hostile = ["../evil1.txt", "/tmp/evil2.txt", "a/../../evil3.txt", "C:\\evil4.txt", "..\\evil5.txt",
               "./ok/./six.txt", "../", "."]
    open(f"{out}/hostile_names.zip", "wb").write(build([Entry(n, n.encode()) for n in hostile]))
    # Modes that must not survive extraction.
    modes = [("setuid.sh", 0o104755), ("worldwrite.txt", 0o100666), ("link", 0o120777), ("device", 0o020600),
             ("fifo", 0o010600), ("socket", 0o140640), ("sticky.txt", 0o101644), ("wdir/", 0o040777)]
    open(f"{out}/modes.zip", "wb").write(build([Entry(n, b"target" if n != "wdir/" else b"", mode=m)
                                                 for n, m in modes]))
    # DOS-made entries: backslashes and attributes in the low bytes.
    dos = build([Entry("DOS\\FILE.TXT", b"dos file", mode=0, system=0)])
    open(f"{out}/dos.zip", "wb").write(dos)
    # A local header offset far past the end of the file.
    far = bytearray(build([Entry("far.txt", b"far")]))
    central_at = struct.unpack_from("<I", far, len(far) - 6)[0]
    struct.pack_into("<I", far, central_at + 42, 0x7FFFFFF0)
    open(f"{out}/offset_past_end.zip", "wb").write(bytes(far))
    # NTFS times at the top of their range.
    ntfs = struct.pack("<HHIHH", 0x000A, 32, 0, 1, 24) + b"\xff" * 24
    open(f"{out}/ntfs_time_max.zip", "wb").write(build([Entry("t.txt", b"time", extra=ntfs)]))
    # End records naming volumes in ways no archive of volumes can.
    for name, disk, cd_disk, on_disk, offset in [("end_cd_after_last", 1, 2, 2, None),
                                                  ("end_more_on_volume", 1, 1, 3, None),
                                                  ("end_directory_past_record", 1, 1, 2, 0x7FFFFFF0)]:
        record = bytearray(good)
        struct.pack_into("<HHH", record, len(good) - 18, disk, cd_disk, on_disk)
        if offset is not None:
            struct.pack_into("<I", record, len(good) - 6, offset)
        open(f"{out}/{name}.zip", "wb").write(bytes(record))
    open(f"{out}/comment_max.zip", "wb").write(build([Entry("c.txt", b"c")], comment=b"#" * 65535))
    # Local sizes in a ZIP64 record: one 5 GiB (the archive needs ZIP64),
    # one record too short for the two sizes it stands for.
    for name, record in [("zip64_local_huge", struct.pack("<HHQQ", 1, 16, 5 << 30, 5 << 30)),
                         ("zip64_local_short", struct.pack("<HHQ", 1, 8, 3))]:
        image = bytearray(build([Entry("z.txt", b"zip", method=0, extra=record)]))
        struct.pack_into("<II", image, 18, 0xFFFFFFFF, 0xFFFFFFFF)
        open(f"{out}/{name}.zip", "wb").write(bytes(image))


def extraction(out):
    """The archives of the extraction table: each aims at what the table's
    target already holds (files, links, a read-only directory)."""
    over = [("keep.txt", b"new keep\n"), ("dangling", b"new dangling\n"), ("linkfile", b"new linkfile\n"),
            ("linkdir/x.txt", b"through linkdir\n"), ("rodir/inside.txt", b"new inside\n")]
    files = lambda **kw: build([Entry(n, d, **kw) for n, d in over])
    open(f"{out}/x_plain.zip", "wb").write(files())
    open(f"{out}/x_encrypted.zip", "wb").write(files(password="right"))
    open(f"{out}/x_unsupported.zip", "wb").write(build([Entry("keep.txt", b"x" * 50, method=12),
                                                        Entry("dangling", b"y" * 50, method=14)]))
    broken = bytearray(build([Entry("keep.txt", b"new keep\n" * 20)]))
    broken[0] = 0x51
    open(f"{out}/x_local_header.zip", "wb").write(bytes(broken))
    flipped = bytearray(build([Entry("keep.txt", bytes(range(256)) * 8)]))
    flipped[30 + 8 + 20] ^= 0x55
    open(f"{out}/x_data.zip", "wb").write(bytes(flipped))
    open(f"{out}/x_three_dots.zip", "wb").write(build([Entry(".../", b"", method=0, mode=0o040777),
                                                       Entry(".../f.txt", b"in three dots\n")]))
    open(f"{out}/x_two_dots.zip", "wb").write(build([Entry("../up.txt", b"up\n"), Entry("a/../../up2.txt", b"up2\n"),
                                                     Entry("../", b"", method=0, mode=0o040777)]))
    open(f"{out}/x_one_dot.zip", "wb").write(build([Entry("./dot.txt", b"dot\n"), Entry("a/./b.txt", b"b\n"),
                                                    Entry(".", b"", method=0, mode=0o040777)]))
    open(f"{out}/x_trailing_dots.zip", "wb").write(build([Entry("end.", b"with dot\n"), Entry("end", b"without\n"),
                                                          Entry("keep.txt.", b"not keep.txt\n")]))
    # The first entry's data runs over the whole second entry: both are
    # one stretch of bytes counted twice.
    lapped = bytearray(build([Entry("keep.txt", b"k" * 40, method=0), Entry("linkfile", b"l" * 40, method=0)]))
    second = 30 + 8 + 40
    grow = 30 + 8 + 40
    central = struct.unpack_from("<I", lapped, len(lapped) - 6)[0]
    for at in (18, 22):
        struct.pack_into("<I", lapped, at, 40 + grow)
    for at in (20, 24):
        struct.pack_into("<I", lapped, central + at, 40 + grow)
    struct.pack_into("<I", lapped, 14, zlib.crc32(bytes(lapped[38:38 + 40 + grow])))
    struct.pack_into("<I", lapped, central + 16, zlib.crc32(bytes(lapped[38:38 + 40 + grow])))
    assert struct.unpack_from("<I", lapped, second)[0] == 0x04034B50
    open(f"{out}/x_overlapping.zip", "wb").write(bytes(lapped))
    open(f"{out}/x_special.zip", "wb").write(build([
        Entry("fifo", b"was a fifo\n", mode=0o010600), Entry("dev", b"was a device\n", mode=0o020600),
        Entry("sock", b"was a socket\n", mode=0o140640), Entry("setuid", b"was setuid\n", mode=0o104750),
        Entry("dangling", b"../outside/outside.txt", mode=0o120777),
        Entry("dosfile", b"dos\n", system=0, attr=0), Entry("dosro", b"dos read-only\n", system=0, attr=0x01),
        Entry("DOSDIR/", b"", method=0, system=0, attr=0x10)]))
    # Name components one byte over the longest name a file system takes,
    # as a file and as a directory, and one of exactly that length.
    open(f"{out}/x_long_names.zip", "wb").write(build([
        Entry("L" * 256, b"too long\n"), Entry("a/" + "D" * 256 + "/f.txt", b"below too long\n"),
        Entry("M" * 255, b"longest\n")]))
    # Directory entries over the target's own 0700 "private" and over a
    # directory the extraction makes.
    for tag, mode in (("0777", 0o040777), ("0000", 0o040000)):
        open(f"{out}/x_dir_{tag}.zip", "wb").write(build([
            Entry("private/", b"", method=0, mode=mode), Entry("private/in.txt", b"in private\n"),
            Entry(f"made{tag}/", b"", method=0, mode=mode)]))
    open(f"{out}/x_readonly_tree.zip", "wb").write(build([
        Entry("ro/", b"", method=0, mode=0o040555), Entry("ro/a.txt", b"a\n"),
        Entry("ro/sub/", b"", method=0, mode=0o040555), Entry("ro/sub/b.txt", b"b\n")]))


class _Unseekable(io.RawIOBase):
    """A pipe's view of a file: zipfile cannot go back to patch sizes."""

    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, data):
        return self.f.write(data)


def committed(out):
    """Archives kept in the tree, so that their bytes do not hang on the
    python at hand. python's zipfile with force_zip64=True gives even small
    entries ZIP64 local headers (sizes 0xFFFFFFFF, the real ones in a ZIP64
    record) over a plain directory; written to a pipe, the sizes follow in
    descriptors with 8-byte sizes."""
    text = "".join(f"<Placemark><name>vessel {i}</name></Placemark>\n" for i in range(12)).encode()

    def entries(z):
        for name, data, method in (("text.kml", text, zipfile.ZIP_DEFLATED), ("stored.bin", bytes(range(40)),
                                                                              zipfile.ZIP_STORED)):
            info = zipfile.ZipInfo(name, (2021, 6, 7, 8, 9, 10))
            info.compress_type = method
            info.external_attr = 0o100644 << 16
            with z.open(info, "w", force_zip64=True) as f:
                f.write(data)

    with zipfile.ZipFile(f"{out}/python_zip64_local.zip", "w") as z:
        entries(z)
    with open(f"{out}/python_zip64_streamed.zip", "wb") as f, zipfile.ZipFile(_Unseekable(f), "w") as z:
        entries(z)


def main():
    if sys.argv[1] == "--committed":
        committed(os.path.abspath(sys.argv[2]))
        return
    out = os.path.abspath(sys.argv[1])
    src = os.path.join(out, "src")
    source_tree(src)
    made = tool_archives(out, src)
    refused_by_tools(out, src)
    crafted(out)
    extraction(out)
    for name in made:
        print(name)


if __name__ == "__main__":
    main()
