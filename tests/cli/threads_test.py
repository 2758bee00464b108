#!/usr/bin/env python3
"""--threads: the pipeline's output is the single-threaded run's, byte for
byte, for every capture, format and option (the summary's elapsed time and
rate masked).

  threads_test.py --tool T --sample-gen G --source S --build B threads
"""
import json
import os
import random
import re
import struct
import subprocess
import tempfile
import unittest

import capture_test
import cli_support
import workflow_test
from cli_support import (SEG_BEGIN, SEG_CALLING, config, data, generate, main, read_pcap, run,
                         sample, sccp_pcap, write_pcap, xudt)
from cli_test import ipv4_sctp

# (threads, QEL_SCREEN_BATCH): batches of one to three messages put batch
# edges inside segmented messages, between a segment and the expiry it
# causes, and inside the frames of one --write selection.
PIPELINES = [("4", None), ("4", "3"), ("2", "1")]

ELAPSED = [
    (re.compile(rb"in [0-9.]+ s \([0-9]+ msgs/s\)"), b"in T s (R msgs/s)"),
    (re.compile(rb"changed in [0-9.]+ s"), b"changed in T s"),
    (re.compile(rb'"elapsed_s":[0-9.]+'), b'"elapsed_s":T'),
    (re.compile(rb'"messages_per_s":[0-9]+'), b'"messages_per_s":R'),
]


def masked(err):
    for pattern, replacement in ELAPSED:
        err = pattern.sub(replacement, err)
    return err


def hex_messages(directory, count):
    hexfile = generate(directory, "m%d.hex" % count, "--link", "hex", "--count", str(count))
    with open(hexfile) as f:
        lines = [l.split("#")[0].strip() for l in f]
    return [bytes.fromhex(l.replace(" ", "").replace(":", "")) for l in lines if l]


def segmented(directory, count=400, seed=7):
    """Segmented Begins of a few callers, interleaved with single-segment
    XUDTs and other messages: whole ones, a segment lost or repeated, later
    segments alone, and first segments that wait past the age limit (a
    second a message) or to the end of the capture."""
    rng = random.Random(seed)
    others = hex_messages(directory, 400)
    callers = [SEG_CALLING, workflow_test.OTHER_CALLER, "1208001204" + "821500629089"]
    messages, open_refs = [], []
    for n in range(count):
        calling = rng.choice(callers)
        kind = rng.random()
        ref = n + 1
        if kind < 0.35:
            cut = rng.randrange(4, len(SEG_BEGIN) - 4)
            messages += [xudt(SEG_BEGIN[:cut], True, 1, ref, calling),
                         xudt(SEG_BEGIN[cut:], False, 0, ref, calling)]
        elif kind < 0.5:
            # Three segments, the last after other traffic.
            a, b = sorted(rng.sample(range(3, len(SEG_BEGIN) - 3), 2))
            messages += [xudt(SEG_BEGIN[:a], True, 2, ref, calling),
                         xudt(SEG_BEGIN[a:b], False, 1, ref, calling)]
            open_refs.append((xudt(SEG_BEGIN[b:], False, 0, ref, calling), rng.randrange(1, 14)))
        elif kind < 0.6:
            messages.append(xudt(SEG_BEGIN[:8], True, 1, ref, calling))  # never completed
        elif kind < 0.67:
            messages.append(xudt(SEG_BEGIN[8:], False, 0, ref, calling))  # alone
        elif kind < 0.74:
            first = xudt(SEG_BEGIN[:9], True, 1, ref, calling)
            messages += [first, first, xudt(SEG_BEGIN[9:], False, 0, ref, calling)]
        else:
            messages.append(xudt(SEG_BEGIN, True, 0, ref, calling))
        if rng.random() < 0.5:
            messages.append(rng.choice(others))
        still = []
        for m, wait in open_refs:
            if wait == 0:
                messages.append(m)
            else:
                still.append((m, wait - 1))
        open_refs = still
    return sccp_pcap(os.path.join(directory, "segmented.pcap"), messages)


def sctp_fragments(directory):
    """M3UA messages cut into three SCTP DATA chunks, in orders that make the
    reassembler wait, with retransmissions; between them, whole ones."""
    sccps = hex_messages(directory, 300)
    orders = [[0, 1, 2], [2, 0, 1], [1, 2, 0], [0, 1, 0, 2], [0, 2, 1], [0, 1, 2, 2]]
    frames, tsn = [], 100
    for i, sccp in enumerate(sccps):
        protocol_data = struct.pack(">II4B", 1, 2, 3, 0, 0, 0) + sccp
        param = struct.pack(">HH", 0x0210, 4 + len(protocol_data)) + protocol_data
        param += b"\0" * (-len(param) % 4)
        m3ua = struct.pack(">BBBBI", 1, 0, 1, 1, 8 + len(param)) + param
        if i % 3 == 2 or len(m3ua) < 30:
            frames.append(ipv4_sctp([(0x03, tsn, m3ua)], len(frames) + 1))
            tsn += 1
            continue
        third = (len(m3ua) + 2) // 3
        pieces = [m3ua[k * third:(k + 1) * third] for k in range(3)]
        flags = [0x02, 0x00, 0x01]
        for part in orders[i % len(orders)]:
            frames.append(ipv4_sctp([(flags[part], tsn + part, pieces[part])],
                                             len(frames) + 1))
        tsn += 3
    return write_pcap(os.path.join(directory, "sctp-fragments.pcap"), 101,
                      [(1700000000 + i, 0, f) for i, f in enumerate(frames)])


