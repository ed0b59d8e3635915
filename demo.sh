#!/usr/bin/env bash
# Builds a Release binary and shows the main job on the bundled sample:
# sentences read from standard input, checked, gathered, decoded and
# forwarded as UDP datagrams to a local receiver, then a KMZ snapshot of the
# vessels heard.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 4)

PACKAGES=(g++ make cmake zlib1g-dev python3 unzip)
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$ROOT" -B "$ROOT/build-release" -DCMAKE_BUILD_TYPE=Release \
      -DAISB_TESTS=OFF -DAISB_BENCH=OFF >/dev/null
cmake --build "$ROOT/build-release" -j "$JOBS" --target aisbrinecast >/dev/null
BIN="$ROOT/build-release/app/aisbrinecast"
SAMPLE="$ROOT/samples/sample.nmea"
WORK=$(mktemp -d)
RECV=""  # set once the receiver runs; the clean-up may come earlier
cleanup() {
    if [ -n "$RECV" ]; then kill "$RECV" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

echo "== 1. Decoding the sample with -G (debug lines on standard error), first 25 lines:"
"$BIN" -i -G -H 127.0.0.1:9 < "$SAMPLE" 2>&1 >/dev/null | head -25 || true
echo "..."

echo
echo "== 2. Forwarding the sample to a UDP receiver on 127.0.0.1"
python3 "$ROOT/samples/udp_receiver.py" "$WORK/port" "$WORK/datagrams" &
RECV=$!
for _ in $(seq 50); do [ -s "$WORK/port" ] && break; sleep 0.1; done
PORT=$(cat "$WORK/port")
OUT="$ROOT/demo-output"
mkdir -p "$OUT"
"$BIN" -i -H "127.0.0.1:$PORT" -X 60 -S "$OUT" < "$SAMPLE"
sleep 0.5
kill "$RECV" 2>/dev/null || true
wait "$RECV" 2>/dev/null || true
RECV=""  # gone: its number may be reused, the clean-up must not kill it
python3 - "$WORK/datagrams" "$SAMPLE" <<'PY'
import json, sys
grams = [bytes.fromhex(h) for h in json.load(open(sys.argv[1]))]
lines = sum(1 for _ in open(sys.argv[2], "rb"))
multi = [g for g in grams if g.count(b"\r\n") > 1]
print("sample lines read: %d, datagrams received: %d (%d of them multi-sentence messages)"
      % (lines, len(grams), len(multi)))
print("first datagrams:")
for g in grams[:4]:
    print("  " + repr(g.decode("ascii", "replace")))
if multi:
    print("a multi-sentence message, sent as one datagram:")
    print("  " + repr(multi[0].decode("ascii", "replace")))
PY

echo
echo "== 3. The snapshot written at the end of the input (open it in a map viewer):"
KMZ="$OUT/aisBrinecastSnapshot.kmz"
if [ -f "$KMZ" ]; then
    echo "  $KMZ"
    unzip -l "$KMZ" | sed 's/^/  /'
    echo "  vessels in it: $(unzip -p "$KMZ" aisBrinecastSnapshot.kml | grep -o '<Placemark>' | wc -l)"
else
    echo "  (no export file was written)"
fi
