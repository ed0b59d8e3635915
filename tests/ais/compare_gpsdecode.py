#!/usr/bin/env python3
"""Checks the decoder's golden file against an independent decoder.

Feeds every message of golden/corpus.nmea to `gpsdecode -u -j -s` (Debian's
gpsd-clients; -u unscaled raw values, -j JSON, -s type 24 halves reported
separately instead of waiting for the pair) and compares each field it
reports with the same field of golden/decoded.txt. Exits 0 when every
difference is one of the deliberate ones below, 1 otherwise. Run by hand
after the golden file changes; the test suite itself never needs gpsdecode.

usage: compare_gpsdecode.py [--verbose]

Deliberate differences of this decoder (each counted in the summary):
  rot-128     rate of turn raw 128 ("no information") is kept as +128;
              gpsd reads the 8 bits as signed, -128.
  text-at     six-bit value 0 ("@") is dropped wherever it stands and the
              text goes on; gpsd ends the text at the first "@".
  text-space  trailing spaces of a text are kept; gpsd trims them.
  type27      type 27 is stored in the units of types 1 to 3 (positions in
              1/10000 minute, speed in 1/10 knot, course in 1/10 degree);
              gpsd -u gives the raw 1/10 minute, knot and degree.
  short-form  fields that a shorter standard form does not carry are stored
              as 0; gpsd leaves them out (nothing to compare) or gives 0.
  odd-bits    binary data of types 6 and 8 keeps whole bytes; the bits after
              the last whole byte are dropped, gpsd keeps them.
  part-b      type 24 part numbers 2 and 3 are read as part B; gpsd drops
              such a message ("subtype unknown").
  aux-craft   in a type 24 part B of an auxiliary craft (MMSI 98xxxxxxx) the
              mothership MMSI bits are read as the four dimensions; gpsd
              gives "mothership_mmsi". The check rebuilds the 30-bit number
              from the dimensions and compares that.

gpsd quirks, not differences of this decoder (explained, not counted):
  - type 7 and 13: gpsd reports no sequence numbers; type 9 and 18 no
    assigned flag; type 23 no Tx/Rx mode; types 4, 9, 11, 18 and 19 the
    radio status as one number (compared where this decoder splits it).
  - type 21: gpsd joins the name and its extension into one "name".
  - types 6, 8, 17: gpsd gives the binary part as "bits:hex"; it is rebuilt
    here from the stored fields. Type 6 and 8 application id is dac and fid.
  - types 22, 25, 26: this decoder keeps only repeat and MMSI (22) or only
    the header (25, 26), so only those are compared.
"""
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "golden", "corpus.nmea")
GOLDEN = os.path.join(HERE, "golden", "decoded.txt")

FIELD = re.compile(r'(\w+)=("(?:[^"\\]|\\.)*"|\S+)')
LINE = re.compile(r'^\[(.*?)\] (.*)$')


def parse_golden_line(line):
    m = LINE.match(line)
    label, rest = m.group(1), m.group(2)
    head, _, rec = rest.partition(" | ")
    fields = {}
    for key, value in FIELD.findall(head):
        fields["@" + key] = int(value)
    for key, value in FIELD.findall(rec):
        if value.startswith('"'):
            fields[key] = re.sub(r'\\(.)', r'\1', value[1:-1])
        elif key == "data":
            fields[key] = "" if value == "-" else value
        else:
            fields[key] = int(value)
    return label, fields


def read_corpus():
    messages = []
    label, lines = None, []
    for line in open(CORPUS):
        line = line.rstrip("\n")
        if line.startswith("#"):
            if lines:
                messages.append((label, lines))
            label, lines = line.lstrip("# "), []
        elif line:
            lines.append(line)
    if lines:
        messages.append((label, lines))
    return messages


def gpsdecode(lines):
    out = subprocess.run(["gpsdecode", "-u", "-j", "-s"], input="\n".join(lines) + "\n",
                         capture_output=True, text=True, check=True).stdout
    reports = [json.loads(l) for l in out.splitlines() if l.strip()]
    return reports[0] if reports else None


def bits_hex(nbits, value):
    """gpsd's "bits:hex" form of an nbits-bit value."""
    if nbits == 0:
        return "0:"
    nbytes = (nbits + 7) // 8
    return "%d:%0*x" % (nbits, 2 * nbytes, value << (8 * nbytes - nbits))


def binary_payload(ours):
    """The stored data of types 6 and 8 in gpsd's form."""
    data = bytes.fromhex(ours["data"]) if ours["data"] else b""
    return bits_hex(len(data) * 8, int.from_bytes(data, "big"))


def dgnss_payload(ours):
    nbits = ours["@bits"] - 80
    if nbits <= 0:
        return "0:"
    v = ours["dgnssType"]
    for key, width in (("stationId", 10), ("zCount", 13), ("sequence", 3),
                       ("wordCount", 5), ("health", 3)):
        v = (v << width) | ours[key]
    data = bytes.fromhex(ours["data"]) if ours["data"] else b""
    for b in data:
        v = (v << 8) | b
    built = 40 + 8 * len(data)
    return bits_hex(min(built, nbits), v >> max(0, built - nbits))


