#!/usr/bin/env python3
"""Memory of the vessel snapshot in the running program.

Feeds the same traffic (position and static reports of N distinct vessels,
two messages per vessel) to `aisbrinecast -i` three times, keeping standard
input open so the process stays up, and reads its resident memory from
/proc once the input is handled:
  (a) without -X: the forwarding alone;
  (b) with -X 3600: the snapshot is kept, no export has run yet;
  (c) with -X 3: after three exports, between two of them, and the peak.
Reports (b - a) and (c - a) per vessel (the snapshot between exports) and
the peak of an export above (b), per vessel.

usage: bench/export_memory.py [--build DIR] [--vessels N]
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KMZ = "aisBrinecastSnapshot.kmz"


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DAISB_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j4", "--target", "aisbrinecast",
                    "make_traffic"], check=True, stdout=subprocess.DEVNULL)


def status(pid):
    """VmRSS and VmHWM of the process, in KiB."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    return values


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def wait_idle(pid, deadline=120):
    """Until the process has used no CPU for half a second."""
    end = time.monotonic() + deadline
    last = cpu_ticks(pid)
    while time.monotonic() < end:
        time.sleep(0.5)
        now = cpu_ticks(pid)
        if now == last:
            return
        last = now
    sys.exit("the program did not settle")


def run(program, traffic, destination, extra, exports=0, export_dir=None):
    """Resident memory in KiB once the input is handled (and, with `exports`,
    after that many exports), and the high-water mark."""
    p = subprocess.Popen([program, "-i", "-H", destination] + extra, stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        with open(traffic, "rb") as f:
            p.stdin.write(f.read())
        p.stdin.flush()
        wait_idle(p.pid)
        settled = status(p.pid)
        seen = 0
        last = None
        end = time.monotonic() + 600
        while seen < exports and time.monotonic() < end:
            time.sleep(0.05)
            try:
                stamp = os.stat(os.path.join(export_dir, KMZ)).st_mtime_ns
            except FileNotFoundError:
                continue
            if stamp != last:
                last = stamp
                seen += 1
        if seen < exports:
            sys.exit("the program did not export")
        if exports:
            wait_idle(p.pid)
            settled = status(p.pid)
        return settled["VmRSS"], status(p.pid)["VmHWM"]
    finally:
        p.kill()
        p.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--vessels", type=int, default=100000)
    args = ap.parse_args()

    build(args.build)
    program = os.path.join(args.build, "app", "aisbrinecast")
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # never read: datagrams overflow and drop
    sink.bind(("127.0.0.1", 0))
    destination = "127.0.0.1:%d" % sink.getsockname()[1]
    with tempfile.TemporaryDirectory() as tmp:
        traffic = os.path.join(tmp, "traffic.nmea")
        with open(traffic, "wb") as f:
            subprocess.run([os.path.join(args.build, "bench", "make_traffic"),
                            str(2 * args.vessels), str(args.vessels)], stdout=f, check=True)
        out = os.path.join(tmp, "out")
        a, _ = run(program, traffic, destination, [])
        b, _ = run(program, traffic, destination, ["-X", "3600", "-S", out])
        c, peak = run(program, traffic, destination, ["-X", "3", "-S", out], exports=3, export_dir=out)
        with zipfile.ZipFile(os.path.join(out, KMZ)) as z:
            vessels = z.read("aisBrinecastSnapshot.kml").count(b"<Placemark>")

    def per_vessel(kib):
        return kib * 1024.0 / vessels

    print("%d vessels in the snapshot (%d distinct MMSIs sent, two messages each)"
          % (vessels, args.vessels))
    print("(a) without -X:                 RSS %7.1f MiB" % (a / 1024.0))
    print("(b) -X, before any export:      RSS %7.1f MiB   snapshot %5.0f bytes per vessel (b - a)"
          % (b / 1024.0, per_vessel(b - a)))
    print("(c) -X, between exports:        RSS %7.1f MiB   snapshot %5.0f bytes per vessel (c - a)"
          % (c / 1024.0, per_vessel(c - a)))
    print("    peak of an export (KMZ):    RSS %7.1f MiB   export   %5.0f bytes per vessel above (b)"
          % (peak / 1024.0, per_vessel(peak - b)))


if __name__ == "__main__":
    main()
