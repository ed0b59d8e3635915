#!/usr/bin/env python3
"""Memory of the vessel snapshot and of its export in the running program.

For each snapshot size N, feeds the same traffic (position and static
reports of N distinct vessels, two messages per vessel) to
`aisbrinecast -i`, keeping standard input open so the process stays up,
and reads its resident memory from /proc once the input is handled:
  (a) without -X: the forwarding alone;
  (b) with -X 3600: the snapshot is kept, no export has run yet;
  (c) with -X, for KMZ and for KML: after the exports, between two of them,
      and the peak.
Reports (b - a) and (c - a) per vessel (the snapshot between exports) and
the peak of an export above (b), per vessel.

Then a purge: a flood of F vessels and L live ones that keep being heard,
with -P 1; resident memory after the flood, and after the export that
purged the flood, beside the same traffic without -X.

usage: bench/export_memory.py [--build DIR] [--vessels N,N...] [--flood F]
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


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


def export_name(kmz):
    return "aisBrinecastSnapshot." + ("kmz" if kmz else "kml")


def wait_exports(export_dir, name, count, deadline=900):
    """Until the export file has been replaced `count` times."""
    seen = 0
    last = None
    end = time.monotonic() + deadline
    while seen < count and time.monotonic() < end:
        time.sleep(0.05)
        try:
            stamp = os.stat(os.path.join(export_dir, name)).st_mtime_ns
        except FileNotFoundError:
            continue
        if stamp != last:
            last = stamp
            seen += 1
    if seen < count:
        sys.exit("the program did not export")


def start(program, traffic, destination, extra):
    """`aisbrinecast -i` fed with the traffic, its standard input kept open,
    once it has handled it."""
    p = subprocess.Popen([program, "-i", "-H", destination] + extra, stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(traffic, "rb") as f:
        p.stdin.write(f.read())
    p.stdin.flush()
    wait_idle(p.pid)
    return p


def run(program, traffic, destination, extra, exports=0, export_dir=None, kmz=True):
    """Resident memory in KiB once the input is handled (and, with `exports`,
    after that many exports), and the high-water mark."""
    p = start(program, traffic, destination, extra)
    try:
        settled = status(p.pid)
        if exports:
            wait_exports(export_dir, export_name(kmz), exports)
            wait_idle(p.pid)
            settled = status(p.pid)
        return settled["VmRSS"], status(p.pid)["VmHWM"]
    finally:
        p.kill()
        p.wait()


def make_traffic(build_dir, path, messages, vessels):
    with open(path, "wb") as f:
        subprocess.run([os.path.join(build_dir, "bench", "make_traffic"), str(messages), str(vessels)],
                       stdout=f, check=True)


def placemarks(export_dir, kmz):
    path = os.path.join(export_dir, export_name(kmz))
    count = 0
    if kmz:
        with zipfile.ZipFile(path) as z, z.open("aisBrinecastSnapshot.kml") as f:
            tail = b""
            for block in iter(lambda: f.read(1 << 20), b""):
                count += (tail + block).count(b"<Placemark>")
                tail = block[-10:]
    else:
        with open(path, "rb") as f:
            tail = b""
            for block in iter(lambda: f.read(1 << 20), b""):
                count += (tail + block).count(b"<Placemark>")
                tail = block[-10:]
    return count


def measure_size(program, build_dir, destination, vessels, tmp):
    traffic = os.path.join(tmp, "traffic.nmea")
    make_traffic(build_dir, traffic, 2 * vessels, vessels)
    # Room between exports for the process to settle: an export of a large
    # snapshot takes seconds.
    interval = max(5, vessels // 20000)
    exports = 2 if vessels <= 200000 else 1
    a, _ = run(program, traffic, destination, [])
    b, _ = run(program, traffic, destination, ["-X", "3600", "-S", os.path.join(tmp, "none")])
    print("%d distinct MMSIs sent, two messages each; -X %d, %d export(s) waited for"
          % (vessels, interval, exports))
    print("  (a) without -X:                 RSS %7.1f MiB" % (a / 1024.0))
    for kmz in (True, False):
        out = os.path.join(tmp, "out-%d-%s" % (vessels, "kmz" if kmz else "kml"))
        c, peak = run(program, traffic, destination,
                      ["-X", str(interval), "-S", out, "-z", "yes" if kmz else "no"],
                      exports=exports, export_dir=out, kmz=kmz)
        n = placemarks(out, kmz)
        shutil.rmtree(out)

        def per_vessel(kib):
            return kib * 1024.0 / n

        if kmz:
            print("  (b) -X, before any export:      RSS %7.1f MiB   snapshot %5.0f bytes per vessel (b - a)"
                  % (b / 1024.0, per_vessel(b - a)))
        kind = "KMZ" if kmz else "KML"
        print("  (c) %s, between exports:       RSS %7.1f MiB   snapshot %5.0f bytes per vessel (c - a)"
              % (kind, c / 1024.0, per_vessel(c - a)))
        print("      peak of a %s export:       RSS %7.1f MiB   export   %5.0f bytes per vessel above (b),"
              " %d vessels" % (kind, peak / 1024.0, per_vessel(peak - b), n))
    os.remove(traffic)


def measure_purge(program, build_dir, destination, flood, tmp, live=1000):
    """RSS after a flood and after the export that purged it (-P 1), with
    and without the snapshot."""
    traffic = os.path.join(tmp, "flood.nmea")
    make_traffic(build_dir, traffic, 2 * flood, flood)
    heard = os.path.join(tmp, "live-%d.nmea")
    for k in range(8):  # distinct traffic for each round, so nothing is a duplicate
        make_traffic(build_dir, heard % k, 2 * live * (k + 1), live)
    results = {}
    for with_export in (True, False):
        out = os.path.join(tmp, "out-purge")
        extra = ["-X", "5", "-P", "1", "-S", out] if with_export else []
        p = start(program, traffic, destination, extra)
        try:
            after_flood = status(p.pid)["VmRSS"]
            began = time.monotonic()
            k = 0
            # The live vessels are heard every 10 s; after 60 s and the next
            # export the flood is gone.
            while time.monotonic() - began < 80:
                with open(heard % (k % 8), "rb") as f:
                    lines = f.read().split(b"\n")
                # Only the newest of each round's messages: older rounds' were sent.
                p.stdin.write(b"\n".join(lines[-2 * live - 1:]))
                p.stdin.flush()
                k += 1
                time.sleep(10)
            if with_export:
                wait_exports(out, export_name(True), 1)
            wait_idle(p.pid)
            results[with_export] = (after_flood, status(p.pid)["VmRSS"])
            if with_export:
                left = placemarks(out, True)
                shutil.rmtree(out)
        finally:
            p.kill()
            p.wait()
    (f_x, p_x), (f_0, p_0) = results[True], results[False]
    print("purge: %d flood vessels, %d kept alive, -X 5 -P 1; %d vessels left in the export"
          % (flood, live, left))
    print("  with -X:    RSS after the flood %7.1f MiB, after the purge %7.1f MiB" % (f_x / 1024.0, p_x / 1024.0))
    print("  without -X: RSS after the flood %7.1f MiB, at the same time %7.1f MiB" % (f_0 / 1024.0, p_0 / 1024.0))
    print("  snapshot left after the purge: %.1f MiB (was %.1f MiB)"
          % ((p_x - p_0) / 1024.0, (f_x - f_0) / 1024.0))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--vessels", default="100000,1000000")
    ap.add_argument("--flood", type=int, default=200000, help="0: no purge run")
    args = ap.parse_args()

    build(args.build)
    program = os.path.join(args.build, "app", "aisbrinecast")
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # never read: datagrams overflow and drop
    sink.bind(("127.0.0.1", 0))
    destination = "127.0.0.1:%d" % sink.getsockname()[1]
    with tempfile.TemporaryDirectory() as tmp:
        for vessels in (int(v) for v in args.vessels.split(",") if v):
            measure_size(program, args.build, destination, vessels, tmp)
        if args.flood:
            measure_purge(program, args.build, destination, args.flood, tmp)


if __name__ == "__main__":
    main()
