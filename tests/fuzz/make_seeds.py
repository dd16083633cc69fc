#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into corpus/<target>/ beside this file.

    /usr/bin/python3 tests/fuzz/make_seeds.py

Seeds are a few valid inputs of each kind, so that a short run starts from
frames the client accepts rather than from nothing. The files are kept in the
repository; this script says how they were made.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

MARKER_BINARY, MARKER_TEXT, MARKER_JOINED = 0xFE44, 0xFE55, 0xFE66
RSP_SUB, RSP_UNSUB, RSP_LOGIN = 0x20050001, 0x20050002, 0x20050003
RSP_SUB_QUOTE, RSP_UNSUB_QUOTE = 0x20050005, 0x20050006
DEPTH, FOR_QUOTE, HEARTBEAT = 0x40050001, 0x40050002, 0x00018001
INFO = 85  # the response-information record
DEPTH_RECORD, FOR_QUOTE_RECORD = 408, 88


def frame(msg_type, body, marker=MARKER_BINARY, request_id=0, is_last=1):
    return struct.pack("<IIIiII", marker, msg_type, len(body), request_id, 0, is_last) + body


def padded(text, size):
    return text.encode().ljust(size, b"\0")


def depth_text(instrument="au2612", exchange="SHFE"):
    """A text depth body: 64 fields separated by 0x01, as a front sends it."""
    fields = [exchange, instrument, ""] + ["612.5"] * 7 + ["12"] + [""] * 53
    fields[12], fields[13] = "20261209", "10:15:02"
    return "\x01".join(fields).encode()


# Each frame kind the client reads, valid.
FRAMES = [
    frame(RSP_SUB, padded("au2612", 31), request_id=7),
    frame(RSP_UNSUB, padded("au2612", 31) + struct.pack("<i", 0) + padded("ok", 81), request_id=8),
    frame(RSP_LOGIN, padded("20261209", 160), request_id=1),
    frame(RSP_SUB_QUOTE, padded("IF2612", 31), request_id=9),
    frame(RSP_UNSUB_QUOTE, padded("IF2612", 31), request_id=10),
    frame(DEPTH, padded("20261209", DEPTH_RECORD), is_last=0),
    frame(DEPTH, depth_text(), MARKER_TEXT, is_last=0),
    frame(DEPTH, depth_text("AB12", "EX"), MARKER_JOINED, is_last=0),
    frame(FOR_QUOTE, padded("20261209", FOR_QUOTE_RECORD), is_last=0),
    frame(HEARTBEAT, b"", request_id=-1, is_last=0),
]


def receive_seeds():
    """receive_fuzz: a chunk-size byte, then the stream."""
    stream = b"".join(FRAMES)
    return {
        "all-frames-byte-by-byte": b"\x00" + stream,
        "all-frames-in-7s": b"\x06" + stream,
        "all-frames-at-once": b"\xff" + stream,
        "text-depth-in-64s": b"\x40" + FRAMES[6] * 3,
        "oversized-body": b"\xff" + FRAMES[0] + struct.pack("<IIIiII", MARKER_BINARY, DEPTH, 1 << 21, 0, 0, 0),
    }


def frame_reader_seeds():
    """frame_reader_fuzz: a chunk-size byte, then the stream, as for receive_fuzz;
    and a body too large for the reader's own buffer."""
    seeds = receive_seeds()
    seeds["spill-body-in-7s"] = b"\x06" + frame(DEPTH, padded("20261209", 2000)) + FRAMES[9]
    return seeds


def number_size(largest):
    """Bytes the provider reads for a number in 0..largest."""
    size = 0
    while largest >> (8 * size):
        size += 1
    return size


class Program:
    """An input of the sequence target as its data provider reads it: bytes
    from the front, numbers from the back (the first one read is the last
    byte of the input), each number in as many bytes as its range needs."""

    STEPS = ["sub", "unsub", "login", "subquote", "unsubquote", "depth", "text", "joined",
             "forquote", "heartbeat", "unknown", "pause"]
    FAULTS = ["none", "lie", "cut", "change", "marker", "garbage"]
    RESPONSES = {"sub": 31, "unsub": 31, "login": 160, "subquote": 31, "unsubquote": 31}
    RECORDS = {"depth": DEPTH_RECORD, "forquote": FOR_QUOTE_RECORD}

    def __init__(self):
        self.front, self.back = b"", b""
        self.stream = 0  # bytes built and not yet received

    def number(self, value, largest):
        self.back += value.to_bytes(number_size(largest), "big")

    def frame(self, name, body=b"", request_id=0, info=False, fault="none", arg=0):
        self.number(self.STEPS.index(name), 11)
        if name in self.RESPONSES:
            self.number(1 if info else 0, 255)
            length = self.RESPONSES[name] + (INFO if info else 0)
        elif name in self.RECORDS:
            length = self.RECORDS[name]
        elif name == "heartbeat":
            length = 0
        else:
            length = len(body)
            self.number(length, 800)
        if name == "heartbeat":
            self.number(0, 255)  # answers the latest heartbeat
        else:
            self.number(request_id + 2**31, 2**32 - 1)
        self.number(1, 255)  # IsLast
        self.front += body.ljust(length, b"\0")[:length]
        size = 24 + length
        self.number(self.FAULTS.index(fault), 5)
        if fault in ("lie", "marker"):
            self.number(arg, 2**32 - 1)
        elif fault == "change":
            self.number(arg[0], size - 1)
            self.number(arg[1], 255)
        elif fault == "cut":
            self.number(arg, size - 1)
            size = arg
        elif fault == "garbage":
            self.number(len(arg) - 1, 63)
            self.front += arg
            size += len(arg)
        self.stream += size

    def pause(self, chunks, ms):
        """Receives what was built in chunks of these sizes (the last repeats)."""
        self.number(self.STEPS.index("pause"), 11)
        at, i = 0, 0
        while at < self.stream:
            chunk = chunks[min(i, len(chunks) - 1)]
            self.number(chunk - 1, 511)
            at, i = at + chunk, i + 1
        self.stream = 0
        self.number(ms, 25000)

    def bytes(self):
        return self.front + self.back[::-1]


