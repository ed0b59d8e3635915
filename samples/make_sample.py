#!/usr/bin/env python3
"""Writes a sample NMEA log: AIS position, static and base-station reports of
many vessels, multi-sentence messages, repeats, non-VDM sentences and a few
lines with broken checksums. Deterministic (fixed seed).

usage: make_sample.py [--messages N] [--vessels N] [--seed S] > out.nmea
"""
import argparse
import random
import sys


class Bits:
    def __init__(self):
        self.bits = []

    def u(self, width, value):
        value &= (1 << width) - 1
        self.bits.extend((value >> (width - 1 - i)) & 1 for i in range(width))
        return self

    def s(self, width, value):
        return self.u(width, value & ((1 << width) - 1))

    def text(self, nchars, value):
        value = value.upper()[:nchars].ljust(nchars, "@")
        for ch in value:
            c = ord(ch)
            self.u(6, c - 64 if c >= 64 else c)
        return self


def armour(bits):
    fill = (-len(bits)) % 6
    padded = bits + [0] * fill
    out = []
    for i in range(0, len(padded), 6):
        v = 0
        for b in padded[i:i + 6]:
            v = (v << 1) | b
        out.append(chr(v + 48 if v < 40 else v + 56))
    return "".join(out), fill


def checksum(body):
    c = 0
    for ch in body[1:]:
        c ^= ord(ch)
    return "%s*%02X" % (body, c)


def sentences(bits, channel, seq, talker="AI"):
    payload, fill = armour(bits)
    chunks = [payload[i:i + 60] for i in range(0, len(payload), 60)] or [""]
    count = len(chunks)
    out = []
    for n, chunk in enumerate(chunks, 1):
        f = fill if n == count else 0
        sid = "" if count == 1 else str(seq)
        out.append(checksum("!%sVDM,%d,%d,%s,%s,%s,%d" % (talker, count, n, sid, channel, chunk, f)))
    return out


NAMES = ["NORDIC STAR", "SEA BREEZE", "OCEAN PEARL", "ATLANTIC DAWN", "BALTIC TRADER",
         "MISTRAL", "HARBOUR PILOT 7", "CORAL BAY", "NORTHERN LIGHT", "BLUE HERON",
         "SILVER WAVE", "CAPE HOPE", "ISLAND FERRY", "POLAR BEAR", "GOLDEN GATE"]
PORTS = ["ROTTERDAM", "HAMBURG", "ANTWERP", "LE HAVRE", "FELIXSTOWE", "GDANSK", "BERGEN",
         "AARHUS", "LISBOA", "CAPE TOWN"]


