#!/usr/bin/env python3
"""Whole-program forwarding benchmark.

Generates 1,000,000 distinct messages of 50,000 vessels (types 1-3, 5 in two
sentences, 18, 24), starts a UDP receiver on 127.0.0.1 and times, in the same
run: (a) line_relay, a minimal relay that sends every line as one datagram,
and (b) `aisbrinecast -i` over the same file with one destination, then with
ten. Reports the wall times, the ratio b/a (the bar: at most 1.5) and the
peak memory of the program.

usage: bench/forward_bench.py [--build DIR] [--messages N] [--vessels N] [--repeat N]
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
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 4), "--target",
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


def timed(cmd, input_path):
    """Wall time in seconds and peak resident memory in MiB of one run."""
    with open(input_path, "rb") as f:
        start = time.monotonic()
        p = subprocess.Popen(cmd, stdin=f, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed with status %d" % (cmd[0], os.waitstatus_to_exitcode(status)))
    return wall, usage.ru_maxrss / 1024.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--messages", type=int, default=1000000)
    ap.add_argument("--vessels", type=int, default=50000)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    build(args.build)
    program = os.path.join(args.build, "app", "aisbrinecast")
    relay = os.path.join(args.build, "bench", "line_relay")
    with tempfile.TemporaryDirectory() as tmp:
        traffic = os.path.join(tmp, "traffic.nmea")
        with open(traffic, "wb") as f:
            subprocess.run([os.path.join(args.build, "bench", "make_traffic"), str(args.messages),
                            str(args.vessels)], stdout=f, check=True)
        lines = sum(1 for _ in open(traffic, "rb"))
        print("traffic: %d messages of %d vessels, %d lines, %.1f MiB"
              % (args.messages, args.vessels, lines, os.path.getsize(traffic) / 1048576.0))

        rx = Receiver(os.path.join(args.build, "bench", "udp_sink"))
        runs = {"a": [], "b1": [], "b10": []}
        peak = {"b1": 0.0, "b10": 0.0}
        got = {}
        for _ in range(args.repeat):
            rx.start()
            w, _m = timed([relay, "127.0.0.1", str(rx.port)], traffic)
            runs["a"].append(w)
            got["a"] = rx.take()
            rx.start()
            dest = "127.0.0.1:%d" % rx.port
            w, m = timed([program, "-i", "-H", dest], traffic)
            runs["b1"].append(w)
            peak["b1"] = max(peak["b1"], m)
            got["b1"] = rx.take()
            rx.start()
            dest = "127.0.0.1:%d" % rx.port
            w, m = timed([program, "-i", "-H", ",".join([dest] * 10)], traffic)
            runs["b10"].append(w)
            peak["b10"] = max(peak["b10"], m)
            got["b10"] = rx.take()

    a = statistics.median(runs["a"])
    b1 = statistics.median(runs["b1"])
    b10 = statistics.median(runs["b10"])
    print("(a)  minimal relay, one datagram per line:   %.3f s  (%d datagrams received)" % (a, got["a"]))
    print("(b)  aisbrinecast -i, 1 destination:         %.3f s  (%d datagrams received), peak RSS %.1f MiB"
          % (b1, got["b1"], peak["b1"]))
    print("     aisbrinecast -i, 10 destinations:       %.3f s  (%d datagrams received), peak RSS %.1f MiB"
          % (b10, got["b10"], peak["b10"]))
    print("ratio b/a with 1 destination: %.2f (bar: at most 1.5)" % (b1 / a))
    print("ratio b/a with 10 destinations: %.2f" % (b10 / a))
    print("(medians of %d runs; receiver counts can fall short of what was sent when it can't keep up)"
          % args.repeat)


if __name__ == "__main__":
    main()
