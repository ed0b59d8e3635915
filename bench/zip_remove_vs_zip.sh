#!/usr/bin/env bash
# Removes the first of 1,000 entries from a ~500 MB archive (random data
# stored, text deflated) with the ZIP library and with "zip -d", each on its
# own fresh copy of the same archive, three rounds alternating, and checks
# the bar on the median times: at most 1.2x "zip -d". Both results must list
# the same 999 names and test clean.
# Usage: bench/zip_remove_vs_zip.sh [path/to/zip_remove]   (default: build/bench/zip_remove)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_remove}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$work/big.zip" <<'PY'
import random, sys, zipfile
rng = random.Random(1)
line = "<Placemark><name>MMSI {:09}</name><coordinates>{:.6f},{:.6f},0</coordinates></Placemark>\n"
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for i in range(1000):
        if i % 10 == 9:
            text = "".join(line.format(rng.randrange(10**9), rng.uniform(-180, 180), rng.uniform(-90, 90))
                           for _ in range(6000))
            z.writestr(f"text/{i:04}.kml", text, zipfile.ZIP_DEFLATED, 1)
        else:
            z.writestr(f"random/{i:04}.bin", rng.randbytes(550_000), zipfile.ZIP_STORED)
PY
python3 - "$bin" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys, time
bin, work = sys.argv[1], sys.argv[2]
archive = os.path.join(work, "big.zip")
first = "random/0000.bin"

def timed(cmd, copy):
    shutil.copyfile(archive, copy)
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

lib, tool = os.path.join(work, "lib.zip"), os.path.join(work, "tool.zip")
times = {"lib": [], "zip": []}
for _ in range(3):
    times["lib"].append(timed([bin, lib, first], lib))
    times["zip"].append(timed(["zip", "-dq", tool, first], tool))
def names(path):
    return subprocess.run(["zipinfo", "-1", path], check=True, capture_output=True, text=True).stdout
for path in (lib, tool):
    subprocess.run(["unzip", "-tq", path], check=True, stdout=subprocess.DEVNULL)
if names(lib) != names(tool) or len(names(lib).split()) != 999:
    sys.exit("the two archives list different names")
l, z = statistics.median(times["lib"]), statistics.median(times["zip"])
print(f"archive {os.path.getsize(archive) / 1e6:.0f} MB, 1000 entries, median of 3 rounds")
print(f"remove the first: library {l:.2f} s, zip -d {z:.2f} s, ratio {l / z:.2f} (bar 1.20)")
print(f"sizes after: library {os.path.getsize(lib)} bytes, zip -d {os.path.getsize(tool)} bytes")
sys.exit(0 if l / z <= 1.2 else 1)
PY
