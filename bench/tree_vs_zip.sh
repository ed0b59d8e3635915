#!/usr/bin/env bash
# Adds a tree of 20,000 small files (200 directories of 100 files) to a new
# archive with the ZIP library (tree_add) and with "zip -r -q", alternately,
# in the same run; reports the median wall times and their ratio (bar 1.0),
# and checks that both archives hold the same names.
# Usage: bench/tree_vs_zip.sh [path/to/tree_add] [runs]   (default: build/bench/tree_add 5)
set -euo pipefail
bin="$(realpath "${1:-build/bench/tree_add}")"
runs="${2:-5}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tree="$work/tree"

python3 - "$tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1)
words = "vessel position course speed heading status anchored moored underway".split()
for d in range(200):
    sub = os.path.join(root, "d%03d" % d)
    os.makedirs(sub)
    for f in range(100):
        text = " ".join(rng.choice(words) for _ in range(rng.randint(10, 400))) + "\n"
        with open(os.path.join(sub, "f%03d.txt" % f), "w") as out:
            out.write(text)
PY

now() { date +%s.%N; }
lib_times=() zip_times=()
for ((i = 0; i < runs; i++)); do
    rm -f "$work/lib.zip" "$work/zip.zip"
    t0=$(now); "$bin" "$work/lib.zip" "$tree"; t1=$(now)
    (cd "$tree" && zip -r -q "$work/zip.zip" .); t2=$(now)
    lib_times+=("$(echo "$t1 - $t0" | bc)") zip_times+=("$(echo "$t2 - $t1" | bc)")
done

diff <(unzip -Z1 "$work/lib.zip" | sort) <(unzip -Z1 "$work/zip.zip" | sort) >/dev/null ||
    { echo "the two archives hold different names" >&2; exit 1; }
unzip -tq "$work/lib.zip" >/dev/null

python3 - "${lib_times[*]}" "${zip_times[*]}" "$(stat -c %s "$work/lib.zip")" "$(stat -c %s "$work/zip.zip")" <<'PY'
import statistics, sys
lib = statistics.median(map(float, sys.argv[1].split()))
iz = statistics.median(map(float, sys.argv[2].split()))
ratio = lib / iz
print(f"library  {lib * 1000:.0f} ms, {sys.argv[3]} bytes")
print(f"zip -r   {iz * 1000:.0f} ms, {sys.argv[4]} bytes")
print(f"time ratio {ratio:.2f} (bar 1.00), medians of {len(sys.argv[1].split())} runs")
sys.exit(0 if ratio <= 1.0 else 1)
PY
