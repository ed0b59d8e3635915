#!/usr/bin/env python3
"""Writes the decoder's golden corpus: AIS messages of every type 1 to 27,
their short standard forms and the corner values, with real-looking field
values, then rounds of every type with values drawn over the fields' whole
ranges, as armoured "!AIVDM" sentences. Each message is preceded by a
comment line "# <label>" that names it. Deterministic: a fixed seed.

usage: make_corpus.py > corpus.nmea
"""
import itertools
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "samples"))
from make_sample import Bits, armour, checksum  # noqa: E402


def minutes(deg):
    """Degrees to 1/10000 minute, as types 1 to 5, 9, 18, 19 and 21 carry them."""
    return int(round(deg * 600000))


def tenth_minutes(deg):
    """Degrees to 1/10 minute, as types 17, 23 and 27 carry them."""
    return int(round(deg * 600))


def bits_of(values):
    """A message from a list of bits (to cut a form short or pad it)."""
    b = Bits()
    b.bits = list(values)
    return b


def fill_to(b, n):
    """Zero bits up to exactly n bits (the shorter forms end early)."""
    assert len(b.bits) <= n, (len(b.bits), n)
    b.bits.extend([0] * (n - len(b.bits)))
    return b


def split_sentences(bits, channel, seq, chars=60):
    """The message in sentences of at most `chars` payload characters; only
    the last carries fill bits, as transmitters send them."""
    payload, fill = armour(bits)
    chunks = [payload[i:i + chars] for i in range(0, len(payload), chars)]
    count = len(chunks)
    sid = "" if count == 1 else str(seq)
    return [checksum("!AIVDM,%d,%d,%s,%s,%s,%d" % (count, n, sid, channel, chunk,
                                                   fill if n == count else 0))
            for n, chunk in enumerate(chunks, 1)]


# ---------------------------------------------------------------- position reports

def class_a(t, mmsi, status, rot, sog, acc, lon, lat, cog, hdg, sec, man=0, raim=0,
            radio=0x1A2B3, repeat=0):
    b = Bits().u(6, t).u(2, repeat).u(30, mmsi).u(4, status).s(8, rot).u(10, sog).u(1, acc)
    b.s(28, lon).s(27, lat).u(12, cog).u(9, hdg).u(6, sec).u(2, man).u(3, 0).u(1, raim)
    return b.u(19, radio)


def base_station(t, mmsi, y, mo, d, h, mi, s, lon, lat, epfd=1, raim=0, radio=0x2411):
    b = Bits().u(6, t).u(2, 0).u(30, mmsi).u(14, y).u(4, mo).u(5, d).u(5, h).u(6, mi).u(6, s)
    b.u(1, 1).s(28, lon).s(27, lat).u(4, epfd).u(10, 0).u(1, raim)
    return b.u(19, radio)


def static_voyage(mmsi, imo, callsign, name, shiptype, dims, epfd, eta, draught, dest,
                  dte=0, version=0):
    mo, d, h, mi = eta
    b = Bits().u(6, 5).u(2, 0).u(30, mmsi).u(2, version).u(30, imo).text(7, callsign)
    b.text(20, name).u(8, shiptype).u(9, dims[0]).u(9, dims[1]).u(6, dims[2]).u(6, dims[3])
    b.u(4, epfd).u(4, mo).u(5, d).u(5, h).u(6, mi).u(8, draught).text(20, dest)
    return b.u(1, dte).u(1, 0)


def sar_aircraft(mmsi, alt, sog, lon, lat, cog, sec, assigned=0, raim=0):
    b = Bits().u(6, 9).u(2, 0).u(30, mmsi).u(12, alt).u(10, sog).u(1, 1).s(28, lon)
    b.s(27, lat).u(12, cog).u(6, sec).u(8, 0).u(1, 1).u(3, 0).u(1, assigned).u(1, raim)
    return b.u(1, 0).u(19, 0x3C00)


def class_b(mmsi, sog, lon, lat, cog, hdg, sec, flags=(1, 0, 1, 1, 1, 0), raim=0):
    cs, display, dsc, band, msg22, assigned = flags
    b = Bits().u(6, 18).u(2, 0).u(30, mmsi).u(8, 0).u(10, sog).u(1, 0).s(28, lon).s(27, lat)
    b.u(12, cog).u(9, hdg).u(6, sec).u(2, 0).u(1, cs).u(1, display).u(1, dsc).u(1, band)
    b.u(1, msg22).u(1, assigned).u(1, raim)
    return b.u(1, 1).u(19, 0x60006)


