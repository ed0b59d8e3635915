#!/usr/bin/env bash
# Packs a 20 MB KML-like document at level 9 with the ZIP library and with
# "zip -9 -q", in the same run, and checks the bars: time at most 1.2x zip's,
# size within 1% of zip's.
# Usage: bench/zip_vs_zip.sh [path/to/zip_bench]   (default: build/bench/zip_bench)
set -euo pipefail
bin="${1:-build/bench/zip_bench}"
json="$(mktemp)"
trap 'rm -f "$json"' EXIT
"$bin" --benchmark_format=json --benchmark_filter='BM_ZipLibraryFile|BM_InfoZipFile' >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
lib, iz = runs["BM_ZipLibraryFile"], runs["BM_InfoZipFile"]
ratio = lib["real_time"] / iz["real_time"]
size = (lib["archive_bytes"] - iz["archive_bytes"]) / iz["archive_bytes"] * 100
print(f"library {lib['real_time']:.0f} ms, {lib['archive_bytes']:.0f} bytes")
print(f"zip -9  {iz['real_time']:.0f} ms, {iz['archive_bytes']:.0f} bytes")
print(f"time ratio {ratio:.2f} (bar 1.20), size difference {size:+.2f}% (bar 1%)")
sys.exit(0 if ratio <= 1.2 and abs(size) <= 1.0 else 1)
PY
