#!/usr/bin/env bash
# A bench, not a test: kills a change of an archive of ~300 MB (300 entries)
# at random moments, 40 times each for a removal, a rename that lengthens a
# name, a prepend and a run of adds with the ZIP library, and a removal with
# "zip -d" beside them; reports how many kills left an archive whose
# untouched entries cannot all be found (the directory opens and every
# entry's local header is where it says). Random moments are drawn over the
# time an unkilled run takes. Each unreadable result is told apart by what
# the file holds before its directory. Packed data that is neither the
# original's nor an unkilled run's means the kill landed while data moved;
# so does, at the edges of a move, the finished data without its new
# directory, or the original data with its end record's signature cleared
# (the directory taken off for the move). Anything else landed outside the
# data movement. Then kills each kind of change of the library once it has
# returned, before Close, data moves and changes of the directory alone
# alike (kills/8 times each): none may leave the archive unreadable (the
# exit status says so). A few minutes.
# Usage: bench/zip_kill.sh [path/to/zip_change] [kills]   (default: build/bench/zip_change 40)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_change}")"
kills="${2:-40}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$bin" "$work" "$kills" <<'PY'
import hashlib, io, os, random, shutil, signal, struct, subprocess, sys, time, zipfile
bin, work, kills = sys.argv[1], sys.argv[2], int(sys.argv[3])
base = os.path.join(work, "base.zip")
rng = random.Random(7)
with zipfile.ZipFile(base, "w") as z:
    for i in range(300):
        z.writestr(f"e{i:03}.bin", rng.randbytes(1_000_000), zipfile.ZIP_STORED)
stub = os.path.join(work, "stub.bin")
with open(stub, "wb") as f:
    f.write(b"#" * 100_000)
target = os.path.join(work, "a.zip")

def prefix_digest(data, length):
    return hashlib.blake2b(memoryview(data)[:length]).digest()

def readable(data, touched):
    try:
        z = zipfile.ZipFile(io.BytesIO(data))
        names = set(z.namelist())
        for i in range(300):
            n = f"e{i:03}.bin"
            if n in touched:
                continue
            if n not in names:
                return False
            info = z.getinfo(n)
            at = info.header_offset
            if data[at:at + 4] != b"PK\x03\x04" or data[at + 30:at + 30 + len(n)] != n.encode():
                return False
        return True
    except Exception:
        return False

changes = [
    ("library remove", [bin, target, "remove", "e000.bin"], {"e000.bin"}),
    ("library rename", [bin, target, "rename", "e000.bin", "e000-with-a-longer-name.bin"], {"e000.bin"}),
    ("library prepend", [bin, target, "prepend", stub], set()),
    ("library adds", [bin, target, "add", "20", "1000000"], set()),
    ("zip -d", ["zip", "-dq", target, "e000.bin"], {"e000.bin"}),
]
def data_length(path):
    with open(path, "rb") as f:
        data = f.read()
    at = data.rfind(b"PK\x05\x06")
    return at - struct.unpack_from("<I", data, at + 12)[0]

before = data_length(base)
end_record = os.path.getsize(base) - 22
with open(base, "rb") as f:
    before_digest = prefix_digest(f.read(), before)
for label, cmd, touched in changes:
    shutil.copyfile(base, target)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    span = time.perf_counter() - start
    after = data_length(target)
    with open(target, "rb") as f:
        after_digest = prefix_digest(f.read(), after)
    moving = edges = outside = missing = 0
    for _ in range(kills):
        shutil.copyfile(base, target)
        child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, span))
        child.send_signal(signal.SIGKILL)
        child.wait()
        # zip unlinks the archive before it renames its temporary file to
        # the archive's name: a kill can land between the two.
        if not os.path.exists(target):
            missing += 1
            continue
        with open(target, "rb") as f:
            data = f.read()
        if readable(data, touched):
            continue
        as_before = prefix_digest(data, before) == before_digest
        if as_before and data[end_record:end_record + 4] == b"\0\0\0\0":
            edges += 1  # taken off for a move that had not written yet
        elif as_before:
            outside += 1
        elif prefix_digest(data, after) == after_digest:
            edges += 1  # moved, its new directory not yet down
        else:
            moving += 1
    print(f"{label:16s} {kills} kills over {span:.2f} s: {moving + edges + outside + missing} left unreadable, "
          f"{moving + edges} while data moved ({edges} at its first or last step), "
          f"{outside} outside the data movement, {missing} with no file at the archive's name")

# Kills once each kind of change has returned, before Close: the archive
# must open with every entry the change did not touch (the old directory
# until the new one is written). A few per kind: what stands on disk then
# does not depend on when the kill lands.
after = [
    ("remove", ["remove", "e000.bin"], {"e000.bin"}),
    ("rename", ["rename", "e000.bin", "e000-with-a-longer-name.bin"], {"e000.bin"}),
    ("prepend", ["prepend", stub], set()),
    ("adds", ["add", "3", "1000000"], set()),
    ("archive comment", ["comment", "a comment"], set()),
    ("entry comment", ["entry-comment", "e005.bin", "an entry comment"], set()),
    ("attributes", ["attributes", "e005.bin", "600"], set()),
    ("time", ["time", "e005.bin", "1700000000"], set()),
    ("central name", ["central-name", "e005.bin", "renamed.bin"], {"e005.bin"}),
    ("record removed", ["remove-record", "e005.bin"], {"e005.bin"}),
    ("last removed", ["remove-last"], {"e299.bin"}),
]
per_kind = max(1, kills // 8)
total_unreadable = 0
for label, args, touched in after:
    unreadable = 0
    for _ in range(per_kind):
        shutil.copyfile(base, target)
        child = subprocess.Popen([bin, target, "wait"] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        said = child.stdout.readline().strip()
        time.sleep(rng.uniform(0, 0.02))
        child.send_signal(signal.SIGKILL)
        child.wait()
        if said != b"returned":
            sys.exit(f"{label}: the change did not return ({said!r})")
        with open(target, "rb") as f:
            if not readable(f.read(), touched):
                unreadable += 1
    total_unreadable += unreadable
    print(f"after {label:16s} returned: {per_kind} kills, {unreadable} left unreadable")
print(f"load average: {os.getloadavg()[0]:.1f}")
sys.exit(0 if total_unreadable == 0 else 1)
PY