class Vessel:
    def __init__(self, rng, i):
        self.mmsi = 200000000 + rng.randrange(0, 575000000)
        self.lon = rng.uniform(-10.0, 30.0)
        self.lat = rng.uniform(35.0, 65.0)
        self.sog = rng.randrange(0, 250)
        self.cog = rng.randrange(0, 3600)
        self.classb = rng.random() < 0.3
        self.name = NAMES[i % len(NAMES)] + ("" if i < len(NAMES) else " %d" % i)
        self.callsign = "%c%c%c%d" % (rng.choice("DPLSGC"), rng.choice("ABCDEF"), rng.choice("XYZ"), i % 10)
        self.dest = rng.choice(PORTS)
        self.shiptype = rng.choice([30, 36, 37, 52, 60, 70, 71, 80, 89])
        self.imo = 9000000 + i

    def move(self, rng):
        self.lon += rng.uniform(-0.01, 0.01)
        self.lat += rng.uniform(-0.01, 0.01)
        self.cog = (self.cog + rng.randrange(-50, 50)) % 3600

    def position(self, rng):
        if self.classb:
            b = Bits().u(6, 18).u(2, 0).u(30, self.mmsi).u(8, 0).u(10, self.sog).u(1, 1)
            b.s(28, int(self.lon * 600000)).s(27, int(self.lat * 600000)).u(12, self.cog)
            b.u(9, self.cog // 10).u(6, rng.randrange(60)).u(2, 0).u(1, 1).u(1, 0).u(1, 1)
            b.u(1, 1).u(1, 0).u(1, 0).u(1, 0).u(20, 0)
            return b.bits
        t = rng.choice([1, 1, 1, 2, 3])
        b = Bits().u(6, t).u(2, 0).u(30, self.mmsi).u(4, 0 if self.sog else 1).s(8, 0)
        b.u(10, self.sog).u(1, 0).s(28, int(self.lon * 600000)).s(27, int(self.lat * 600000))
        b.u(12, self.cog).u(9, self.cog // 10).u(6, rng.randrange(60)).u(2, 0).u(3, 0)
        b.u(1, 0).u(19, rng.randrange(1 << 19))
        return b.bits

    def static(self):
        if self.classb:
            a = Bits().u(6, 24).u(2, 0).u(30, self.mmsi).u(2, 0).text(20, self.name).u(8, 0)
            bpart = Bits().u(6, 24).u(2, 0).u(30, self.mmsi).u(2, 1).u(8, self.shiptype)
            bpart.text(3, "SRT").u(4, 1).u(20, 0).text(7, self.callsign)
            bpart.u(9, 10).u(9, 5).u(6, 3).u(6, 3).u(4, 1).u(2, 0)
            return [a.bits, bpart.bits]
        b = Bits().u(6, 5).u(2, 0).u(30, self.mmsi).u(2, 0).u(30, self.imo)
        b.text(7, self.callsign).text(20, self.name).u(8, self.shiptype)
        b.u(9, 120).u(9, 30).u(6, 12).u(6, 12).u(4, 1)
        b.u(4, 12).u(5, 24).u(5, 18).u(6, 30).u(8, 85).text(20, self.dest).u(1, 0).u(1, 0)
        return [b.bits]


def base_station(rng, mmsi):
    b = Bits().u(6, 4).u(2, 0).u(30, mmsi).u(14, 2026).u(4, 12).u(5, 10)
    b.u(5, rng.randrange(24)).u(6, rng.randrange(60)).u(6, rng.randrange(60)).u(1, 1)
    b.s(28, int(4.5 * 600000)).s(27, int(52.0 * 600000)).u(4, 7).u(10, 0).u(1, 0).u(19, 0)
    return b.bits


def aid_to_navigation(mmsi, name):
    b = Bits().u(6, 21).u(2, 0).u(30, mmsi).u(5, 1).text(20, name).u(1, 0)
    b.s(28, int(4.1 * 600000)).s(27, int(51.9 * 600000)).u(9, 0).u(9, 0).u(6, 0).u(6, 0)
    b.u(4, 7).u(6, 60).u(8, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0)
    return b.bits


OTHER = [
    "$GPGGA,092750.000,5321.6802,N,00630.3372,W,1,8,1.03,61.7,M,55.2,M,,",
    "$GPRMC,092750.000,A,5321.6802,N,00630.3372,W,0.02,31.66,101226,,,A",
    "$GPZDA,092751.00,10,12,2026,00,00",
    "$AITXT,01,01,91,FREQ,2087,2088",
    "$HEHDT,123.4,T",
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--messages", type=int, default=600)
    ap.add_argument("--vessels", type=int, default=40)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--clean", action="store_true",
                    help="only distinct AIS messages: no repeats, no broken lines")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    fleet = [Vessel(rng, i) for i in range(args.vessels)]
    out = sys.stdout
    seq = 0
    written = 0
    last = []
    while written < args.messages:
        r = rng.random()
        lines = []
        broken = False
        if args.clean:
            v = fleet[written % len(fleet)]
            if written % 10 == 9:
                for part in v.static():
                    seq = seq % 9 + 1
                    lines += sentences(part, rng.choice("AB"), seq)
            else:
                v.move(rng)
                lines = sentences(v.position(rng), rng.choice("AB"), 0)
        elif r < 0.70:
            v = rng.choice(fleet)
            v.move(rng)
            lines = sentences(v.position(rng), rng.choice("AB"), 0)
        elif r < 0.82:
            v = rng.choice(fleet)
            for part in v.static():
                seq = seq % 9 + 1
                lines += sentences(part, rng.choice("AB"), seq)
        elif r < 0.86:
            lines = sentences(base_station(rng, 2442000 + rng.randrange(5)), "A", 0)
        elif r < 0.88:
            lines = sentences(aid_to_navigation(992446000 + rng.randrange(3), "EUROPOORT BUOY"), "B", 0)
        elif r < 0.93:
            lines = [checksum(rng.choice(OTHER))]
        elif r < 0.96 and last:
            lines = list(last)  # the same message heard again by a second receiver
        else:
            v = rng.choice(fleet)
            s = sentences(v.position(rng), "A", 0)[0]
            lines = [s[:-2] + ("%02X" % ((int(s[-2:], 16) + 1) & 0xFF))]  # broken checksum
            broken = True
        if lines and lines[0].startswith("!") and not broken:
            last = lines
        for line in lines:
            out.write(line + "\r\n")
        written += 1


if __name__ == "__main__":
    main()
