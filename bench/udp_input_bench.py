#!/usr/bin/env python3
"""UDP input benchmark: how fast `aisbrinecast -u` takes datagrams without losing one.

Makes unique single-sentence AIS messages (bench/make_traffic, one-sentence
messages only), then, sender and receivers on 127.0.0.1, with one destination:
  steady: sends 1,000,000 of them, one per datagram, at rising steady rates,
          and reports for each rate what reached the destination, what the
          kernel dropped at the forwarder's socket and what still waited
          there when the sender stopped; each forwarder climbs until its first
          loss, and the highest rate with nothing lost and next to nothing
          waiting is its figure (the bar: the program at least the relay);
  bursts: sends bursts of 10,000 datagrams back to back with a pause between
          them, and reports what was lost (the bar: nothing).
In the same run, side by side, the same trials through udp_relay, a minimal
relay that only receives (recvmmsg) and sends (sendto), as the yardstick.

usage: bench/udp_input_bench.py [--build DIR] [--rates R,R,...] [--count N]
                                [--bursts N] [--burst-size N] [--pause-ms MS]
"""
import argparse
import os
import socket
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# At most this much queued when the sender stops (about 1,200 small datagrams,
# a few milliseconds of work) counts as keeping up.
kSteadyBacklog = 1 << 20


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DAISB_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", "4", "--target", "aisbrinecast",
                    "make_traffic", "udp_sink", "udp_send", "udp_relay"], check=True,
                   stdout=subprocess.DEVNULL)


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def socket_stats(port):
    """(bytes queued, datagrams dropped) of the UDP socket bound to 127.0.0.1:port, or None."""
    want = "0100007F:%04X" % port
    with open("/proc/net/udp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[1] == want:
                return int(fields[4].split(":")[1], 16), int(fields[-1])
    return None


def wait_bound(port, limit=10.0):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if socket_stats(port) is not None:
            return True
        time.sleep(0.02)
    return False


class Trial:
    """One forwarder (the program or the yardstick) between udp_send and udp_sink."""

    def __init__(self, tools, relay):
        self.tools = tools
        self.relay = relay

    def run(self, lines_path, send_args):
        sink = subprocess.Popen([self.tools["udp_sink"]], stdout=subprocess.PIPE, text=True)
        sink_port = int(sink.stdout.readline())
        port = free_udp_port()
        if self.relay:
            cmd = [self.tools["udp_relay"], str(port), str(sink_port)]
        else:
            cmd = [self.tools["aisbrinecast"], "-u", "-h", "127.0.0.1", "-p", str(port),
                   "-H", "127.0.0.1:%d" % sink_port]
        fwd = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            if not wait_bound(port):
                sys.exit("%s did not bind port %d" % (cmd[0], port))
            with open(lines_path, "rb") as f:
                out = subprocess.run([self.tools["udp_send"], str(port)] + send_args, stdin=f,
                                     stdout=subprocess.PIPE, text=True, check=True).stdout.split()
            sent, rate = int(out[0]), float(out[1])
            # What still waits when the sender stops: a forwarder that keeps
            # up has next to nothing queued; a large buffer only hides a
            # deficit for a while.
            backlog = (socket_stats(port) or (0, 0))[0]
            time.sleep(0.5)  # let the forwarder empty its queue
            drops = (socket_stats(port) or (0, 0))[1]
        finally:
            fwd.kill()
            fwd.wait()
            time.sleep(0.2)
            sink.terminate()
            got = int(sink.stdout.readline() or 0)
            sink.wait()
        return sent, rate, got, drops, backlog


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--rates", default="100000,150000,200000,250000,300000,350000,400000,500000,600000")
    ap.add_argument("--count", type=int, default=1000000, help="datagrams of each steady trial")
    ap.add_argument("--bursts", type=int, default=20)
    ap.add_argument("--burst-size", type=int, default=10000)
    ap.add_argument("--pause-ms", type=float, default=200)
    args = ap.parse_args()

    build(args.build)
    tools = {name: os.path.join(args.build, "bench", name)
             for name in ("make_traffic", "udp_sink", "udp_send", "udp_relay")}
    tools["aisbrinecast"] = os.path.join(args.build, "app", "aisbrinecast")
    rates = [int(r) for r in args.rates.split(",")]
    need = max(args.count, args.bursts * args.burst_size)

    with tempfile.TemporaryDirectory() as tmp:
        everything = os.path.join(tmp, "traffic.nmea")
        with open(everything, "wb") as f:
            subprocess.run([tools["make_traffic"], str(int(need * 1.4) + 1000), "50000"], stdout=f,
                           check=True)
        single = [line for line in open(everything, "rb") if b"VDM,1,1," in line]
        if len(single) < need:
            sys.exit("only %d single-sentence messages, %d needed" % (len(single), need))
        print("traffic: unique single-sentence AIS messages, one per datagram, one destination")

        def lines(count):
            path = os.path.join(tmp, "lines-%d.nmea" % count)
            if not os.path.exists(path):
                with open(path, "wb") as f:
                    f.writelines(single[:count])
            return path

        program, relay = Trial(tools, False), Trial(tools, True)
        best = {"program": 0, "relay": 0}
        print("\nsteady rates, %d datagrams each:" % args.count)
        print("%10s  %-9s %9s %9s %9s %9s %12s" % ("rate/s", "forwarder", "sent", "reached", "lost",
                                                     "dropped", "backlog KiB"))
        climbing = {"program": True, "relay": True}
        for rate in rates:
            for name, trial in (("program", program), ("relay", relay)):
                if not climbing[name]:
                    continue
                sent, reached_rate, got, drops, backlog = trial.run(lines(args.count), ["steady", str(rate)])
                lost = sent - got
                print("%10d  %-9s %9d %9d %9d %9d %12d%s"
                      % (rate, name, sent, got, lost, drops, backlog // 1024,
                         "" if reached_rate >= rate * 0.98 else "  (sender reached only %.0f/s)"
                         % reached_rate))
                if (lost == 0 and drops == 0 and backlog <= kSteadyBacklog
                        and reached_rate >= rate * 0.98):
                    best[name] = max(best[name], rate)
                elif reached_rate >= rate * 0.98:
                    climbing[name] = False  # its first loss: higher rates only lose more

        print("\nbursts of %d back to back, %.0f ms apart, %d bursts:"
              % (args.burst_size, args.pause_ms, args.bursts))
        burst = {}
        for name, trial in (("program", program), ("relay", relay)):
            sent, _rate, got, drops, _backlog = trial.run(lines(args.bursts * args.burst_size),
                                                ["bursts", str(args.burst_size), str(args.pause_ms)])
            burst[name] = sent - got
            print("  %-8s sent %d, reached %d, lost %d, dropped at its socket %d"
                  % (name, sent, got, sent - got, drops))

    print("\nhighest steady rate with nothing lost: aisbrinecast -u %d/s, minimal relay %d/s "
          "(ratio %.2f); bar: the program at least the relay"
          % (best["program"], best["relay"], best["program"] / best["relay"] if best["relay"] else 0))
    print("bursts of %d: aisbrinecast -u lost %d, minimal relay lost %d; bar: nothing lost"
          % (args.burst_size, burst["program"], burst["relay"]))


if __name__ == "__main__":
    main()
