#!/usr/bin/env bash
# Tests and extracts a ~200 MB archive of mixed deflated entries (text-like
# and random) with the ZIP library and with unzip, in the same run, three
# rounds alternating, and checks the bars on the median times: test at most
# 1.2x "unzip -tq", extract at most 1.2x "unzip -qo".
# Usage: bench/zip_read_vs_unzip.sh [path/to/zip_read]   (default: build/bench/zip_read)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_read}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$work/mixed.zip" <<'PY'
import random, sys, zipfile
rng = random.Random(1)
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(32):
        z.writestr(f"random/{i:02}.bin", rng.randbytes(5 << 20))
    for i in range(40):
        lines = (f"<Placemark><name>MMSI {rng.randrange(10**9):09}</name><Point><coordinates>"
                 f"{rng.uniform(-180, 180):.6f},{rng.uniform(-90, 90):.6f},0</coordinates></Point>"
                 f"<speed>{rng.randrange(1023)}</speed></Placemark>\n" for _ in range(75000))
        z.writestr(f"text/{i:02}.kml", "".join(lines))
PY
python3 - "$bin" "$work" <<'PY'
import filecmp, os, shutil, statistics, subprocess, sys, time
bin, work = sys.argv[1], sys.argv[2]
archive = os.path.join(work, "mixed.zip")

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

times = {k: [] for k in ("lt", "ut", "le", "ue")}
for _ in range(3):
    times["lt"].append(timed([bin, "test", archive]))
    times["ut"].append(timed(["unzip", "-tq", archive]))
    for d in ("a", "b"):
        shutil.rmtree(os.path.join(work, d), ignore_errors=True)
    times["le"].append(timed([bin, "extract", archive, os.path.join(work, "a")]))
    times["ue"].append(timed(["unzip", "-qo", archive, "-d", os.path.join(work, "b")]))
def tree(root):
    return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)
a, b = os.path.join(work, "a"), os.path.join(work, "b")
names = tree(b)
if tree(a) != names or filecmp.cmpfiles(a, b, names, shallow=False)[0] != names:
    sys.exit("extracted trees differ")
lt, ut, le, ue = (statistics.median(times[k]) for k in ("lt", "ut", "le", "ue"))
print(f"archive {os.path.getsize(archive) / 1e6:.0f} MB, median of 3 rounds")
print(f"test:    library {lt:.2f} s, unzip -tq {ut:.2f} s, ratio {lt / ut:.2f} (bar 1.20)")
print(f"extract: library {le:.2f} s, unzip -qo {ue:.2f} s, ratio {le / ue:.2f} (bar 1.20)")
sys.exit(0 if lt / ut <= 1.2 and le / ue <= 1.2 else 1)
PY
