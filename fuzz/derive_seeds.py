#!/usr/bin/env python3
"""Derives the fuzz seeds that are plain copies of the recorded CIM-XML exchanges.

    fuzz/derive_seeds.py WIRE_DIR OUT_DIR

Writes OUT_DIR/http_response (a piece-size byte, then the whole recorded answer),
OUT_DIR/cim_response (a piece-size byte, then the answer's body, unchunked) and
OUT_DIR/cim_request (the request's body). Keeping them out of the repository keeps
one copy of each exchange.
"""
import os
import sys

# Byte 0 of an http_response or cim_response input sets the size of the pieces fed.
PIECE = b"\x07"
BODY_PIECE = b"\x10"


def split(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    if b"transfer-encoding: chunked" in head.lower():
        out = b""
        while True:
            line, _, body = body.partition(b"\r\n")
            size = int(line.split(b";")[0], 16)
            if size == 0:
                break
            out += body[:size]
            body = body[size + 2:]
        body = out
    return head, body


def main(wire, out):
    for kind in ("http_response", "cim_response", "cim_request"):
        os.makedirs(os.path.join(out, kind), exist_ok=True)
    for name in sorted(os.listdir(wire)):
        path = os.path.join(wire, name)
        raw = open(path, "rb").read()
        if name.endswith(".response.http"):
            stem = name[: -len(".response.http")]
            open(os.path.join(out, "http_response", stem), "wb").write(PIECE + raw)
            head, body = split(raw)
            if body and b" 200 " in head.split(b"\r\n")[0]:
                dest = os.path.join(out, "cim_response", stem + ".response.xml")
                open(dest, "wb").write(BODY_PIECE + body)
        elif name.endswith(".request.http"):
            stem = name[: -len(".request.http")]
            _, body = split(raw)
            open(os.path.join(out, "cim_request", stem + ".request.xml"), "wb").write(body)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
