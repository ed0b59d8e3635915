#!/usr/bin/env bash
# The forwarder behind a link slower than its input.
#
# In a private network namespace (the script re-executes itself under
# `unshare -n`), loopback is shaped with tc to 20 Mbit/s, and in the same run,
# side by side, the program and line_relay (one blocking sendto per line, which
# waits for the link and loses nothing) send the same distinct single-sentence
# messages (one datagram each) to bench/udp_sink receivers:
#   unslowed        N messages, nothing shaped: the count is exact;
#   all slowed      N messages, and bursts of 1,000 and 3,000, lo shaped;
#   one of two      N messages to two destinations, only the second one's
#                   port shaped: what reaches the fast one and the slow one.
# Each receiver is given until its count stops growing. Prints, per case,
# delivered/sent and the sender's wall time for each.
#
# Needs root (for unshare -n and tc), ip and tc with tbf, htb and u32;
# without them it prints "skipped: ..." and exits 0.
#
# usage: bench/slow_link.sh [--program BIN] [--baseline BIN] [--messages N] [--build DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build-bench
PROGRAM=
BASELINE=
MESSAGES=100000
RATE=20mbit
SHAPE="rate $RATE burst 32kb limit 20mb"

usage() { echo "usage: bench/slow_link.sh [--program BIN] [--baseline BIN] [--messages N] [--build DIR]" >&2; exit 2; }
args=("$@")
while [ $# -gt 0 ]; do
    case $1 in
        --program) PROGRAM=${2:?}; shift 2 ;;
        --baseline) BASELINE=${2:?}; shift 2 ;;
        --messages) MESSAGES=${2:?}; shift 2 ;;
        --build) BUILD=${2:?}; shift 2 ;;
        *) usage ;;
    esac
done
skip() { echo "skipped: $*"; exit 0; }

if [ -z "${AISB_SLOW_LINK_NS:-}" ]; then
    for tool in unshare ip tc; do
        command -v "$tool" >/dev/null || skip "no '$tool' on this machine"
    done
    unshare -n true 2>/dev/null || skip "unshare -n refused (needs root or CAP_SYS_ADMIN)"
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DAISB_TESTS=OFF >/dev/null
    targets=(make_traffic line_relay udp_sink)
    [ -z "$PROGRAM" ] && targets+=(aisbrinecast)
    cmake --build "$BUILD" -j8 --target "${targets[@]}" >/dev/null
    AISB_SLOW_LINK_NS=1 exec unshare -n -- "$0" "${args[@]}"
fi

# From here on, in the private namespace: nothing leaves it.
PROGRAM=${PROGRAM:-$BUILD/app/aisbrinecast}
TOOLS=$BUILD/bench
for bin in "$PROGRAM" ${BASELINE:+"$BASELINE"} "$TOOLS/make_traffic" "$TOOLS/line_relay" "$TOOLS/udp_sink"; do
    [ -x "$bin" ] || { echo "no executable $bin" >&2; exit 2; }
done
ip link set lo up 2>/dev/null || skip "ip link set lo up refused (needs CAP_NET_ADMIN)"
tc qdisc add dev lo root tbf $SHAPE 2>/dev/null || skip "tc refused to shape lo (needs CAP_NET_ADMIN and sch_tbf)"
tc qdisc del dev lo root
# What the two-destination case needs, tried before anything runs.
tc qdisc add dev lo root handle 1: htb default 0 2>/dev/null || skip "tc refused an htb qdisc (needs sch_htb)"
tc filter add dev lo parent 1: protocol ip prio 1 u32 match ip dport 9 0xffff flowid 1:30 2>/dev/null ||
    skip "tc refused a u32 filter (needs cls_u32)"
tc qdisc del dev lo root

TMP=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT

# Distinct messages, each one sentence, so one line is one datagram for the
# program as for the relay.
BURSTS=(1000 3000)
need=$MESSAGES
for b in "${BURSTS[@]}"; do [ "$b" -gt "$need" ] && need=$b; done
"$TOOLS/make_traffic" $((need * 14 / 10 + 1000)) 50000 | grep -a 'VDM,1,1,' | head -n "$need" > "$TMP/single.nmea" || true
have=$(wc -l < "$TMP/single.nmea")
[ "$have" -eq "$need" ] || { echo "only $have single-sentence messages, $need needed" >&2; exit 1; }
head -n "$MESSAGES" "$TMP/single.nmea" > "$TMP/main.nmea"
for b in "${BURSTS[@]}"; do head -n "$b" "$TMP/single.nmea" > "$TMP/burst$b.nmea"; done

