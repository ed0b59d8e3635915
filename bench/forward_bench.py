#!/usr/bin/env python3
"""Whole-program forwarding benchmark.

Generates 1,000,000 distinct messages of 50,000 vessels (types 1-3, 5 in two
sentences, 18, 24), starts a UDP receiver on 127.0.0.1 and times, in the same
rounds: (a) line_relay, a minimal relay that sends every line as one datagram
with one sendto each, (a64) line_relay --batch 64, the same with 64 lines per
sendmmsg, and (b) `aisbrinecast -i` over the same file with one destination,
then with ten. Reports the wall times, the ratio b/a (the bar: at most 0.6),
beside it the ratio b/a64 to the batching relay, and the peak memory of the
program (the bar: at most 40 MiB with one destination).
Then (c) feeds 1,000,000 messages of as many distinct MMSIs to
`aisbrinecast -i` with one destination and reports its peak memory (the
bar: at most 200 MiB) and the memory per vessel above an idle run.

With --baseline BIN, another aisbrinecast binary (an earlier build, say)
runs (b) with one destination in the same rounds, for a before/after ratio
under the same load. --program BIN times a binary built elsewhere instead of
the one in the build directory.

usage: bench/forward_bench.py [--build DIR] [--messages N] [--vessels N] [--repeat N]
                              [--distinct N] [--baseline BIN] [--program BIN]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DAISB_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", "4", "--target",
                    "aisbrinecast", "make_traffic", "line_relay", "udp_sink"], check=True,
                   stdout=subprocess.DEVNULL)


class Receiver:
    """bench/udp_sink on 127.0.0.1: counts the datagrams of each run."""

    def __init__(self, sink):
        self.sink = sink
        self.proc = None
        self.port = None

    def start(self):
        self.proc = subprocess.Popen([self.sink], stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())

    def take(self):
        time.sleep(0.3)
        self.proc.terminate()
        n = int(self.proc.stdout.readline() or 0)
        self.proc.wait()
        return n


GNU_TIME = "/usr/bin/time"


def timed(cmd, input_path):
    """Wall time in seconds and peak resident memory in MiB of one run.

    The peak comes from GNU time when it is there: a child forked by Python
    counts Python's own pages in its peak until it calls exec."""
    with tempfile.NamedTemporaryFile("r") as rss, open(input_path, "rb") as f:
        wrapped = ([GNU_TIME, "-f", "%M", "-o", rss.name] + cmd) if os.access(GNU_TIME, os.X_OK) else cmd
        start = time.monotonic()
        p = subprocess.Popen(wrapped, stdin=f, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.monotonic() - start
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("%s failed with status %d" % (cmd[0], os.waitstatus_to_exitcode(status)))
        text = rss.read().strip().splitlines()
        kib = int(text[-1]) if wrapped is not cmd and text else usage.ru_maxrss
    return wall, kib / 1024.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--messages", type=int, default=1000000)
    ap.add_argument("--vessels", type=int, default=50000)
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--distinct", type=int, default=1000000)
    ap.add_argument("--baseline", help="another aisbrinecast binary, timed in the same rounds")
    ap.add_argument("--program", help="the aisbrinecast binary to time (default: the build's)")
    args = ap.parse_args()

    build(args.build)
    program = args.program or os.path.join(args.build, "app", "aisbrinecast")
    relay = os.path.join(args.build, "bench", "line_relay")
    with tempfile.TemporaryDirectory() as tmp:
        traffic = os.path.join(tmp, "traffic.nmea")
        with open(traffic, "wb") as f:
            subprocess.run([os.path.join(args.build, "bench", "make_traffic"), str(args.messages),
                            str(args.vessels)], stdout=f, check=True)
        lines = sum(1 for _ in open(traffic, "rb"))
        print("traffic: %d messages of %d vessels, %d lines, %.1f MiB"
              % (args.messages, args.vessels, lines, os.path.getsize(traffic) / 1048576.0))
        print("program: %s" % program)

        rx = Receiver(os.path.join(args.build, "bench", "udp_sink"))
        runs = {"a": [], "a64": [], "b1": [], "b10": [], "base": []}
        peak = {"b1": 0.0, "b10": 0.0, "base": 0.0}
        got = {}
        for _ in range(args.repeat):
            rx.start()
            w, _m = timed([relay, "127.0.0.1", str(rx.port)], traffic)
            runs["a"].append(w)
            got["a"] = rx.take()
            rx.start()
            w, _m = timed([relay, "--batch", "64", "127.0.0.1", str(rx.port)], traffic)
            runs["a64"].append(w)
            got["a64"] = rx.take()
            rx.start()
            dest = "127.0.0.1:%d" % rx.port
            w, m = timed([program, "-i", "-H", dest], traffic)
            runs["b1"].append(w)
            peak["b1"] = max(peak["b1"], m)
            got["b1"] = rx.take()
            if args.baseline:
                rx.start()
                w, m = timed([args.baseline, "-i", "-H", "127.0.0.1:%d" % rx.port], traffic)
                runs["base"].append(w)
                peak["base"] = max(peak["base"], m)
                got["base"] = rx.take()
            rx.start()
            dest = "127.0.0.1:%d" % rx.port
            w, m = timed([program, "-i", "-H", ",".join([dest] * 10)], traffic)
            runs["b10"].append(w)
            peak["b10"] = max(peak["b10"], m)
            got["b10"] = rx.take()

        # (c) every message from a vessel of its own, and an idle run for the base.
        distinct = os.path.join(tmp, "distinct.nmea")
        with open(distinct, "wb") as f:
            subprocess.run([os.path.join(args.build, "bench", "make_traffic"), str(args.distinct),
                            str(args.distinct)], stdout=f, check=True)
        empty = os.path.join(tmp, "empty.nmea")
        open(empty, "wb").close()
        rx.start()
        dest = "127.0.0.1:%d" % rx.port
        _w, idle = timed([program, "-i", "-H", dest], empty)
        _w, peak["c"] = timed([program, "-i", "-H", dest], distinct)
        got["c"] = rx.take()

    a = statistics.median(runs["a"])
    a64 = statistics.median(runs["a64"])
    b1 = statistics.median(runs["b1"])
    b10 = statistics.median(runs["b10"])
    print("(a)  minimal relay, one sendto per line:     %.3f s  (%d datagrams received)" % (a, got["a"]))
    print("(a64) minimal relay, 64 lines per sendmmsg:  %.3f s  (%d datagrams received)" % (a64, got["a64"]))
    print("(b)  aisbrinecast -i, 1 destination:         %.3f s  (%d datagrams received), peak RSS %.1f MiB"
          % (b1, got["b1"], peak["b1"]))
    print("     aisbrinecast -i, 10 destinations:       %.3f s  (%d datagrams received), peak RSS %.1f MiB"
          % (b10, got["b10"], peak["b10"]))
    print("ratio b/a with 1 destination: %.2f (bar: at most 0.6); to the batching relay b/a64: %.2f"
          % (b1 / a, b1 / a64))
    print("ratio b/a with 10 destinations: %.2f; b/a64: %.2f" % (b10 / a, b10 / a64))
    if args.baseline:
        base = statistics.median(runs["base"])
        print("     baseline %s, 1 destination: %.3f s  (%d datagrams received), peak RSS %.1f MiB;"
              " ratio to the relay %.2f, to the batching relay %.2f, this build to the baseline %.2f"
              % (args.baseline, base, got["base"], peak["base"], base / a, base / a64, b1 / base))
    print("(c)  aisbrinecast -i, %d distinct MMSIs, 1 destination: peak RSS %.1f MiB (bar: at most 200),"
          " %.0f bytes per vessel above an idle run (%.1f MiB); %d datagrams received"
          % (args.distinct, peak["c"], (peak["c"] - idle) * 1048576.0 / args.distinct, idle, got["c"]))
    print("(medians of %d runs; receiver counts can fall short of what was sent when it can't keep up)"
          % args.repeat)


if __name__ == "__main__":
    main()