def ip_fragments(directory):
    raw = generate(directory, "raw.pcap", "--link", "raw", "--count", "600")
    link, frames = read_pcap(raw)
    return write_pcap(os.path.join(directory, "ip-fragments.pcap"), link,
                      capture_test.fragmented_capture(frames, capture_test.shuffled, pieces=3,
                                                      seed=3))


def damaged(directory):
    """Frames with octets overwritten or cut short, and a file that ends in
    the middle of a frame."""
    eth = generate(directory, "eth.pcap", "--count", "1500", "--seed", "5")
    link, frames = read_pcap(eth)
    rng = random.Random(11)
    out = []
    for sec, usec, b in frames:
        b = bytearray(b)
        r = rng.random()
        if r < 0.15:
            for _ in range(rng.randrange(1, 4)):
                b[rng.randrange(len(b))] = rng.randrange(256)
        elif r < 0.2:
            b = b[:rng.randrange(14, len(b))]
        out.append((sec, usec, bytes(b)))
    path = write_pcap(os.path.join(directory, "damaged.pcap"), link, out)
    with open(path, "r+b") as f:
        f.truncate(os.path.getsize(path) - 20)
    return path


def mixed_pcapng(directory, segmented_path):
    """Raw IP frames and bare SCCP segments on two interfaces of one pcapng."""
    raw = generate(directory, "raw2.pcap", "--link", "raw", "--count", "300", "--seed", "9")
    queues = [read_pcap(raw)[1], read_pcap(segmented_path)[1]]
    w = capture_test.Pcapng()
    w.section()
    w.interface(101)
    w.interface(142)
    while any(queues):
        for i, q in enumerate(queues):
            if q:
                sec, usec, b = q.pop(0)
                w.packet(i, sec * 10**6 + usec, b)
    path = os.path.join(directory, "mixed.pcapng")
    w.save(path)
    return path


