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

# The targets are independent: they run side by side, each in a folder of
# its own, and their results are read in a fixed order.
names=(); works=(); pids=()
for entry in "${TARGETS[@]}"; do
    name=${entry%%:*}
    corpus=${entry#*:}
    work=$(mktemp -d "/tmp/$name.XXXXXX")
    echo "== fuzz $name: $RUNS runs, seed 1"
    "$BUILD/fuzz/$name" -runs="$RUNS" -seed=1 -artifact_prefix="$work/" \
        "$work" "$HERE/corpus/$corpus" >"$work/log" 2>&1 &
    names+=("$name"); works+=("$work"); pids+=($!)
done

failed=0
for i in "${!names[@]}"; do
    if ! wait "${pids[$i]}"; then
        tail -n 60 "${works[$i]}/log"
        echo "== fuzz ${names[$i]}: FINDING, reproducer and log in ${works[$i]}"
        failed=1
        continue
    fi
    echo "== fuzz ${names[$i]}: $(grep -E '^Done' "${works[$i]}/log" || echo done)"
    rm -rf "${works[$i]}"
done
exit "$failed"
