#!/usr/bin/env bash
# Removes the first and the middle entry from archives of 1,000 and 20,000
# entries (~300 MB each: random data stored, text deflated) with the ZIP
# library and with "zip -d", each on its own fresh copy of the same archive,
# three rounds alternating, and checks the bar on the median times: at most
# 0.8x "zip -d". Both results must list the same names and test clean.
# Usage: bench/zip_remove_vs_zip.sh [path/to/zip_remove]   (default: build/bench/zip_remove)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_remove}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$bin" "$work" <<'PY'
import os, random, shutil, statistics, subprocess, sys, time, zipfile
bin, work = sys.argv[1], sys.argv[2]
line = "<Placemark><name>MMSI {:09}</name><coordinates>{:.6f},{:.6f},0</coordinates></Placemark>\n"

def make(path, count, size):
    rng = random.Random(count)
    names = []
    with zipfile.ZipFile(path, "w") as z:
        for i in range(count):
            if i % 10 == 9:
                text = "".join(line.format(rng.randrange(10**9), rng.uniform(-180, 180), rng.uniform(-90, 90))
                               for _ in range(size // 9))
                name = f"text/{i:05}.kml"
                z.writestr(name, text, zipfile.ZIP_DEFLATED, 1)
            else:
                name = f"random/{i:05}.bin"
                z.writestr(name, rng.randbytes(size), zipfile.ZIP_STORED)
            names.append(name)
    return names

def timed(cmd, source, copy):
    shutil.copyfile(source, copy)
    subprocess.run(["sync"], check=True)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

def names(path):
    return subprocess.run(["zipinfo", "-1", path], check=True, capture_output=True, text=True).stdout

worst = 0.0
for count, size in ((1000, 300_000), (20_000, 15_000)):
    archive = os.path.join(work, f"big{count}.zip")
    entries = make(archive, count, size)
    for where, name in (("first", entries[0]), ("middle", entries[count // 2])):
        lib, tool = os.path.join(work, "lib.zip"), os.path.join(work, "tool.zip")
        times = {"lib": [], "zip": []}
        for _ in range(3):
            times["lib"].append(timed([bin, lib, name], archive, lib))
            times["zip"].append(timed(["zip", "-dq", tool, name], archive, tool))
        for path in (lib, tool):
            subprocess.run(["unzip", "-tq", path], check=True, stdout=subprocess.DEVNULL)
        if names(lib) != names(tool) or len(names(lib).split()) != count - 1:
            sys.exit("the two archives list different names")
        l, z = statistics.median(times["lib"]), statistics.median(times["zip"])
        worst = max(worst, l / z)
        print(f"{count} entries, {os.path.getsize(archive) / 1e6:.0f} MB, remove the {where}: "
              f"library {l:.2f} s, zip -d {z:.2f} s, ratio {l / z:.2f} (bar 0.80)")
    os.remove(archive)
print(f"load average before the end: {os.getloadavg()[0]:.1f}")
sys.exit(0 if worst <= 0.8 else 1)
PY