# A receiver: starts it and sets <name>_PID, <name>_PORT, <name>_OUT.
sink_start() {
    local name=$1 out=$TMP/sink-$1 pid port="" i
    "$TOOLS/udp_sink" > "$out" &
    pid=$!
    PIDS+=("$pid")
    for ((i = 0; i < 100 && ${#port} == 0; i++)); do
        sleep 0.05
        port=$(head -n 1 "$out")
    done
    [ -n "$port" ] || { echo "udp_sink printed no port" >&2; exit 1; }
    printf -v "${name}_PID" %s "$pid"
    printf -v "${name}_PORT" %s "$port"
    printf -v "${name}_OUT" %s "$out"
}

# The receiver's count so far (it prints one on SIGUSR1).
sink_count() {
    local pid_var=${1}_PID out_var=${1}_OUT before i
    before=$(wc -l < "${!out_var}")
    kill -USR1 "${!pid_var}"
    for ((i = 0; i < 200; i++)); do
        [ "$(wc -l < "${!out_var}")" -gt "$before" ] && break
        sleep 0.01
    done
    tail -n 1 "${!out_var}"
}

# Waits until every named receiver's count stops growing (at most 120 s) and
# prints their counts.
sink_settle() {
    local prev="" now="" name i
    for ((i = 0; i < 240; i++)); do
        now=""
        for name in "$@"; do now+="$(sink_count "$name") "; done
        [ "$now" = "$prev" ] && break
        prev=$now
        sleep 0.5
    done
    echo "$now"
}

now() { date +%s.%N; }

# run <input> <sinks...> -- <command...>: runs one sender with the file on
# standard input and sets DELIVERED (one count per sink) and WALL.
run() {
    local input=$1 sinks=() before after start end name i=0
    shift
    while [ "$1" != "--" ]; do sinks+=("$1"); shift; done
    shift
    before=($(sink_settle "${sinks[@]}"))
    start=$(now)
    "$@" < "$input" > /dev/null 2> "$TMP/stderr" || { echo "$1 failed:" >&2; cat "$TMP/stderr" >&2; exit 1; }
    end=$(now)
    after=($(sink_settle "${sinks[@]}"))
    DELIVERED=()
    for name in "${sinks[@]}"; do
        DELIVERED+=($((after[i] - before[i])))
        i=$((i + 1))
    done
    WALL=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
}

cell() {  # delivered sent wall
    printf "%-13s %5.1f%% %6.2fs" "$1/$2" "$(awk -v d="$1" -v s="$2" 'BEGIN { print s ? 100 * d / s : 0 }')" "$3"
}

SENDERS=(program)
[ -n "$BASELINE" ] && SENDERS+=(baseline)
SENDERS+=(relay)
ROWS=()
# row <labels> <input> <sent> <sinks...>: each sender in turn over the same
# input; a line per sink (labels separated by "|"), a cell per sender.
row() {
    local labels sender d k
    IFS='|' read -r -a labels <<< "$1"
    local input=$2 sent=$3
    shift 3
    local sinks=("$@") dests=() cells=()
    for d in "${sinks[@]}"; do
        local port_var=${d}_PORT
        dests+=("${!port_var}")
    done
    for sender in "${SENDERS[@]}"; do
        case $sender in
            program|baseline)
                local bin=$PROGRAM hosts=""
                [ "$sender" = baseline ] && bin=$BASELINE
                for d in "${dests[@]}"; do hosts+="${hosts:+,}127.0.0.1:$d"; done
                run "$input" "${sinks[@]}" -- "$bin" -i -H "$hosts" ;;
            relay)
                local pairs=()
                for d in "${dests[@]}"; do pairs+=(127.0.0.1 "$d"); done
                run "$input" "${sinks[@]}" -- "$TOOLS/line_relay" "${pairs[@]}" ;;
        esac
        for k in "${!sinks[@]}"; do
            cells[k]+="  $(printf "%-27s" "$(cell "${DELIVERED[k]}" "$sent" "$WALL")")"
        done
    done
    for k in "${!sinks[@]}"; do
        ROWS+=("$(printf "%-36s" "${labels[k]}")${cells[k]}")
    done
}

sink_start FAST
sink_start SLOW

# Control: nothing shaped, every datagram arrives.
row "unslowed, $MESSAGES messages" "$TMP/main.nmea" "$MESSAGES" SLOW

# Everything slowed.
tc qdisc add dev lo root tbf $SHAPE
row "all slowed, $MESSAGES messages" "$TMP/main.nmea" "$MESSAGES" SLOW
for b in "${BURSTS[@]}"; do
    row "all slowed, burst of $b" "$TMP/burst$b.nmea" "$b" SLOW
done
tc qdisc del dev lo root

# Only the slow receiver's port slowed: the filter sends it to a class whose
# tbf shapes it as above; HTB passes whatever no filter takes through its
# direct queue, unshaped (HTB rather than prio, which not every kernel has).
tc qdisc add dev lo root handle 1: htb default 0 direct_qlen 1000000
tc class add dev lo parent 1: classid 1:30 htb rate 100gbit quantum 60000
tc qdisc add dev lo parent 1:30 handle 30: tbf $SHAPE
tc filter add dev lo parent 1: protocol ip prio 1 u32 match ip dport "$SLOW_PORT" 0xffff flowid 1:30
# The filter must take the slow port and only it: packets through the direct
# queue and through the tbf, before and after a check run to each port.
counts() {
    tc -s qdisc show dev lo | awk '
        $1 == "qdisc" { q = $2 " " $3; for (i = 1; i < NF; i++) if ($i == "direct_packets_stat") direct = $(i + 1) }
        q == "tbf 30:" && $1 == "Sent" { shaped = $4 }
        END { print direct + 0, shaped + 0 }'
}
CHECK=20000
head -n "$CHECK" "$TMP/single.nmea" > "$TMP/check.nmea"
CHECK=$(wc -l < "$TMP/check.nmea")
rate() { awk -v n="$CHECK" -v t="$WALL" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }'; }
read -r direct0 shaped0 < <(counts)
run "$TMP/check.nmea" FAST -- "$TOOLS/line_relay" 127.0.0.1 "$FAST_PORT"
fast_alone=$(rate)
read -r direct1 shaped1 < <(counts)
run "$TMP/check.nmea" SLOW -- "$TOOLS/line_relay" 127.0.0.1 "$SLOW_PORT"
slow_alone=$(rate)
read -r direct2 shaped2 < <(counts)
if [ $((direct1 - direct0)) -lt "$CHECK" ] || [ $((shaped1 - shaped0)) -ne 0 ] ||
   [ $((shaped2 - shaped1)) -lt "$CHECK" ] || [ $((direct2 - direct1)) -ne 0 ]; then
    echo "the filter does not single out port $SLOW_PORT: unshaped $direct0 $direct1 $direct2," \
         "shaped $shaped0 $shaped1 $shaped2" >&2
    exit 1
fi
# Unshaped is not unhindered: while the shaped port is busy, the wake-ups of
# its paced sender and receiver and the tbf timer take CPU from every packet
# through lo, so the fast port's rate is measured with the slow one busy too,
# and shown.
"$TOOLS/line_relay" 127.0.0.1 "$SLOW_PORT" < "$TMP/main.nmea" &
busy=$!
PIDS+=("$busy")
sleep 0.3
run "$TMP/check.nmea" FAST -- "$TOOLS/line_relay" 127.0.0.1 "$FAST_PORT"
fast_busy=$(rate)
wait "$busy"
sink_settle FAST SLOW > /dev/null
LINK_NOTE="one-sendto relay, datagrams/s: to the unshaped port $fast_alone alone, $fast_busy while the shaped one is busy; to the shaped port $slow_alone"
row "2 destinations, at the fast one|2 destinations, at the slow one" \
    "$TMP/main.nmea" "$MESSAGES" FAST SLOW
tc qdisc del dev lo root

echo "lo shaped with tc tbf $SHAPE; $MESSAGES distinct single-sentence messages, one datagram each"
echo "program:  $PROGRAM"
[ -n "$BASELINE" ] && echo "baseline: $BASELINE"
echo "relay:    $TOOLS/line_relay, one blocking sendto a datagram"
echo "two destinations: $LINK_NOTE"
header=$(printf "%-36s" "case")
for sender in "${SENDERS[@]}"; do header+="  $(printf "%-27s" "$sender")"; done
echo "$header"
printf "%s\n" "${ROWS[@]}"
echo "(each cell: delivered/sent, percent delivered, the sender's wall time)"
