#!/usr/bin/env bash
# Tests and extracts two archives with the ZIP library and with unzip, side
# by side in one run, three rounds alternating, and prints the ratios of the
# median times against the bar of 0.9 (the library at most 0.9x unzip):
#   large: 1 GiB in 2,048 deflated files of 512 KiB (half text-like, half
#          random);
#   small: 20,000 small text-like files of 0.2 to 4 KB in 200 folders.
# Extraction goes into a new folder each round; the trees are compared byte
# for byte at the end. Needs about 8 GB free under $TMPDIR (or /tmp).
# Usage: bench/zip_read_vs_unzip.sh [path/to/zip_read]   (default: build/bench/zip_read)
set -euo pipefail
bin="$(realpath "${1:-build/bench/zip_read}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import random, sys, zipfile
work = sys.argv[1]
rng = random.Random(1)
lines = "".join(f"<Placemark><name>MMSI {rng.randrange(10**9):09}</name><Point><coordinates>"
                f"{rng.uniform(-180, 180):.6f},{rng.uniform(-90, 90):.6f},0</coordinates></Point>"
                f"<speed>{rng.randrange(1023)}</speed></Placemark>\n" for _ in range(120000)).encode()
def text(size):
    start = rng.randrange(len(lines) - size)
    return lines[start:start + size]
with zipfile.ZipFile(f"{work}/large.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(2048):
        data = rng.randbytes(512 << 10) if i % 2 else text(512 << 10)
        z.writestr(f"d{i // 128:02}/f{i:04}.{'bin' if i % 2 else 'kml'}", data)
with zipfile.ZipFile(f"{work}/small.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(20000):
        # A folder's files together, as zip -r stores them.
        z.writestr(f"d{i // 100:03}/f{i:05}.kml", text(rng.randrange(200, 4000)))
PY

python3 - "$bin" "$work" <<'PY'
import filecmp, os, shutil, statistics, subprocess, sys, time
bin, work = sys.argv[1], sys.argv[2]

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start

def tree(root):
    return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)

ok = True
for name in ("large", "small"):
    archive = os.path.join(work, name + ".zip")
    times = {k: [] for k in ("lt", "ut", "le", "ue")}
    for r in range(3):
        # Fresh folders, nothing removed until the end: a file system slows
        # down creating files right after many were deleted. Who goes first
        # alternates.
        a, b = os.path.join(work, f"a{r}"), os.path.join(work, f"b{r}")
        runs = [("lt", [bin, "test", archive]), ("ut", ["unzip", "-tq", archive]),
                ("le", [bin, "extract", archive, a]), ("ue", ["unzip", "-qo", archive, "-d", b])]
        if r % 2:
            runs = [runs[1], runs[0], runs[3], runs[2]]
        for key, cmd in runs:
            times[key].append(timed(cmd))
    names = tree(b)
    if tree(a) != names or filecmp.cmpfiles(a, b, names, shallow=False)[0] != names:
        sys.exit(f"{name}: extracted trees differ")
    lt, ut, le, ue = (statistics.median(times[k]) for k in ("lt", "ut", "le", "ue"))
    print(f"{name}: {os.path.getsize(archive) / 2**20:.0f} MiB archive, {len(names)} files, median of 3 rounds")
    print(f"  test:    library {lt:6.2f} s, unzip -tq {ut:6.2f} s, ratio {lt / ut:.2f} (bar 0.90)")
    print(f"  extract: library {le:6.2f} s, unzip -qo {ue:6.2f} s, ratio {le / ue:.2f} (bar 0.90)")
    ok = ok and lt / ut <= 0.9 and le / ue <= 0.9
    for r in range(3):
        for d in (f"a{r}", f"b{r}"):
            shutil.rmtree(os.path.join(work, d), ignore_errors=True)
sys.exit(0 if ok else 1)
PY
