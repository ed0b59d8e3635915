#!/usr/bin/env bash
# Runs every fuzz target for a fixed number of runs with a fixed seed, so the
# result is deterministic, starting from its seed corpus fuzz/corpus/<dir>/.
# New corpus units go to a scratch folder; the seed corpus is never changed.
# Fails on any finding and keeps the scratch folder with the reproducer.
#   fuzz/run_fuzzers.sh <build-dir> [runs]
set -euo pipefail
BUILD=${1:?usage: run_fuzzers.sh <build-dir> [runs]}
RUNS=${2:-200000}
HERE=$(cd "$(dirname "$0")" && pwd)

# <target>:<seed corpus folder under fuzz/corpus>
TARGETS=(
    fuzz_assemble_parse:assemble_parse
    fuzz_process_line:process_line
    fuzz_base64_decode:base64_decode
    fuzz_url_utf8_decode:url_utf8_decode
    fuzz_zip_read:zip_read
)

for entry in "${TARGETS[@]}"; do
    name=${entry%%:*}
    corpus=${entry#*:}
    work=$(mktemp -d "/tmp/$name.XXXXXX")
    echo "== fuzz $name: $RUNS runs, seed 1"
    if ! "$BUILD/fuzz/$name" -runs="$RUNS" -seed=1 -artifact_prefix="$work/" \
            "$work" "$HERE/corpus/$corpus" >"$work/log" 2>&1; then
        tail -n 60 "$work/log"
        echo "== fuzz $name: FINDING, reproducer and log in $work"
        exit 1
    fi
    grep -E '^Done' "$work/log" || true
    rm -rf "$work"
done