def class_b_extended(mmsi, sog, lon, lat, cog, hdg, sec, name, shiptype, dims, epfd):
    b = Bits().u(6, 19).u(2, 0).u(30, mmsi).u(8, 0).u(10, sog).u(1, 1).s(28, lon).s(27, lat)
    b.u(12, cog).u(9, hdg).u(6, sec).u(4, 0).text(20, name).u(8, shiptype)
    b.u(9, dims[0]).u(9, dims[1]).u(6, dims[2]).u(6, dims[3]).u(4, epfd)
    return b.u(1, 0).u(1, 1).u(1, 0).u(4, 0)


def long_range(mmsi, acc, raim, status, lon, lat, sog, cog, gnss=0):
    b = Bits().u(6, 27).u(2, 3).u(30, mmsi).u(1, acc).u(1, raim).u(4, status)
    b.s(18, lon).s(17, lat).u(6, sog).u(9, cog).u(1, gnss)
    return b.u(1, 0)


# ---------------------------------------------------------------- other messages

def addressed_binary(mmsi, seq, dest, retransmit, dac, fi, data):
    b = Bits().u(6, 6).u(2, 0).u(30, mmsi).u(2, seq).u(30, dest).u(1, retransmit).u(1, 0)
    b.u(10, dac).u(6, fi)
    for byte in data:
        b.u(8, byte)
    return b


def acknowledge(t, mmsi, pairs):
    b = Bits().u(6, t).u(2, 0).u(30, mmsi).u(2, 0)
    for dest, seq in pairs:
        b.u(30, dest).u(2, seq)
    return b


def broadcast_binary(mmsi, dac, fi, data):
    b = Bits().u(6, 8).u(2, 0).u(30, mmsi).u(2, 0).u(10, dac).u(6, fi)
    for byte in data:
        b.u(8, byte)
    return b


def inquiry(mmsi, dest):
    return Bits().u(6, 10).u(2, 0).u(30, mmsi).u(2, 0).u(30, dest).u(2, 0)


def addressed_safety(mmsi, seq, dest, retransmit, text):
    b = Bits().u(6, 12).u(2, 0).u(30, mmsi).u(2, seq).u(30, dest).u(1, retransmit).u(1, 0)
    return b.text(len(text), text)


def broadcast_safety(mmsi, text):
    return Bits().u(6, 14).u(2, 0).u(30, mmsi).u(2, 0).text(len(text), text)


def interrogation(mmsi, dest1, req1, req2=None, dest2=None):
    b = Bits().u(6, 15).u(2, 0).u(30, mmsi).u(2, 0).u(30, dest1).u(6, req1[0]).u(12, req1[1])
    if req2 is None and dest2 is None:
        return b
    b.u(2, 0).u(6, req2[0]).u(12, req2[1])
    if dest2 is None:
        return b.u(2, 0)
    return b.u(2, 0).u(30, dest2[0]).u(6, dest2[1]).u(12, dest2[2]).u(2, 0)


def assignment(mmsi, a, b_=None):
    b = Bits().u(6, 16).u(2, 0).u(30, mmsi).u(2, 0).u(30, a[0]).u(12, a[1]).u(10, a[2])
    if b_ is None:
        return b.u(4, 0)
    return b.u(30, b_[0]).u(12, b_[1]).u(10, b_[2])


def dgnss(mmsi, lon, lat, words=None, station=0, zcount=0, seq=0, health=0, msgtype=9):
    b = Bits().u(6, 17).u(2, 0).u(30, mmsi).u(2, 0).s(18, lon).s(17, lat).u(5, 0)
    if words is None:
        return b
    b.u(6, msgtype).u(10, station).u(13, zcount).u(3, seq).u(5, len(words)).u(3, health)
    for w in words:
        b.u(24, w)
    return b


