#!/usr/bin/env bash
# A bench, not a test: kills a change of an archive of ~300 MB (300 entries)
# at random moments, 40 times each for a removal, a rename that lengthens a
# name, a prepend and a run of adds with the ZIP library, and a removal with
# "zip -d" beside them; reports how many kills left an archive whose
# untouched entries cannot all be found (the directory opens and every
# entry's local header is where it says). Random moments are drawn over the
# time an unkilled run takes. A few minutes.
# Usage: bench/zip_kill.sh [path/to/zip_change] [kills]   (default: build/bench/zip_change 40)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_change}")"
kills="${2:-40}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$bin" "$work" "$kills" <<'PY'
import os, random, shutil, signal, struct, subprocess, sys, time, zipfile
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

def readable(path, touched):
    try:
        with open(path, "rb") as f:
            data = f.read()
        z = zipfile.ZipFile(path)
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
for label, cmd, touched in changes:
    shutil.copyfile(base, target)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    span = time.perf_counter() - start
    lost = 0
    for _ in range(kills):
        shutil.copyfile(base, target)
        child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0, span))
        child.send_signal(signal.SIGKILL)
        child.wait()
        if not readable(target, touched):
            lost += 1
    print(f"{label:16s} {kills} kills over {span:.2f} s: {lost} left unreadable")
print(f"load average: {os.getloadavg()[0]:.1f}")
PY