def sequence_seeds():
    seeds = {}
    p = Program()
    p.frame("login", padded("20261209", 160), 1)
    p.frame("sub", padded("au2612", 31), 2, info=True)
    p.frame("depth", padded("20261209", DEPTH_RECORD))
    p.frame("text", depth_text())
    p.frame("joined", depth_text("AB12", "EX"))
    p.frame("forquote", padded("20261209", FOR_QUOTE_RECORD))
    # Received in chunks that split headers and bodies, then idle long
    # enough for the first heartbeat, which the next frame answers.
    p.pause([1, 23, 5, 200, 512], 12000)
    p.frame("heartbeat")
    p.frame("unsub", padded("au2612", 31), 3)
    seeds["session-with-heartbeat"] = p.bytes()

    p = Program()
    p.frame("text", depth_text(), fault="cut", arg=30)
    p.frame("sub", padded("au2612", 31), 4, fault="garbage", arg=b"\x7f" * 12)
    p.frame("depth", padded("x", DEPTH_RECORD), fault="marker", arg=MARKER_TEXT)
    p.frame("forquote", padded("x", FOR_QUOTE_RECORD), fault="change", arg=(9, 0x41))
    p.pause([64], 0)
    # Too large a body: the client drops the link; the next frames come on a new one.
    p.frame("depth", padded("20261209", DEPTH_RECORD), fault="lie", arg=2 << 20)
    p.pause([512], 0)
    p.frame("sub", padded("au2612", 31), 5)
    seeds["corrupted-frames"] = p.bytes()

    p = Program()
    p.frame("sub", padded("au2612", 31), 6)
    p.pause([512], 25000)  # three heartbeats unanswered: timeout and reconnect
    p.frame("unknown", b"?")
    seeds["heartbeat-timeout"] = p.bytes()
    return seeds


def depth_text_seeds():
    """depth_text_fuzz: a marker byte (odd: joined), then the body."""
    return {
        "text": b"\x00" + depth_text(),
        "joined": b"\x01" + depth_text("AB12", "EX"),
        "separators-only": b"\x00" + b"\x01" * 70,
    }


def crc32c(data, crc=0):
    """CRC-32C, reflected, as capture files carry it."""
    crc ^= 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc ^ 0xFFFFFFFF


def depth_members():
    """The depth record's members from their one table, src/wire/DepthMembers.h."""
    import re
    with open(os.path.join(HERE, "..", "..", "src", "wire", "DepthMembers.h")) as f:
        text = f.read()
    types = {"Text": "text", "Double": "f64", "Int": "i32"}
    return [(name, types[kind], int(offset), int(width))
            for kind, name, offset, width in re.findall(r"X\((\w+), (\w+), (\d+), (\d+)\)", text)]


def capture_header(trading_day="20261209"):
    lines = ["writer\tseeds 1", "trading_day\t" + trading_day, "front\ttcp://127.0.0.1:1",
             "record\t1\tdepth\t%d" % DEPTH_RECORD]
    lines += ["member\t%s\t%s\t%d\t%d" % m for m in depth_members()]
    table = ("\n".join(lines) + "\n").encode()
    head = b"MDCAP\r\n\x1a" + struct.pack("<HHI", 1, 0, len(table)) + table
    return head + struct.pack("<I", crc32c(head))


def zstd_stored(data):
    """A Zstandard frame holding data in one raw (stored) block: no compressor needed."""
    assert 256 <= len(data) < 65792 and len(data) < 1 << 17
    return (struct.pack("<IB", 0xFD2FB528, 0x60) + struct.pack("<H", len(data) - 256) +
            (1 | (len(data) << 3)).to_bytes(3, "little") + data)


def capture_block(records):
    """records: (receive ns, instrument, volume)."""
    raw = b""
    for ns, instrument, volume in records:
        body = bytearray(DEPTH_RECORD)
        body[0:8] = b"20261209"
        body[9:9 + len(instrument)] = instrument.encode()
        body[136:140] = struct.pack("<i", volume)
        raw += struct.pack("<qHHI", ns, 1, 0, DEPTH_RECORD) + bytes(body)
    payload = zstd_stored(raw)
    head = b"MDCB" + struct.pack("<IqqIII", len(records), records[0][0], records[-1][0], len(payload), len(raw), 0)
    return head + struct.pack("<I", crc32c(payload, crc32c(head))) + payload


def capture_seeds():
    """capture_reader_fuzz: whole capture files."""
    one = capture_block([(1000, "rb2601", 1)])
    two = capture_block([(2000, "au2612", 2), (3000, "rb2601", 3)])
    return {
        "header-only": capture_header(),
        "one-block": capture_header() + one,
        "two-blocks": capture_header() + one + two,
        "cut-in-a-block": (capture_header() + one + two)[:-100],
    }


def main():
    for target, seeds in (("receive_fuzz", receive_seeds()),
                          ("receive_sequence_fuzz", sequence_seeds()),
                          ("frame_reader_fuzz", frame_reader_seeds()),
                          ("depth_text_fuzz", depth_text_seeds()),
                          ("capture_reader_fuzz", capture_seeds())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