class Threads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.dir = cls.tmp.name
        seg = segmented(d)
        cls.captures = {
            "sample": [sample()],
            "public": [data("public-samples.pcap")],
            "generated": [generate(d, "gen.pcap", "--count", "4000", "--seed", "3")],
            "sll2": [generate(d, "sll2.pcap", "--link", "sll2", "--count", "500")],
            "mtp2": [generate(d, "mtp2.pcap", "--link", "mtp2", "--count", "500")],
            "hex": [generate(d, "gen.hex", "--link", "hex", "--count", "500")],
            "segmented": [seg],
            "sctp fragments": [sctp_fragments(d)],
            "ip fragments": [ip_fragments(d)],
            "damaged": [damaged(d)],
            "pcapng": [mixed_pcapng(d, seg)],
        }
        cls.captures["several"] = (cls.captures["sample"] + cls.captures["public"] +
                                   cls.captures["segmented"] +
                                   cls.captures["sctp fragments"] + cls.captures["hex"])
        new = workflow_test.changed_config(d)
        home = workflow_test.HOME
        screen = ["screen", "--config", config()]
        cls.variants = {
            "text": screen,
            "jsonl": screen + ["--format", "jsonl"],
            "explain": screen + ["--explain", "--format", "jsonl"],
            "explain text": screen + ["--explain", "--color", "always"],
            "only": screen + ["--only", "denied,undecodable,outbound"] + home,
            "home": screen + ["--format", "jsonl"] + home,
            "write pcapng": screen + ["--only", "denied", "--write", "{out}.pcapng"] + home,
            "write pcap": screen + ["--format", "jsonl", "--write", "{out}.{pcap}"],
            "summary json": screen + ["--format", "jsonl", "--summary", "json",
                                      "--prefix-digits", "3"],
            "decode": ["decode"],
            "decode jsonl": ["decode", "--format", "jsonl"],
            "diff": ["diff", "--config", config(), new],
            "diff json": ["diff", "--config", config(), new, "--format", "jsonl", "--summary",
                          "json"] + home,
        }

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def outcome(self, name, args, files, threads, batch):
        """Exit status, output, masked summary and written capture of one run."""
        out = os.path.join(self.dir, "w-%s-%s" % (threads, batch))
        # Classic pcap holds one link type, and not every one.
        pcap = "pcapng" if len(files) > 1 or files[0].endswith(".pcapng") else "pcap"
        args = [a.replace("{out}", out).replace("{pcap}", pcap) for a in args]
        env = dict(os.environ)
        env.pop("QEL_SCREEN_BATCH", None)
        if batch:
            env["QEL_SCREEN_BATCH"] = batch
        hexed = ["--hex"] if name == "hex" else []
        r = subprocess.run([cli_support.ARGS.tool, *args, *hexed, "--threads", threads,
                                     *files], capture_output=True, env=env)
        written = None
        for suffix in (".pcap", ".pcapng"):
            if os.path.exists(out + suffix):
                with open(out + suffix, "rb") as f:
                    written = f.read()
                os.remove(out + suffix)
        return r.returncode, r.stdout, masked(r.stderr), written

    def test_every_capture_and_option_as_one_thread_writes_it(self):
        compared = 0
        for capture, files in self.captures.items():
            for variant, args in self.variants.items():
                with self.subTest(capture=capture, variant=variant):
                    one = self.outcome(capture, args, files, "1", None)
                    # 2 only where damage leaves a comparison unfinished.
                    self.assertIn(one[0], (0, 1, 2) if variant.startswith("diff") else (0, 1),
                                  one[2])
                    self.assertTrue(one[1] or one[2], "nothing to compare")
                    for threads, batch in PIPELINES:
                        got = self.outcome(capture, args, files, threads, batch)
                        where = "--threads %s, batch %s" % (threads, batch)
                        self.assertEqual(got[0], one[0], where)
                        self.assertEqual(got[2], one[2], where)
                        self.assertTrue(got[1] == one[1], where + ": output differs")
                        self.assertTrue(got[3] == one[3], where + ": written capture differs")
                        compared += 1
        self.assertEqual(compared, len(self.captures) * len(self.variants) * len(PIPELINES))

    def test_captures_of_many_read_blocks_as_one_thread_writes_them(self):
        """Captures of several MiB, read into the 1 MiB blocks the pipeline
        lends: batches point into the blocks, and with batches of one to three
        messages many batches hold each block, one batch holds two blocks
        where a block is renewed, and blocks are lent again while older
        batches are still waiting to be written. A second capture in the
        same run starts over with the blocks the first one gave back."""
        big = generate(self.dir, "blocks.pcap", "--count", "30000", "--seed", "4")
        self.assertGreater(os.path.getsize(big), 5 * 2**20)
        other = generate(self.dir, "blocks2.pcap", "--count", "10000", "--seed", "8")
        screen = ["screen", "--config", config()]
        variants = {
            "jsonl": screen + ["--format", "jsonl"],
            "explain text": screen + ["--explain"],
            "write pcap": screen + ["--format", "jsonl", "--write", "{out}.{pcap}"],
        }
        for capture, files in (("one", [big]), ("two", [big, other])):
            for variant, args in variants.items():
                with self.subTest(capture=capture, variant=variant):
                    one = self.outcome(capture, args, files, "1", None)
                    self.assertEqual(one[0], 0, one[2])
                    self.assertGreater(len(one[1]), 2**20)
                    if "--write" in args:
                        self.assertGreater(len(one[3] or b""), 5 * 2**20)
                    for threads in ("4", "2"):
                        for batch in ("1", "3", None):
                            got = self.outcome(capture, args, files, threads, batch)
                            where = "--threads %s, batch %s" % (threads, batch)
                            self.assertEqual(got[0], one[0], where)
                            self.assertEqual(got[2], one[2], where)
                            self.assertTrue(got[1] == one[1], where + ": output differs")
                            self.assertTrue(got[3] == one[3],
                                            where + ": written capture differs")
        # A block given back too early shows only when a batch is written
        # while the next one still fills from that block: a matter of timing,
        # so the plainest case is run again and again.
        one = self.outcome("one", variants["jsonl"], [big], "1", None)
        for run in range(12):
            for batch in ("2", None):
                with self.subTest(run=run, batch=batch):
                    got = self.outcome("one", variants["jsonl"], [big], "2", batch)
                    self.assertTrue(got[1] == one[1], "output differs")

    def test_captures_hold_what_the_comparison_needs(self):
        """The generated captures do what they are for: segments joined and
        given up by timeout, SCTP and IP fragments, damage."""
        def summary(capture):
            r = run("screen", "--config", config(), "--summary", "json",
                             "--format", "jsonl", *self.captures[capture])
            return r.returncode, json.loads(r.stderr.splitlines()[0])

        _, s = summary("segmented")
        self.assertGreater(s["segmented_messages"]["reassembled"], 50)
        for reason in ("timed out", "no first segment", "new first segment", "never completed"):
            self.assertGreater(s["segmented_messages"]["given_up"].get(reason, 0), 0, reason)
        r = run("decode", *self.captures["sctp fragments"])
        self.assertIn(b"SCTP fragment retransmitted", r.stderr)
        _, s = summary("ip fragments")
        self.assertGreater(s["messages"], 500)
        status, s = summary("damaged")
        self.assertEqual(status, 1)
        self.assertGreater(sum(s["undecodable"].values()), 0)


if __name__ == "__main__":
    main({"threads": Threads})