def link_management(mmsi, sets):
    b = Bits().u(6, 20).u(2, 0).u(30, mmsi).u(2, 0)
    for offset, number, timeout, increment in sets:
        b.u(12, offset).u(4, number).u(3, timeout).u(11, increment)
    return fill_to(b, (len(b.bits) + 7) // 8 * 8)


def aid_to_navigation(mmsi, aid, name, lon, lat, dims, epfd, sec, off, virtual, ext=""):
    b = Bits().u(6, 21).u(2, 0).u(30, mmsi).u(5, aid).text(20, name).u(1, 1).s(28, lon)
    b.s(27, lat).u(9, dims[0]).u(9, dims[1]).u(6, dims[2]).u(6, dims[3]).u(4, epfd)
    b.u(6, sec).u(1, off).u(8, 0).u(1, 0).u(1, virtual).u(1, 0).u(1, 0)
    return b.text(len(ext), ext)


def channel_management(mmsi, cha, chb, ne, sw):
    b = Bits().u(6, 22).u(2, 0).u(30, mmsi).u(2, 0).u(12, cha).u(12, chb).u(4, 0).u(1, 0)
    b.s(18, ne[0]).s(17, ne[1]).s(18, sw[0]).s(17, sw[1])
    return b.u(1, 0).u(1, 0).u(1, 0).u(3, 4).u(23, 0)


def group_assignment(mmsi, ne, sw, station, ship, txrx, interval, quiet):
    b = Bits().u(6, 23).u(2, 0).u(30, mmsi).u(2, 0).s(18, ne[0]).s(17, ne[1])
    b.s(18, sw[0]).s(17, sw[1]).u(4, station).u(8, ship).u(22, 0).u(2, txrx).u(4, interval)
    return b.u(4, quiet).u(6, 0)


def static_a(mmsi, name, part=0):
    return Bits().u(6, 24).u(2, 0).u(30, mmsi).u(2, part).text(20, name)


def static_b(mmsi, shiptype, vendor, callsign, dims, part=1):
    b = Bits().u(6, 24).u(2, 0).u(30, mmsi).u(2, part).u(8, shiptype).text(7, vendor)
    b.text(7, callsign).u(9, dims[0]).u(9, dims[1]).u(6, dims[2]).u(6, dims[3])
    return b.u(6, 0)


def single_slot_binary(mmsi, data):
    b = Bits().u(6, 25).u(2, 0).u(30, mmsi).u(1, 0).u(1, 0)
    for byte in data:
        b.u(8, byte)
    return b


def multi_slot_binary(mmsi, data):
    b = Bits().u(6, 26).u(2, 0).u(30, mmsi).u(1, 0).u(1, 0)
    for byte in data:
        b.u(8, byte)
    return b.u(4, 0).u(1, 0).u(19, 0x1F00)


def cases():
    ams = 209485000
    ham = 211331640
    yield "type 1, under way, turning to starboard", class_a(
        1, ams, 0, 26, 123, 1, minutes(4.0541), minutes(51.9023), 2675, 268, 34)
    yield "type 1, west and south, turning to port", class_a(
        1, 725000123, 0, -45, 87, 0, minutes(-73.4075), minutes(-41.4716), 1800, 179, 59,
        man=1, repeat=2)
    yield "type 1, rate of turn raw 128 (no information)", class_a(
        1, 366998410, 5, -128, 0, 0, minutes(-122.4083), minutes(37.8078), 3600, 511, 60)
    yield "type 1, rate of turn raw 127, top speed", class_a(
        1, 367001234, 7, 127, 1022, 1, minutes(-88.0431), minutes(30.6954), 901, 90, 12)
    yield "type 1, rate of turn raw 129", class_a(
        1, 367001235, 8, -127, 1023, 0, minutes(-88.0432), minutes(30.6955), 902, 91, 13,
        raim=1)
    yield "type 1, position not available", class_a(
        1, 227006760, 15, 0, 1023, 0, 181 * 600000, 91 * 600000, 3600, 511, 63)
    yield "type 2, at anchor", class_a(
        2, 244670316, 1, 0, 2, 1, minutes(4.4812), minutes(51.8998), 2331, 233, 8, man=2)
    yield "type 3, moored", class_a(
        3, ham, 5, 0, 0, 1, minutes(9.9681), minutes(53.5412), 0, 122, 41)
    yield "type 4, base station", base_station(
        4, 2442000, 2026, 12, 10, 14, 33, 7, minutes(4.4994), minutes(51.9011), epfd=7)
    yield "type 4, no time, no position", base_station(
        4, 2111240, 0, 0, 0, 24, 60, 60, 181 * 600000, 91 * 600000, epfd=15, raim=1,
        radio=2 << 17 | 3 << 14 | 1234)
    yield "type 5, two sentences", static_voyage(
        ams, 9074729, "PBGH", "NORDIC STAR", 70, (120, 30, 12, 11), 1, (12, 24, 18, 30), 85,
        "ROTTERDAM", version=1)
    yield "type 5, texts with trailing spaces and '@' inside", static_voyage(
        ham, 9321483, "DH@LK", "SEA BREEZE   ", 80, (511, 511, 63, 63), 7, (0, 0, 24, 60),
        255, "HAMBURG@OUTER   ", dte=1)
    yield "type 5, short form of 420 bits", bits_of(
        static_voyage(244650123, 9876543, "PCAZ", "OCEAN PEARL", 36, (10, 5, 2, 2), 3,
                      (5, 17, 9, 15), 21, "LISBOA").bits[:420])
    yield "type 5, split at an odd character", static_voyage(
        538006712, 9812345, "V7AB3", "BALTIC TRADER", 89, (180, 40, 20, 18), 1,
        (1, 2, 3, 4), 112, "GDANSK"), 61
    yield "type 6, addressed binary", addressed_binary(
        2442000, 1, 244670316, 0, 200, 10, [0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC])
    yield "type 6, no data", addressed_binary(2442000, 3, ams, 1, 235, 10, [])
    yield "type 6, data ending in bits that fill no byte", bits_of(
        addressed_binary(2442000, 0, ham, 0, 200, 10, [0xA5, 0x5A]).bits + [1, 0, 1, 1])
    yield "type 7, one acknowledgement", acknowledge(7, ams, [(2442000, 1)])
    yield "type 7, two acknowledgements", acknowledge(7, ams, [(2442000, 1), (2442001, 2)])
    yield "type 7, four acknowledgements", acknowledge(
        7, ams, [(2442000, 0), (2442001, 1), (2442002, 2), (2442003, 3)])
    yield "type 8, broadcast binary", broadcast_binary(
        ham, 200, 40, [0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x10, 0x32])
    yield "type 8, long broadcast binary", broadcast_binary(
        ham, 367, 33, [(i * 29 + 7) & 0xFF for i in range(100)])
    yield "type 9, SAR aircraft", sar_aircraft(
        111244501, 460, 121, minutes(4.2011), minutes(52.1234), 1873, 22)
    yield "type 9, SAR aircraft, assigned", sar_aircraft(
        111232511, 4095, 1023, minutes(-5.1), minutes(48.3), 3600, 61, assigned=1, raim=1)
    yield "type 10, UTC inquiry", inquiry(ams, 2442000)
    yield "type 11, UTC response", base_station(
        11, ham, 2026, 12, 10, 14, 35, 59, minutes(9.9681), minutes(53.5412), epfd=1)
    yield "type 12, addressed safety text", addressed_safety(
        2442000, 2, ams, 0, "PLEASE REPORT YOUR ETA TO PILOT STATION")
    yield "type 12, no text", addressed_safety(2442000, 0, ams, 1, "")
    yield "type 13, safety acknowledgement", acknowledge(13, ams, [(2442000, 2)])
    yield "type 13, three safety acknowledgements", acknowledge(
        13, ams, [(2442000, 2), (2442001, 3), (2442002, 0)])
    yield "type 14, safety broadcast", broadcast_safety(2442000, "SECURITE BUOY 7 OFF STATION")
    yield "type 14, punctuation", broadcast_safety(
        2442000, 'SEE "NOTICE 4\\26" - CH 16/68? 50% LESS; <KEEP> [CLEAR]!')
    yield "type 14, long safety broadcast in two sentences", broadcast_safety(
        2111240, "NAVAREA I WARNING 123/26 DRIFTING CONTAINER IN POSITION 51-58N 003-12E "
        "VESSELS KEEP CLEAR")
    yield "type 15, one request (88 bits)", interrogation(2442000, ams, (5, 0))
    yield "type 15, two requests (110 bits)", interrogation(2442000, ams, (5, 0), (24, 12))
    yield "type 15, two stations (160 bits)", interrogation(
        2442000, ams, (5, 0), (24, 12), (ham, 5, 100))
    yield "type 16, one destination (96 bits)", assignment(2442000, (ams, 200, 600))
    yield "type 16, two destinations (144 bits)", assignment(
        2442000, (ams, 200, 600), (ham, 1200, 1023))
    yield "type 17, position only (80 bits)", dgnss(2442000, tenth_minutes(4.3), tenth_minutes(52.0))
    yield "type 17, two data words", dgnss(
        2442001, tenth_minutes(-70.7), tenth_minutes(-33.1), [0x123456, 0xABCDEF],
        station=813, zcount=4321, seq=5, health=1)
    yield "type 18, class B", class_b(
        ham + 1, 54, minutes(10.1234), minutes(54.3219), 1456, 146, 17)
    yield "type 18, class B, no heading, flags set", class_b(
        338123456, 1023, minutes(-158.0), minutes(21.3), 3600, 511, 62,
        flags=(0, 1, 0, 0, 0, 1), raim=1)
    yield "type 19, extended class B", class_b_extended(
        244123456, 62, minutes(5.3141), minutes(53.3877), 904, 92, 29, "BLUE HERON", 37,
        (9, 3, 2, 2), 1)
    yield "type 20, one reservation (72 bits)", link_management(2442000, [(1033, 1, 7, 225)])
    yield "type 20, two reservations", link_management(2442000, [(1033, 1, 7, 225), (2049, 2, 3, 750)])
    yield "type 20, four reservations", link_management(
        2442000, [(1033, 1, 7, 225), (2049, 2, 3, 750), (100, 15, 0, 1), (4095, 3, 5, 2047)])
    yield "type 21, buoy", aid_to_navigation(
        992446001, 22, "EUROPOORT BUOY", minutes(4.0112), minutes(51.9876), (2, 2, 1, 1), 7,
        60, 0, 0)
    yield "type 21, virtual wreck mark with name extension", aid_to_navigation(
        992446002, 31, "WRECK MARK NORTH HIND", minutes(3.4567), minutes(52.2345),
        (0, 0, 0, 0), 1, 14, 1, 1, ext="ER ANCHORAGE")
    yield "type 21, name extension with two bits over", bits_of(aid_to_navigation(
        992446003, 5, "MAASVLAKTE NORTH HEA", minutes(4.0), minutes(51.96), (5, 5, 5, 5), 7,
        30, 0, 0, ext="D").bits + [1, 1])
    yield "type 22, channel management", channel_management(
        2442000, 2087, 2088, (tenth_minutes(5.0), tenth_minutes(52.5)),
        (tenth_minutes(3.0), tenth_minutes(51.5)))
    yield "type 23, group assignment", group_assignment(
        2442000, (tenth_minutes(5.0), tenth_minutes(52.5)),
        (tenth_minutes(-3.2), tenth_minutes(-51.5)), 6, 70, 1, 9, 15)
    yield "type 24, part A", static_a(ham + 1, "CORAL BAY")
    yield "type 24, part B", static_b(ham + 1, 37, "SRT1234", "DK2719", (12, 4, 2, 2))
    # An auxiliary craft carries its mothership's MMSI where others carry dimensions.
    yield "type 24, part B of an auxiliary craft", static_b(
        982110123, 53, "ABC", "DA3721", (ham >> 21, ham >> 12 & 0x1FF, ham >> 6 & 0x3F, ham & 0x3F))
    yield "type 24, part number 3", static_b(
        244123457, 36, "TRU", "PD1234", (7, 3, 1, 1), part=3)
    yield "type 25, single slot binary", single_slot_binary(2442000, [0xDE, 0xAD, 0xBE, 0xEF])
    yield "type 26, multiple slot binary", multi_slot_binary(
        2442000, [0x01, 0x02, 0x03, 0x04, 0x05, 0x06])
    yield "type 27, long range", long_range(
        ams, 1, 0, 0, tenth_minutes(4.05), tenth_minutes(51.9), 12, 267)
    yield "type 27, west and south, not available", long_range(
        725000123, 0, 1, 15, 181 * 600, 91 * 600, 63, 511, gnss=1)


# Six-bit text characters but "@" (padding): space to "?" and "A" to "_".
TEXT_ALPHABET = "".join(chr(c) for c in range(32, 96) if c != 64)


def random_cases(rng, rounds=3):
    """Field values drawn over their whole ranges, from a fixed seed: signs,
    top bits and every text character get exercised, not only the values a
    writer of the layouts thinks of."""
    def u(width):
        return rng.randrange(1 << width)

    def s(width):
        return rng.randrange(-(1 << (width - 1)), 1 << (width - 1))

    def text(n):
        return "".join(rng.choice(TEXT_ALPHABET) for _ in range(rng.randint(0, n)))

    def dims():
        return (u(9), u(9), u(6), u(6))

    def data(n):
        return [u(8) for _ in range(n)]

    def mmsi():
        return rng.randrange(1, 980000000)  # 98xxxxxxx: auxiliary craft, its own case

    for r in range(1, rounds + 1):
        tag = "random %d" % r
        t = rng.choice([1, 2, 3])
        yield "type %d, %s" % (t, tag), class_a(
            t, mmsi(), u(4), s(8), u(10), u(1), s(28), s(27), u(12), u(9), u(6), man=u(2),
            raim=u(1), radio=u(19), repeat=u(2))
        for t in (4, 11):
            yield "type %d, %s" % (t, tag), base_station(
                t, mmsi(), u(14), u(4), u(5), u(5), u(6), u(6), s(28), s(27), epfd=u(4),
                raim=u(1), radio=u(19))
        yield "type 5, %s" % tag, static_voyage(
            mmsi(), u(30), text(7), text(20), u(8), dims(), u(4), (u(4), u(5), u(5), u(6)), u(8),
            text(20), dte=u(1), version=u(2))
        yield "type 6, %s" % tag, addressed_binary(
            mmsi(), u(2), mmsi(), u(1), rng.randrange(2, 200), u(6), data(rng.randint(0, 40)))
        yield "type 7, %s" % tag, acknowledge(
            7, mmsi(), [(mmsi(), u(2)) for _ in range(rng.randint(1, 4))])
        yield "type 8, %s" % tag, broadcast_binary(
            mmsi(), rng.randrange(2, 200), u(6), data(rng.randint(0, 60)))
        yield "type 9, %s" % tag, sar_aircraft(
            mmsi(), u(12), u(10), s(28), s(27), u(12), u(6), assigned=u(1), raim=u(1))
        yield "type 10, %s" % tag, inquiry(mmsi(), mmsi())
        yield "type 12, %s" % tag, addressed_safety(mmsi(), u(2), mmsi(), u(1), text(60))
        yield "type 13, %s" % tag, acknowledge(
            13, mmsi(), [(mmsi(), u(2)) for _ in range(rng.randint(1, 4))])
        yield "type 14, %s" % tag, broadcast_safety(mmsi(), text(80))
        form = rng.randint(1, 3)
        yield "type 15, %s" % tag, interrogation(
            mmsi(), mmsi(), (u(6), u(12)), (u(6), u(12)) if form > 1 else None,
            (mmsi(), u(6), u(12)) if form > 2 else None)
        yield "type 16, %s" % tag, assignment(
            mmsi(), (mmsi(), u(12), u(10)), (mmsi(), u(12), u(10)) if u(1) else None)
        yield "type 17, %s" % tag, dgnss(
            mmsi(), s(18), s(17), [u(24) for _ in range(rng.randint(0, 6))], station=u(10),
            zcount=u(13), seq=u(3), health=u(3), msgtype=u(6))
        yield "type 18, %s" % tag, class_b(
            mmsi(), u(10), s(28), s(27), u(12), u(9), u(6),
            flags=tuple(u(1) for _ in range(6)), raim=u(1))
        yield "type 19, %s" % tag, class_b_extended(
            mmsi(), u(10), s(28), s(27), u(12), u(9), u(6), text(20), u(8), dims(), u(4))
        yield "type 20, %s" % tag, link_management(
            mmsi(), [(u(12), u(4), u(3), u(11)) for _ in range(rng.randint(1, 4))])
        yield "type 21, %s" % tag, aid_to_navigation(
            mmsi(), u(5), "".join(rng.choice(TEXT_ALPHABET) for _ in range(20)), s(28), s(27),
            dims(), u(4), u(6), u(1), u(1), ext=text(14))
        yield "type 22, %s" % tag, channel_management(
            mmsi(), u(12), u(12), (s(18), s(17)), (s(18), s(17)))
        yield "type 23, %s" % tag, group_assignment(
            mmsi(), (s(18), s(17)), (s(18), s(17)), u(4), u(8), u(2), u(4), u(4))
        yield "type 24 part A, %s" % tag, static_a(mmsi(), text(20))
        yield "type 24 part B, %s" % tag, static_b(mmsi(), u(8), text(7), text(7), dims())
        yield "type 27, %s" % tag, long_range(
            mmsi(), u(1), u(1), u(4), s(18), s(17), u(6), u(9), gnss=u(1))


def main():
    out = sys.stdout
    channel = "A"
    seq = 0
    for case in itertools.chain(cases(), random_cases(random.Random(1371))):
        label, bits = case[0], case[1]
        chars = case[2] if len(case) > 2 else 60
        seq = seq % 9 + 1
        out.write("# %s\n" % label)
        for line in split_sentences(bits.bits, channel, seq, chars):
            out.write(line + "\n")
        channel = "B" if channel == "A" else "A"


if __name__ == "__main__":
    main()
