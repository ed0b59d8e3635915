#!/usr/bin/env python3
"""Listens on 127.0.0.1 (a free port), writes the port to argv[1] and, when
stopped (SIGTERM) or after 5 quiet seconds, the datagrams received as a JSON
list of hex strings to argv[2]."""
import json, signal, socket, sys

sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
sock.bind(("127.0.0.1", 0))
grams = []

def finish(*_):
    with open(sys.argv[2], "w") as f:
        json.dump([g.hex() for g in grams], f)
    sys.exit(0)

signal.signal(signal.SIGTERM, finish)
with open(sys.argv[1], "w") as f:
    f.write(str(sock.getsockname()[1]))
sock.settimeout(5)
try:
    while True:
        grams.append(sock.recv(65535))
except socket.timeout:
    pass
finish()
