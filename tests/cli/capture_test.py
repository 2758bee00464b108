#!/usr/bin/env python3
"""Captures no one here wrote by hand: IP datagrams cut into fragments (in and
out of order, repeated, overlapping, missing; IPv4 and IPv6) and pcapng files
whose interfaces have different link types (two and three interfaces, little-
and big-endian sections). Every capture is decoded by qel-screen and by tshark
and the messages compared frame by frame.

  capture_test.py --tool T --sample-gen G --source S --build B GROUP
"""
import os
import random
import shutil
import struct
import tempfile
import unittest

from cli_support import (TsharkComparison, decode, generate, jsonl, main, read_pcap, run,
                         without_frame, write_pcap)

LINKTYPE_RAW = 101


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


class Pcapng:
    """Writes sections of interface descriptions and packet blocks."""

    def __init__(self):
        self.out = bytearray()
        self.e = "<"

    def block(self, kind, body):
        body = pad4(body)
        n = 12 + len(body)
        self.out += struct.pack(self.e + "II", kind, n) + body + struct.pack(self.e + "I", n)

    def section(self, big_endian=False):
        self.e = ">" if big_endian else "<"
        self.block(0x0A0D0D0A, struct.pack(self.e + "IHHq", 0x1A2B3C4D, 1, 0, -1))

    def interface(self, link, nanoseconds=False):
        options = b""
        if nanoseconds:
            options = struct.pack(self.e + "HH", 9, 1) + b"\x09\0\0\0"
            options += struct.pack(self.e + "HH", 0, 0)
        self.block(1, struct.pack(self.e + "HHI", link, 0, 0) + options)

    def packet(self, interface, stamp, b):
        self.block(6, struct.pack(self.e + "IIIII", interface, stamp >> 32, stamp & 0xFFFFFFFF,
                                  len(b), len(b)) + b)

    def simple(self, b):
        self.block(3, struct.pack(self.e + "I", len(b)) + b)

    def other(self):
        # A name resolution block with nothing in it: not a frame.
        self.block(4, struct.pack(self.e + "HH", 0, 0))

    def save(self, path):
        with open(path, "wb") as f:
            f.write(self.out)