# Per type: (gpsd key, our key or a function of our record). Booleans of
# gpsd compare as 0/1.
COMMON = [("repeat", "repeat"), ("mmsi", "mmsi")]
POSITION_A = COMMON + [("status", "navStatus"), ("turn", "rot"), ("speed", "sog"),
                       ("accuracy", "accuracy"), ("lon", "lon"), ("lat", "lat"),
                       ("course", "cog"), ("heading", "heading"), ("second", "second")]
BASE = COMMON + [
    ("timestamp", lambda o: "%04d-%02d-%02dT%02d:%02d:%02dZ" % (
        o["year"], o["month"], o["day"], o["hour"], o["minute"], o["second"])),
    ("accuracy", "accuracy"), ("lon", "lon"), ("lat", "lat"), ("epfd", "epfd"),
    ("raim", "raim"),
    ("radio", lambda o: o["syncState"] << 17 | o["slotTimeout"] << 14 | o["subMessage"])]
ACK = COMMON + [("mmsi%d" % i, "destMmsi%d" % i) for i in range(1, 5)]
DIMS = [("to_bow", "toBow"), ("to_stern", "toStern"), ("to_port", "toPort"),
        ("to_starboard", "toStarboard")]
CLASS_B = COMMON + [("reserved", "reserved"), ("speed", "sog"), ("accuracy", "accuracy"),
                    ("lon", "lon"), ("lat", "lat"), ("course", "cog"),
                    ("heading", "heading"), ("second", "second"), ("regional", "regional")]
MAP = {
    1: POSITION_A, 2: POSITION_A, 3: POSITION_A,
    4: BASE, 11: BASE,
    5: COMMON + [("ais_version", "aisVersion"), ("imo", "imo"), ("callsign", "callsign"),
                 ("shipname", "name"), ("shiptype", "shipType")] + DIMS + [
        ("epfd", "epfd"),
        ("eta", lambda o: "%02d-%02dT%02d:%02dZ" % (
            o["eta"] >> 16, o["eta"] >> 11 & 31, o["eta"] >> 6 & 31, o["eta"] & 63)),
        ("draught", "draught"), ("destination", "destination"), ("dte", "dte")],
    6: COMMON + [("seqno", "sequence"), ("dest_mmsi", "destMmsi"),
                 ("retransmit", "retransmit"), ("dac", lambda o: o["appId"] >> 6),
                 ("fid", lambda o: o["appId"] & 63),
                 ("data", binary_payload)],
    7: ACK, 13: ACK,
    8: COMMON + [("dac", lambda o: o["appId"] >> 6), ("fid", lambda o: o["appId"] & 63),
                 ("data", binary_payload)],
    9: COMMON + [("alt", "altitude"), ("speed", "sog"), ("accuracy", "accuracy"),
                 ("lon", "lon"), ("lat", "lat"), ("course", "cog"), ("second", "second"),
                 ("regional", "regional"), ("dte", "dte"), ("raim", "raim")],
    10: COMMON + [("dest_mmsi", "destMmsi")],
    12: COMMON + [("seqno", "sequence"), ("dest_mmsi", "destMmsi"),
                  ("retransmit", "retransmit"), ("text", "text")],
    14: COMMON + [("text", "text")],
    15: COMMON + [("mmsi1", "destMmsi1"), ("type1_1", "msgType1_1"),
                  ("offset1_1", "slotOffset1_1"), ("type1_2", "msgType1_2"),
                  ("offset1_2", "slotOffset1_2"), ("mmsi2", "destMmsi2"),
                  ("type2_1", "msgType2_1"), ("offset2_1", "slotOffset2_1")],
    16: COMMON + [("mmsi1", "destMmsiA"), ("offset1", "offsetA"), ("increment1", "incrementA"),
                  ("mmsi2", "destMmsiB"), ("offset2", "offsetB"), ("increment2", "incrementB")],
    17: COMMON + [("lon", "lon"), ("lat", "lat"), ("data", dgnss_payload)],
    18: CLASS_B + [("cs", "csUnit"), ("display", "display"), ("dsc", "dsc"), ("band", "band"),
                   ("msg22", "msg22"), ("raim", "raim")],
    19: CLASS_B + [("shipname", "name"), ("shiptype", "shipType")] + DIMS + [
        ("epfd", "epfd"), ("raim", "raim"), ("dte", "dte"),
        ("assigned", lambda o: o["assignedSpare"] >> 4)],
    20: COMMON + [(g % i, o % i) for i in range(1, 5) for g, o in (
        ("offset%d", "offset%d"), ("number%d", "slotCount%d"), ("timeout%d", "timeout%d"),
        ("increment%d", "increment%d"))],
    21: COMMON + [("aid_type", "aidType"), ("name", lambda o: o["name"] + o["nameExtension"]),
                  ("accuracy", "accuracy"), ("lon", "lon"), ("lat", "lat")] + DIMS + [
        ("epfd", "epfd"), ("second", "second"), ("off_position", "offPosition"),
        ("regional", "regional"), ("raim", "raim"), ("virtual_aid", "virtualAid")],
    22: COMMON,
    23: COMMON + [("ne_lon", "neLon"), ("ne_lat", "neLat"), ("sw_lon", "swLon"),
                  ("sw_lat", "swLat"), ("stationtype", "stationType"),
                  ("shiptype", "shipType"), ("interval", "interval"), ("quiet", "quietTime")],
    25: [("repeat", lambda o: None), ("mmsi", "@mmsi")],
    26: [("repeat", lambda o: None), ("mmsi", "@mmsi")],
    27: [("mmsi", "mmsi"), ("status", "navStatus"), ("accuracy", "accuracy"),
         ("lon", "lon"), ("lat", "lat"), ("speed", "sog"), ("course", "cog")],
}
TYPE24_A = COMMON + [("part", lambda o: "A"), ("shipname", "name")]
TYPE24_B = COMMON + [("part", lambda o: "B"), ("shiptype", "shipType"),
                     ("vendorid", "vendorId"), ("callsign", "callsign")] + DIMS
