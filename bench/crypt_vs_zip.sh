#!/usr/bin/env bash
# Encrypts 100 MB stored (level 0) with the ZIP library and with
# "zip -0 -P", in the same run, best of three each, and checks the bar: the
# library takes at most twice zip's time. Both archives must test clean.
# Usage: bench/crypt_vs_zip.sh [path/to/crypt_add]   (default: build/bench/crypt_add)
set -euo pipefail
bin="$(realpath "${1:-build/bench/crypt_add}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
head -c 100M /dev/urandom >data.bin
cat data.bin >/dev/null

ms() { echo $(( $(date +%s%N) / 1000000 )); }
best_lib=0 best_zip=0
for round in 1 2 3; do
    rm -f lib.zip zip.zip
    t0=$(ms); "$bin" data.bin lib.zip secret; t1=$(ms)
    zip -q -0 -P secret zip.zip data.bin; t2=$(ms)
    lib=$((t1 - t0)) iz=$((t2 - t1))
    echo "round $round: library $lib ms, zip -0 -P $iz ms"
    if [ "$best_lib" -eq 0 ] || [ "$lib" -lt "$best_lib" ]; then best_lib=$lib; fi
    if [ "$best_zip" -eq 0 ] || [ "$iz" -lt "$best_zip" ]; then best_zip=$iz; fi
done
unzip -P secret -tq lib.zip >/dev/null
unzip -P secret -tq zip.zip >/dev/null
python3 - "$best_lib" "$best_zip" <<'PY'
import sys
lib, iz = int(sys.argv[1]), int(sys.argv[2])
ratio = lib / max(iz, 1)
print(f"best: library {lib} ms, zip -0 -P {iz} ms, time ratio {ratio:.2f} (bar 2.00: at least half as fast)")
sys.exit(0 if ratio <= 2.0 else 1)
PY
