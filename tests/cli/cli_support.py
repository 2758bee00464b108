"""What the whole-program tests of qel-screen share: the command line every
test script takes, running the tool and reading its records, captures
written by the tests, and the comparison of a capture's decoding with tshark's.

Each test script runs one group of its tests:

  SCRIPT --tool T --sample-gen G --source S --build B GROUP
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import unittest

ARGS = None
VERDICTS = {"explicitlyPermitted", "implicitlyPermitted", "explicitlyDenied",
            "implicitlyDenied", "undefined"}
# Where a message came from: these differ between encapsulations of one traffic.
ORIGIN_KEYS = {"time", "opc", "dpc", "si", "src", "dst", "sport", "dport", "stream"}


def tool():
    return ARGS.tool


def data(name):
    return os.path.join(ARGS.source, "tests", "cli", "data", name)


def sample():
    return os.path.join(ARGS.source, "examples", "sample.pcap")


def config():
    return os.path.join(ARGS.source, "examples", "screening.toml")


def run(*args, tool=None, stdin=None):
    return subprocess.run([tool or ARGS.tool, *args], input=stdin, capture_output=True)


def jsonl(text):
    """Every line must be one JSON object."""
    records = []
    for line in text.decode().splitlines():
        value = json.loads(line)
        assert isinstance(value, dict), line
        records.append(value)
    return records


def decode(path):
    """The records of `qel-screen decode` and what it wrote to standard error."""
    r = run("decode", "--format", "jsonl", path)
    if r.returncode != 0:
        raise AssertionError(r.stderr.decode())
    return jsonl(r.stdout), r.stderr.decode()


def generate(directory, name, *args):
    path = os.path.join(directory, name)
    subprocess.run([ARGS.sample_gen, "-o", path, *args], check=True, capture_output=True)
    return path


def without_frame(records):
    return [{k: v for k, v in rec.items() if k != "frame" and k not in ORIGIN_KEYS}
            for rec in records]


def pcap_records(path):
    """(file header, [(record header, bytes)]) of a classic little-endian pcap."""
    with open(path, "rb") as f:
        data = f.read()
    at, records = 24, []
    while at < len(data):
        n = struct.unpack("<I", data[at + 8:at + 12])[0]
        records.append((data[at:at + 16], data[at + 16:at + 16 + n]))
        at += 16 + n
    return data[:24], records


def read_pcap(path):
    """(link type, [(seconds, microseconds, bytes)]) of a classic little-endian pcap."""
    head, records = pcap_records(path)
    magic = struct.unpack("<I", head[:4])[0]
    assert magic == 0xA1B2C3D4, hex(magic)
    return (struct.unpack("<I", head[20:24])[0],
            [struct.unpack("<II", header[:8]) + (b,) for header, b in records])


def write_pcap(path, link, frames, snaplen=65535):
    """A classic little-endian pcap of (seconds, microseconds, bytes) frames."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, snaplen, link))
        for sec, usec, b in frames:
            f.write(struct.pack("<IIII", sec, usec, len(b), len(b)) + b)
    return path


def one_a_second(messages, usec=0):
    """Frames a second apart from 1700000000, for write_pcap."""
    return [(1700000000 + i, usec, m) for i, m in enumerate(messages)]


# A TCAP Begin with two invokes: sendRoutingInfoForSM (45), then
# anyTimeInterrogation (71), which the example configuration denies.
SEG_BEGIN = bytes.fromhex("62184804010203046c10a10602010102012da106020102020147")
# A partner's calling GT (permitted) and a home called GT, E.164, SSNs 8 and 6.
SEG_CALLING = "1208001204" + "821500629087"
SEG_CALLED = "1206001204" + "827909102371"


def xudt(data, first, remaining, ref, calling=SEG_CALLING):
    """An XUDT with a segmentation parameter."""
    called, calling = bytes.fromhex(SEG_CALLED), bytes.fromhex(calling)
    m = bytearray([0x11, 0x00, 0x0F, 0, 0, 0, 0])
    for i, part in ((3, called), (4, calling), (5, data)):
        m[i] = len(m) - i
        m += bytes([len(part)]) + part
    m[6] = len(m) - 6
    m += bytes([0x10, 4, (0x80 if first else 0) | remaining,
                ref & 0xFF, (ref >> 8) & 0xFF, ref >> 16, 0])
    return bytes(m)


def sccp_pcap(path, messages):
    """A pcap of link type 142 (bare SCCP), one message a second."""
    return write_pcap(path, 142, one_a_second(messages, 250))


class TsharkComparison:
    """Our decoding of a capture against Wireshark's, message by message (a
    mix-in for unittest.TestCase). OPTIONS are tshark's, for example a
    preference; FIELDS the ones compared."""

    FIELDS = ["frame.number", "_ws.malformed", "sccp.calling.digits", "sccp.called.digits",
              "sccp.called.tt", "sua.source.global_title_digits",
              "sua.destination.global_title_digits", "gsm_old.localValue", "e212.imsi"]
    OPTIONS = []

    def tshark(self, path):
        r = subprocess.run(["tshark", "-r", path, *self.OPTIONS, "-T", "fields", "-E", "separator=|",
                            "-E", "occurrence=a", "-E", "aggregator=,"]
                           + sum((["-e", f] for f in self.FIELDS), []),
                           capture_output=True, check=True)
        frames = {}
        for line in r.stdout.decode().splitlines():
            cols = line.split("|")
            row = {f: (c.split(",") if c else []) for f, c in zip(self.FIELDS, cols)}
            frames[int(cols[0])] = row
        return frames

    def check_capture(self, path):
        """The number of our records compared with tshark's frames."""
        theirs = self.tshark(path)
        r = run("decode", "--format", "jsonl", path)
        ours = {}
        for rec in jsonl(r.stdout):
            ours.setdefault(rec["frame"], []).append(rec)
        compared = 0
        for frame, t in theirs.items():
            records = ours.get(frame, [])
            if t["_ws.malformed"]:
                continue
            calling = [x["calling"]["digits"] for x in records
                       if x["calling"] and x["calling"]["digits"]]
            called = [x["called"]["digits"] for x in records
                      if x["called"] and x["called"]["digits"]]
            self.assertEqual(calling, t["sccp.calling.digits"] + t["sua.source.global_title_digits"],
                             frame)
            self.assertEqual(called,
                             t["sccp.called.digits"] + t["sua.destination.global_title_digits"],
                             frame)
            tts = [x["called"]["tt"] for x in records if x["type"] != "CLDT" and x["called"]
                   and x["called"]["tt"] is not None]
            self.assertEqual(tts, [int(v, 16) for v in t["sccp.called.tt"]], frame)
            opcodes = [c["opcode"] for x in records if x["tcap"]
                       for c in x["tcap"]["components"] if c["opcode"] is not None]
            self.assertEqual(opcodes, [int(v) for v in t["gsm_old.localValue"]], frame)
            imsis = [c["imsi"] for x in records if x["tcap"]
                     for c in x["tcap"]["components"] if c["imsi"]]
            for imsi in imsis:
                self.assertIn(imsi, t["e212.imsi"], frame)
            compared += len(records)
        return compared


def main(groups):
    """Runs the group of test cases that the command line names."""
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--tool", required=True)
    p.add_argument("--sample-gen", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--build", required=True)
    p.add_argument("group", choices=sorted(groups))
    ARGS = p.parse_args()
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(groups[ARGS.group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