MOTHERSHIP = ("mothership_mmsi", lambda o: (o["toBow"] << 21 | o["toStern"] << 12 |
                                            o["toPort"] << 6 | o["toStarboard"]))


def fields_for(ours, gpsd):
    t = ours["@type"]
    if t != 24:
        return MAP[t]
    if ours["partNumber"] == 0:
        return TYPE24_A
    if gpsd is not None and "mothership_mmsi" in gpsd:
        return TYPE24_B[:-4] + [MOTHERSHIP]
    return TYPE24_B


def value_of(getter, ours):
    return getter(ours) if callable(getter) else ours[getter]


def explain(key, mine, theirs, ours):
    """The deliberate difference that explains mine != theirs, or None."""
    t = ours["@type"]
    if key == "turn" and mine == 128 and theirs == -128:
        return "rot-128"
    if t == 27 and key in ("lon", "lat") and mine == theirs * 1000:
        return "type27"
    if t == 27 and key in ("speed", "course") and mine == theirs * 10:
        return "type27"
    if key == "data" and t in (6, 8):
        mbits, mhex = mine.split(":")
        tbits, thex = theirs.split(":")
        if 0 < int(tbits) - int(mbits) < 8 and thex.startswith(mhex):
            return "odd-bits"
    if isinstance(mine, str) and isinstance(theirs, str):
        if mine.rstrip(" ") == theirs:
            return "text-space"
        if theirs and mine.startswith(theirs) or not theirs and mine:
            return "text-at"
    return None


def main():
    verbose = "--verbose" in sys.argv
    if not shutil.which("gpsdecode"):
        sys.exit("gpsdecode not found: apt-get install gpsd-clients")
    golden = [parse_golden_line(l.rstrip("\n")) for l in open(GOLDEN) if l.strip()]
    corpus = read_corpus()
    if len(golden) != len(corpus):
        sys.exit("corpus has %d messages, golden file %d" % (len(corpus), len(golden)))

    known, faults, compared = {}, [], 0
    for (label, lines), (glabel, ours) in zip(corpus, golden):
        assert label == glabel, (label, glabel)
        gpsd = gpsdecode(lines)
        if gpsd is None:
            if ours["@type"] == 24 and ours.get("partNumber", 0) >= 2:
                known["part-b"] = known.get("part-b", 0) + 1
                continue
            faults.append("%s: gpsdecode gives nothing" % label)
            continue
        if gpsd["type"] != ours["@type"] or gpsd["mmsi"] != ours["@mmsi"]:
            faults.append("%s: type/mmsi %s/%s, gpsd %s/%s" % (
                label, ours["@type"], ours["@mmsi"], gpsd["type"], gpsd["mmsi"]))
            continue
        if ours["@type"] == 24 and "mothership_mmsi" in gpsd:
            known["aux-craft"] = known.get("aux-craft", 0) + 1
        for key, getter in fields_for(ours, gpsd):
            mine = value_of(getter, ours)
            if mine is None or key not in gpsd:
                continue
            theirs = gpsd[key]
            if isinstance(theirs, bool):
                theirs = int(theirs)
            compared += 1
            if mine == theirs:
                continue
            why = explain(key, mine, theirs, ours)
            if why:
                known[why] = known.get(why, 0) + 1
                if verbose:
                    print("  known %-10s %s: %s ours %r gpsd %r" % (why, label, key, mine, theirs))
            else:
                faults.append("%s: %s ours %r gpsd %r" % (label, key, mine, theirs))
        # Fields a short form lacks: stored as 0 where gpsd reports nothing.
        if ours["@bits"] < {5: 424, 7: 168, 13: 168, 15: 160, 16: 144, 17: 120,
                            20: 160}.get(ours["@type"], 0):
            known["short-form"] = known.get("short-form", 0) + 1

    print("%d messages, %d fields compared with gpsdecode" % (len(golden), compared))
    for why in sorted(known):
        print("  deliberate %-10s %d" % (why, known[why]))
    for f in faults:
        print("DIFFERENCE " + f)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