def checksum(header):
    s = sum(struct.unpack("!%dH" % (len(header) // 2), header))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return (~s) & 0xFFFF


def ipv4_fragment(datagram, offset, data, more):
    h = bytearray(datagram[:(datagram[0] & 0x0F) * 4])
    struct.pack_into("!H", h, 2, len(h) + len(data))
    struct.pack_into("!H", h, 6, (offset // 8) | (0x2000 if more else 0))
    struct.pack_into("!H", h, 10, 0)
    struct.pack_into("!H", h, 10, checksum(bytes(h)))
    return bytes(h) + data


def to_ipv6(datagram):
    """The same SCTP packet in an IPv6 datagram (2001:db8::/96 + the IPv4 address)."""
    ihl = (datagram[0] & 0x0F) * 4
    payload = datagram[ihl:struct.unpack("!H", datagram[2:4])[0]]
    prefix = bytes.fromhex("20010db8000000000000000000000000")[:12]
    return (struct.pack("!IHBB", 0x60000000, len(payload), 132, 64) + prefix + datagram[12:16]
            + prefix + datagram[16:20] + payload)


def ipv6_fragment(datagram, ident, offset, data, more):
    header = bytearray(datagram[:40])
    header[6] = 44
    struct.pack_into("!H", header, 4, 8 + len(data))
    frag = struct.pack("!BBHI", datagram[6], 0, offset | (1 if more else 0), ident)
    return bytes(header) + frag + data


def is_sctp(packet):
    return len(packet) > 40 and packet[0] >> 4 == 4 and packet[9] == 132


def cut_points(length, pieces):
    """Offsets (multiples of 8) that cut `length` octets into `pieces`."""
    step = max(8, (length // pieces + 7) // 8 * 8)
    return [o for o in range(0, length, step)][:pieces]


def fragments(datagram, pieces, v6, ident):
    """The fragments of one datagram, in order: (offset, end, packet)."""
    if v6:
        datagram = to_ipv6(datagram)
        body = datagram[40:]
    else:
        body = datagram[(datagram[0] & 0x0F) * 4:]
    offsets = cut_points(len(body), pieces)
    out = []
    for i, o in enumerate(offsets):
        end = offsets[i + 1] if i + 1 < len(offsets) else len(body)
        more = i + 1 < len(offsets)
        p = (ipv6_fragment(datagram, ident, o, body[o:end], more) if v6
             else ipv4_fragment(datagram, o, body[o:end], more))
        out.append(p)
    return out


def fragmented_capture(frames, arrange, v6=False, pieces=3, seed=1):
    """Every SCTP datagram of a raw-IP capture cut into fragments and put in
    the order `arrange(fragments, rng)` returns; other frames kept as they
    are (IPv6 variants turn every IPv4 SCTP datagram into IPv6)."""
    rng = random.Random(seed)
    out = []
    for n, (sec, usec, b) in enumerate(frames):
        if not is_sctp(b):
            out.append((sec, usec, b))
            continue
        parts = fragments(b, pieces, v6, 0x10000 + n)
        for p in arrange(parts, rng):
            out.append((sec, usec, p))
    return out


def in_order(parts, rng):
    return parts


def reversed_order(parts, rng):
    return parts[::-1]


def shuffled(parts, rng):
    parts = list(parts)
    rng.shuffle(parts)
    return parts


def with_repeats(parts, rng):
    # The first fragment sent twice, before the datagram is complete.
    return [parts[0]] + parts[:-1] + [parts[-1]] if len(parts) > 1 else parts


@unittest.skipUnless(shutil.which("tshark"), "tshark not installed")
class IpFragments(TsharkComparison, unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        raw = generate(self.dir, "raw.pcap", "--link", "raw")
        _, self.frames = read_pcap(raw)
        self.reference, _ = decode(raw)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, frames):
        path = os.path.join(self.dir, name)
        write_pcap(path, LINKTYPE_RAW, frames, snaplen=262144)
        return path

    def test_every_order_gives_the_messages_in_the_frame_of_the_last_fragment(self):
        for v6 in (False, True):
            for pieces in (2, 3):
                for arrange in (in_order, reversed_order, shuffled, with_repeats):
                    name = "%s-%d-%s" % ("v6" if v6 else "v4", pieces, arrange.__name__)
                    with self.subTest(name):
                        path = self.write(name + ".pcap", fragmented_capture(
                            self.frames, arrange, v6, pieces))
                        self.assertGreaterEqual(self.check_capture(path), 150)
                        ours, summary = decode(path)
                        self.assertEqual(without_frame(ours),
                                         without_frame(self.reference))
                        self.assertNotIn("never completed", summary)

    def test_missing_fragments_lose_only_their_datagram(self):
        def lose_every_seventh(parts, rng):
            lose_every_seventh.n += 1
            return parts[:-1] if lose_every_seventh.n % 7 == 0 else parts
        lose_every_seventh.n = 0
        path = self.write("missing.pcap", fragmented_capture(self.frames, lose_every_seventh))
        self.assertGreater(self.check_capture(path), 100)
        ours, summary = decode(path)
        self.assertLess(len(ours), len(self.reference))
        self.assertIn("IP datagram never completed", summary)

    def test_overlapping_fragments_give_the_datagram_up(self):
        # The second fragment again, starting 8 octets earlier and with other
        # data there: a receiving host discards the datagram.
        def overlapping(parts, rng):
            second = bytearray(parts[1])
            ihl = (second[0] & 0x0F) * 4
            offset = (struct.unpack("!H", second[6:8])[0] & 0x1FFF) * 8 - 8
            data = b"\xEE" * 8 + second[ihl:]
            return [parts[0], ipv4_fragment(bytes(second), offset, data, True)] + parts[1:]
        one = [f for f in self.frames if is_sctp(f[2])][:1]
        path = self.write("overlap.pcap", fragmented_capture(one, overlapping))
        ours, summary = decode(path)
        self.assertEqual(ours, [])
        self.assertIn("IP fragments overlapping 1", summary)


@unittest.skipUnless(shutil.which("tshark"), "tshark not installed")
class PcapngInterfaces(TsharkComparison, unittest.TestCase):

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.captures = {}
        for link in ("ethernet", "raw", "sll2", "mtp2", "mtp3"):
            path = generate(self.dir, link + ".pcap", "--link", link)
            self.captures[link] = read_pcap(path)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def interleaved(self, links, big_endian, sections=1, simple=False):
        """Frames of each capture taken in turn, each capture on its own
        interface; with `sections`, the file restarts its section (and its
        interfaces) that many times, alternating the byte order."""
        w = Pcapng()
        queues = [list(self.captures[link][1]) for link in links]
        total = sum(len(q) for q in queues)
        per_section = (total + sections - 1) // sections
        written = 0
        for s in range(sections):
            w.section(big_endian ^ (s % 2 == 1))
            for i, link in enumerate(links):
                w.interface(self.captures[link][0], nanoseconds=(i == 1))
            w.other()
            k = 0
            while k < per_section and any(queues):
                for i, q in enumerate(queues):
                    if not q or k >= per_section:
                        continue
                    sec, usec, b = q.pop(0)
                    stamp = (sec * 10**6 + usec) * (1000 if i == 1 else 1)
                    if simple and i == 0:
                        w.simple(b)
                    else:
                        w.packet(i, stamp, b)
                    k += 1
                    written += 1
        path = os.path.join(self.dir, "%s-%s-%d%s.pcapng" % (
            "+".join(links), "be" if big_endian else "le", sections, "-spb" if simple else ""))
        w.save(path)
        return path, written

    def test_two_and_three_interfaces_in_both_byte_orders(self):
        # One IP capture per file: the same SCTP association seen twice is
        # taken for retransmissions by tshark.
        cases = [(("ethernet", "mtp3"), False, 1, False), (("ethernet", "mtp3"), True, 3, False),
                 (("raw", "mtp2"), True, 1, True), (("raw", "mtp2"), False, 3, False),
                 (("ethernet", "mtp2", "mtp3"), True, 1, False),
                 (("ethernet", "mtp2", "mtp3"), False, 3, True),
                 (("mtp3", "sll2", "mtp2"), False, 1, True), (("mtp3", "sll2", "mtp2"), True, 3, False)]
        for links, big_endian, sections, simple in cases:
            path, written = self.interleaved(links, big_endian, sections, simple)
            with self.subTest(os.path.basename(path)):
                ours, summary = decode(path)
                self.assertIn("qel-screen: %d frames," % written, summary)
                self.assertEqual(len(ours), 160 * len(links))
                # tshark marks the damaged messages malformed; they are not compared.
                self.assertEqual(self.check_capture(path),
                                 len([r for r in ours if "error" not in r]))

    def test_damaged_file_keeps_the_frames_before_the_damage(self):
        path, written = self.interleaved(("ethernet", "mtp3"), False)
        with open(path, "rb") as f:
            data = f.read()
        cut = os.path.join(self.dir, "cut.pcapng")
        with open(cut, "wb") as f:
            f.write(data[:len(data) * 2 // 3])
        r = run("decode", "--format", "jsonl", cut)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("truncated block", r.stderr.decode())
        self.assertGreater(len(jsonl(r.stdout)), 150)


GROUPS = {"ip_fragments": IpFragments, "pcapng_interfaces": PcapngInterfaces}


if __name__ == "__main__":
    main(GROUPS)
