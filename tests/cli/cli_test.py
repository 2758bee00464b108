#!/usr/bin/env python3
"""Whole-program tests of qel-screen: golden output, bad input, `check`,
every link type, a cross-check against tshark, and an installed copy.

  cli_test.py --tool T --sample-gen G --source S --build B GROUP

With QEL_UPDATE_GOLDEN=1 the golden files are rewritten instead of compared.
"""
import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import cli_support
from cli_support import (SEG_BEGIN, VERDICTS, TsharkComparison, config, data, decode, generate,
                         jsonl, main, one_a_second, run, sample, sccp_pcap, tool, without_frame,
                         write_pcap, xudt)

SCREEN_KEYS = ["frame", "index", "direction", "verdict", "code"]
DECODE_KEYS = ["frame", "index", "type", "time", "opc", "dpc"]
ADDRESS_KEYS = {"ri", "gti", "pc", "ssn", "tt", "npi", "nai", "digits"}


def check_origin(test, rec):
    """The origin keys of a sample record: all M3UA over SCTP over IP but SUA and M2PA."""
    test.assertIsInstance(rec["time"], float)
    test.assertGreater(rec["time"], 1.7e9)
    for key in ("opc", "dpc"):
        test.assertTrue(rec[key] is None or isinstance(rec[key], int), rec)
    test.assertIn(rec.get("si"), (None, 3))
    test.assertIsInstance(rec["src"], str)
    test.assertIsInstance(rec["dst"], str)
    test.assertIsInstance(rec["sport"], int)
    test.assertIsInstance(rec["stream"], int)


class Golden(unittest.TestCase):
    def compare(self, name, produced):
        path = data(name)
        if os.environ.get("QEL_UPDATE_GOLDEN"):
            with open(path, "wb") as f:
                f.write(produced)
            return
        with open(path, "rb") as f:
            expected = f.read()
        self.assertEqual(produced.decode().splitlines(), expected.decode().splitlines())

    def test_screen_jsonl(self):
        r = run("screen", "--config", config(), "--format", "jsonl", sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        records = jsonl(r.stdout)
        self.assertGreater(len(records), 100)
        for rec in records:
            self.assertEqual(list(rec)[:5], SCREEN_KEYS)
            if rec["verdict"] is not None:
                self.assertIn(rec["verdict"], VERDICTS)
            check_origin(self, rec)
            for code, name in rec.get("operation_names", {}).items():
                self.assertIn(int(code), rec["operations"])
                self.assertTrue(name)
        # A spread of verdicts, and the damaged messages reported.
        self.assertGreaterEqual(len({rec["verdict"] for rec in records}), 3)
        self.assertTrue(any("error" in rec for rec in records))
        self.compare("golden-screen.jsonl", r.stdout)

    def test_screen_explain_jsonl(self):
        r = run("screen", "--config", config(), "--format", "jsonl", "--explain", sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        records = jsonl(r.stdout)
        for rec in records:
            if rec["verdict"] is None:
                continue
            e = rec["explain"]
            for key in ("calling", "called", "tt", "op", "fsm", "decided_by"):
                self.assertIn(key, e)
        self.compare("golden-screen-explain.jsonl", r.stdout)

    def test_decode_jsonl(self):
        r = run("decode", "--format", "jsonl", sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        records = jsonl(r.stdout)
        for rec in records:
            self.assertEqual(list(rec)[:6], DECODE_KEYS)
            check_origin(self, rec)
            for side in ("calling", "called"):
                if rec[side] is not None:
                    self.assertEqual(set(rec[side]), ADDRESS_KEYS)
                    self.assertIn(rec[side]["ri"], ("gt", "ssn"))
            if rec["tcap"] is not None:
                self.assertIn(rec["tcap"]["type"],
                              ("begin", "continue", "end", "abort", "unidirectional"))
                for c in rec["tcap"]["components"]:
                    self.assertEqual(set(c), {"kind", "opcode", "local", "global", "imsi"})
        self.compare("golden-decode.jsonl", r.stdout)

    def test_text_output_and_summary(self):
        r = run("screen", "--config", config(), sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().splitlines()
        self.assertTrue(lines[0].split()[:3] == ["FRAME", "#", "CALLING"], lines[0])
        self.assertNotIn("\x1b[", r.stdout.decode())  # no colours into a pipe
        err = r.stderr.decode()
        self.assertRegex(err, r"qel-screen: \d+ frames, \d+ SCCP messages in [\d.]+ s \(\d+ msgs/s\)")
        self.assertIn("explicitlyDenied", err)
        self.assertIn("frames without SCCP", err)
        self.assertIn("not SCTP", err)

    def test_only_selects_verdicts(self):
        r = run("screen", "--config", config(), "--format", "jsonl", "--only",
                "explicitlyDenied,undecodable", sample())
        records = jsonl(r.stdout)
        self.assertTrue(records)
        for rec in records:
            self.assertTrue(rec["verdict"] == "explicitlyDenied" or "error" in rec, rec)

    def test_standard_input_reads_like_the_file(self):
        with open(sample(), "rb") as f:
            piped = run("decode", "--format", "jsonl", "-", stdin=f.read())
        direct = run("decode", "--format", "jsonl", sample())
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stdout, direct.stdout)
        with tempfile.TemporaryDirectory() as d:
            hexfile = generate(d, "m.hex", "--link", "hex", "--count", "1")
            with open(hexfile, "rb") as f:
                piped = run("decode", "--format", "jsonl", "--hex", "-", stdin=f.read())
            self.assertEqual(piped.returncode, 0, piped.stderr)
            self.assertEqual(piped.stdout, run("decode", "--format", "jsonl", hexfile).stdout)

    @unittest.skipUnless(shutil.which("editcap"), "editcap not installed")
    def test_pcapng_reads_like_pcap(self):
        with tempfile.TemporaryDirectory() as d:
            ng = os.path.join(d, "sample.pcapng")
            subprocess.run(["editcap", "-F", "pcapng", sample(), ng], check=True)
            a = run("decode", "--format", "jsonl", ng)
            b = run("decode", "--format", "jsonl", sample())
            self.assertEqual(a.returncode, 0, a.stderr)
            self.assertEqual(a.stdout, b.stdout)

    def test_several_captures_name_their_file(self):
        with tempfile.TemporaryDirectory() as d:
            hexfile = generate(d, "m.hex", "--link", "hex", "--count", "1")
            r = run("screen", "--config", config(), "--format", "jsonl", sample(), hexfile)
            self.assertEqual(r.returncode, 0, r.stderr)
            files = {rec["file"] for rec in jsonl(r.stdout)}
            self.assertEqual(files, {sample(), hexfile})


class BadInput(unittest.TestCase):
    def assertRefused(self, r, *words):
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertEqual(r.stdout, b"", "nothing half-printed")
        err = r.stderr.decode()
        self.assertEqual(len(err.splitlines()), 1, err)
        for w in words:
            self.assertIn(w, err)

    def test_missing_capture(self):
        self.assertRefused(run("screen", "--config", config(), sample(), "/no/such.pcap"),
                           "/no/such.pcap", "No such file")
        self.assertRefused(run("decode", "/no/such.pcap"), "/no/such.pcap", "No such file")

    def test_directory_empty_and_foreign_files(self):
        with tempfile.TemporaryDirectory() as d:
            self.assertRefused(run("decode", d), d, "Is a directory")
            empty = os.path.join(d, "empty.pcap")
            open(empty, "wb").close()
            self.assertRefused(run("decode", empty), empty, "empty")
            text = os.path.join(d, "notes.pcap")
            with open(text, "wb") as f:
                f.write(b"\x7fELF\x02\x01\x01 not a capture")
            self.assertRefused(run("decode", text), text, "not a capture (pcap or pcapng)")

    @unittest.skipIf(os.geteuid() == 0, "root reads any file")
    def test_unreadable_capture_and_config(self):
        with tempfile.TemporaryDirectory() as d:
            locked = os.path.join(d, "locked.pcap")
            shutil.copy(sample(), locked)
            os.chmod(locked, 0)
            self.assertRefused(run("decode", locked), locked, "Permission denied")
            cfg = os.path.join(d, "locked.toml")
            shutil.copy(config(), cfg)
            os.chmod(cfg, 0)
            self.assertRefused(run("screen", "--config", cfg, sample()), cfg, "Permission denied")

    def test_truncated_capture_screens_what_precedes_the_damage(self):
        whole = run("screen", "--config", config(), "--format", "jsonl", sample())
        with tempfile.TemporaryDirectory() as d:
            cut = os.path.join(d, "cut.pcap")
            with open(sample(), "rb") as f:
                content = f.read()
            with open(cut, "wb") as f:
                f.write(content[: len(content) // 2])
            r = run("screen", "--config", config(), "--format", "jsonl", cut)
            self.assertEqual(r.returncode, 1, r.stderr)
            got = r.stdout.decode().splitlines()
            self.assertGreater(len(got), 10)
            self.assertEqual(got, whole.stdout.decode().splitlines()[: len(got)])
            self.assertRegex(r.stderr.decode(), r"warning: .*cut.pcap: damaged after frame \d+")

    def test_bad_configuration(self):
        bad = data("lint-syntax.toml")
        self.assertRefused(run("screen", "--config", bad, sample()), bad + ":3:1:")
        self.assertRefused(run("screen", "--config", "/no/such.toml", sample()),
                           "/no/such.toml", "No such file")

    def test_bad_plugin(self):
        self.assertRefused(run("screen", "--config", config(), "--plugin", "/no/such.so", sample()),
                           "/no/such.so")
        # A shared library that is not a screening plug-in.
        libc = "/lib/x86_64-linux-gnu/libm.so.6"
        if os.path.exists(libc):
            self.assertRefused(run("screen", "--config", config(), "--plugin", libc, sample()),
                               "not a screening plug-in")

    def test_unsupported_link_type(self):
        with tempfile.TemporaryDirectory() as d:
            usb = os.path.join(d, "usb.pcap")
            with open(usb, "wb") as f:
                f.write(bytes.fromhex("d4c3b2a1020004000000000000000000ffff0000bd000000"))
            self.assertRefused(run("decode", usb), usb, "link type 189")

    def test_bad_command_line(self):
        r = run("screen", "--config", config(), "--only", "maybe", sample())
        self.assertRefused(r, "maybe")
        r = run("screen", sample())
        self.assertEqual(r.returncode, 2)
        self.assertIn("--config", r.stderr.decode())

    def test_undecodable_hex_lines_are_counted(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "m.hex")
            with open(path, "w") as f:
                f.write("# one good, one damaged, one not hex\n")
                f.write("0980030e190b12060012048279192086540b120800120482760023799349" + "00\n")
                f.write("09800300\n")
                f.write("zz\n")
            r = run("decode", "--format", "jsonl", path)
            self.assertEqual(r.returncode, 0, r.stderr)
            records = jsonl(r.stdout)
            self.assertEqual([rec["frame"] for rec in records], [2, 3])
            self.assertIn("error", records[1])
            self.assertIn("line not hex 1", r.stderr.decode())


class HostileFiles(unittest.TestCase):
    """Files and command lines made to trip the tool."""

    def test_hex_line_without_end_is_damage(self):
        with tempfile.TemporaryDirectory() as d:
            zero = os.path.join(d, "zero.hex")
            os.symlink("/dev/zero", zero)
            r = run("decode", zero)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn("line 1 is longer than", r.stderr.decode())
            long = os.path.join(d, "long.hex")
            with open(long, "w") as f:
                f.write("0980030e190b12060012048279192086540b1208001204827600237993490 0\n")
                f.write("00" * 70000 + "\n")
            r = run("decode", long)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn("line 2 is longer than", r.stderr.decode())

    def test_white_space_only_is_nothing_to_do(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "blank.hex")
            with open(path, "w") as f:
                f.write("  \n\t\n   \n")
            r = run("decode", path)
            self.assertEqual(r.returncode, 2, r.stderr)
            self.assertEqual(len(r.stderr.decode().splitlines()), 1, r.stderr)
            self.assertIn("white space", r.stderr.decode())
            r = run("decode", "-", stdin=b"\n \n")
            self.assertEqual(r.returncode, 2, r.stderr)

    def test_only_takes_one_value_per_occurrence(self):
        with tempfile.TemporaryDirectory() as d:
            hexfile = generate(d, "m.hex", "--link", "hex", "--count", "20")
            r = run("screen", "--config", config(), "--format", "jsonl", "--only", "denied",
                    "--only", "undecodable,explicitlyPermitted", sample(), hexfile)
            self.assertEqual(r.returncode, 0, r.stderr)
            records = jsonl(r.stdout)
            self.assertEqual({rec["file"] for rec in records}, {sample(), hexfile})
            for rec in records:
                self.assertTrue(rec["verdict"] in ("explicitlyDenied", "implicitlyDenied",
                                                   "explicitlyPermitted") or "error" in rec, rec)

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full")
    def test_every_printing_command_fails_on_a_full_device(self):
        for args in (["check", config()], ["decode", sample()], ["--version"],
                     ["screen", "--config", config(), sample()]):
            with open("/dev/full", "wb") as full:
                r = subprocess.run([tool(), *args], stdout=full, stderr=subprocess.PIPE)
            self.assertEqual(r.returncode, 2, (args, r.stderr))
            self.assertIn(b"error writing the output", r.stderr, args)

    def test_file_names_stay_valid_json_and_messages_one_line(self):
        with tempfile.TemporaryDirectory() as d:
            odd = os.path.join(d.encode(), b"a\xffb\nc.pcap")
            shutil.copy(sample(), odd)
            r = subprocess.run([tool(), "decode", "--format", "jsonl", odd, sample()],
                               capture_output=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            files = {rec["file"] for rec in jsonl(r.stdout)}
            self.assertIn(os.path.join(d, "a\ufffdb\nc.pcap"), files)
            missing = os.path.join(d.encode(), b"no\nsuch.pcap")
            r = subprocess.run([tool(), "decode", missing], capture_output=True)
            self.assertEqual(r.returncode, 2)
            self.assertEqual(len(r.stderr.splitlines()), 1, r.stderr)
            self.assertIn(b"no\\nsuch.pcap", r.stderr)


class DamagedTcap(unittest.TestCase):
    """A sound SCCP message whose TCAP is read only in part."""

    def test_counted_undecodable_and_explained(self):
        called = bytes([0x12, 0x06, 0x00, 0x12, 0x04, 0x21, 0x43])  # GT 1234, SSN 6
        # Begin whose one component has an invoke ID running past the component.
        tcap = bytes.fromhex("620d4804010203046c05a103020501")
        n = len(called)
        udt = bytes([0x09, 0x80, 3, 3 + n, 3 + 2 * n, n]) + called + bytes([n]) + called \
            + bytes([len(tcap)]) + tcap
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "m.hex")
            with open(path, "w") as f:
                f.write(udt.hex() + "\n")
            r = run("screen", "--config", config(), "--format", "jsonl", "--explain", path)
            self.assertEqual(r.returncode, 0, r.stderr)
            [rec] = jsonl(r.stdout)
            self.assertEqual(rec["error"], "damagedTcap")
            self.assertIsNotNone(rec["verdict"])
            self.assertTrue(rec["explain"]["tcap_damaged"])
            self.assertRegex(r.stderr.decode(),
                             r"undecodable +1 \(screened as far as decoded: 1\)")
            text = run("screen", "--config", config(), "--explain", path)
            self.assertIn("on damaged TCAP", text.stdout.decode())
            r = run("screen", "--config", config(), "--format", "jsonl", "--only", "undecodable",
                    path)
            self.assertEqual(len(jsonl(r.stdout)), 1)


class Check(unittest.TestCase):
    def test_exit_status(self):
        for path, status in ((config(), 0), (data("lint-clean.toml"), 0),
                             (data("lint-warnings.toml"), 1), (data("lint-syntax.toml"), 2),
                             ("/no/such.toml", 2)):
            r = run("check", path)
            self.assertEqual(r.returncode, status, (path, r.stderr))

    def test_prints_effective_rules_and_positions(self):
        r = run("check", data("lint-warnings.toml"))
        self.assertIn(b"default-deny-tt                    = false", r.stdout)
        self.assertIn(data("lint-warnings.toml").encode() + b":9:20: warning:", r.stderr)
        bad = run("check", data("lint-syntax.toml"))
        self.assertEqual(bad.stdout, b"")
        self.assertTrue(bad.stderr.decode().startswith(data("lint-syntax.toml") + ":3:1: "))


class LinkTypes(unittest.TestCase):
    """The same traffic under every link type gives the same messages."""

    def decode(self, path):
        return decode(path)[0]

    def test_ip_link_types(self):
        with tempfile.TemporaryDirectory() as d:
            reference = self.decode(generate(d, "eth.pcap"))
            for link in ("sll", "sll2", "raw"):
                got = self.decode(generate(d, link + ".pcap", "--link", link))
                self.assertEqual(without_frame(got), without_frame(reference), link)

    def test_signalling_link_types(self):
        with tempfile.TemporaryDirectory() as d:
            reference = self.decode(generate(d, "sccp.pcap", "--link", "sccp"))
            self.assertEqual(len(reference), 160)
            for link in ("mtp3", "mtp2", "hex"):
                name = link + (".hex" if link == "hex" else ".pcap")
                got = self.decode(generate(d, name, "--link", link))
                self.assertEqual(without_frame(got), without_frame(reference), link)


@unittest.skipUnless(shutil.which("tshark"), "tshark not installed")
class Tshark(TsharkComparison, unittest.TestCase):
    """Our decoding of the sample against Wireshark's, message by message."""

    def test_sample(self):
        self.assertGreater(self.check_capture(sample()), 150)

    def test_other_link_types(self):
        with tempfile.TemporaryDirectory() as d:
            for link in ("sll2", "mtp2", "mtp3"):
                self.assertGreater(self.check_capture(generate(d, link + ".pcap", "--link", link)),
                                   150, link)


def ipv4_sctp(chunks, ident):
    """A raw IPv4 frame with an SCTP packet of the given DATA chunks
    (flags, tsn, payload) on port 2905, PPID 3 (M3UA)."""
    body = b""
    for flags, tsn, payload in chunks:
        length = 16 + len(payload)
        body += struct.pack(">BBHIHHI", 0, flags, length, tsn, 1, 0, 3) + payload
        body += b"\0" * (-length % 4)
    sctp = struct.pack(">HHII", 2905, 2905, 1, 0) + body
    total = 20 + len(sctp)
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, total, ident, 0, 64, 132, 0,
                     bytes([10, 0, 0, 1]), bytes([10, 0, 0, 2]))
    return ip + sctp


@unittest.skipUnless(shutil.which("tshark"), "tshark not installed")
class SctpReassembly(TsharkComparison, unittest.TestCase):
    """Fragmented M3UA messages, retransmitted and reordered: the messages
    found, frame by frame, are the ones tshark reassembles."""

    OPTIONS = ["-o", "sctp.reassembly:TRUE"]

    ORDERS = {
        "retransmitted first": [0, 1, 0, 2],
        "retransmitted middle": [0, 1, 1, 2],
        "last first": [2, 0, 1],
        "middle first": [1, 2, 0],
        "first, last, middle": [0, 2, 1],
    }

    def messages(self, d):
        hexfile = generate(d, "m.hex", "--link", "hex", "--count", "40")
        with open(hexfile) as f:
            lines = [l.split("#")[0].strip() for l in f]
        sccps = [bytes.fromhex(l.replace(" ", "").replace(":", "")) for l in lines if l]
        # UDTs with a TCAP Begin carrying an operation, long enough to cut in three.
        return [m for m in sccps if m[0] == 0x09 and len(m) > 60][:len(self.ORDERS)]

    def test_reassembled_like_tshark(self):
        with tempfile.TemporaryDirectory() as d:
            frames, tsn, expected = [], 100, 0
            for (name, order), sccp in zip(self.ORDERS.items(), self.messages(d)):
                protocol_data = struct.pack(">II4B", 1, 2, 3, 0, 0, 0) + sccp
                param = struct.pack(">HH", 0x0210, 4 + len(protocol_data)) + protocol_data
                param += b"\0" * (-len(param) % 4)
                m3ua = struct.pack(">BBBBI", 1, 0, 1, 1, 8 + len(param)) + param
                third = (len(m3ua) + 2) // 3
                pieces = [m3ua[i * third:(i + 1) * third] for i in range(3)]
                flags = [0x02, 0x00, 0x01]
                for part in order:
                    frames.append(ipv4_sctp([(flags[part], tsn + part, pieces[part])],
                                            len(frames) + 1))
                tsn += 3
                expected += 1
            path = os.path.join(d, "fragments.pcap")
            write_pcap(path, 101, one_a_second(frames))
            self.assertEqual(self.check_capture(path), expected)
            r = run("decode", "--format", "jsonl", path)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(len(jsonl(r.stdout)), expected)
            err = r.stderr.decode()
            self.assertNotIn("out of sequence", err)
            self.assertNotIn("never completed", err)
            self.assertIn("SCTP fragment retransmitted 2", err)


class Install(unittest.TestCase):
    def test_installed_tool_finds_its_plugin(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", cli_support.ARGS.build, "--prefix", prefix],
                           check=True, capture_output=True)
            tool = os.path.join(prefix, "bin", "qel-screen")
            self.assertTrue(os.access(tool, os.X_OK))
            self.assertTrue(os.path.exists(os.path.join(prefix, "include", "px", "Plugin.hpp")))
            r = run("screen", "--config", config(), "--format", "jsonl", sample(), tool=tool)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(data("golden-screen.jsonl"), "rb") as f:
                self.assertEqual(r.stdout.decode().splitlines(), f.read().decode().splitlines())
            # Moved elsewhere, the installation still works: nothing points into the build.
            moved = prefix + "-moved"
            shutil.move(prefix, moved)
            try:
                r = run("screen", "--config", config(), "--format", "jsonl", sample(),
                        tool=os.path.join(moved, "bin", "qel-screen"))
                self.assertEqual(r.returncode, 0, r.stderr)
            finally:
                shutil.move(moved, prefix)

class Segments(unittest.TestCase):
    """Segmented XUDT messages screened whole, and given up ones from their first segment."""

    def screen(self, path, *extra):
        r = run("screen", "--config", config(), "--format", "jsonl", *extra, path)
        self.assertEqual(r.returncode, 0, r.stderr)
        return jsonl(r.stdout), r.stderr.decode()

    def test_denied_operation_in_a_later_segment_denies_every_segment(self):
        with tempfile.TemporaryDirectory() as d:
            n = len(SEG_BEGIN)
            for cut in range(1, n):
                path = sccp_pcap(os.path.join(d, "two.pcap"),
                                 [xudt(SEG_BEGIN[:cut], True, 1, 7),
                                  xudt(SEG_BEGIN[cut:], False, 0, 7)])
                records, _ = self.screen(path)
                self.assertEqual([r["segment"] for r in records], [[1, 2], [2, 2]], cut)
                self.assertEqual([r["frame"] for r in records], [1, 2])
                for r in records:
                    self.assertEqual(r["verdict"], "explicitlyDenied", (cut, r))
                    self.assertEqual(r["operations"], [45, 71])
                    self.assertNotIn("reassembly", r)
            for i in range(1, n, 3):
                for j in range(i, n, 2):
                    path = sccp_pcap(os.path.join(d, "three.pcap"),
                                     [xudt(SEG_BEGIN[:i], True, 2, 9),
                                      xudt(SEG_BEGIN[i:j], False, 1, 9),
                                      xudt(SEG_BEGIN[j:], False, 0, 9)])
                    records, _ = self.screen(path)
                    self.assertEqual([r["verdict"] for r in records], ["explicitlyDenied"] * 3)
                    self.assertEqual([r["segment"] for r in records], [[1, 3], [2, 3], [3, 3]])

    def test_interleaved_callers(self):
        other = "1208001204" + "821500629088"
        with tempfile.TemporaryDirectory() as d:
            path = sccp_pcap(os.path.join(d, "mix.pcap"), [
                xudt(SEG_BEGIN[:10], True, 1, 5),
                xudt(SEG_BEGIN[:12], True, 1, 5, other),
                xudt(SEG_BEGIN[12:], False, 0, 5, other),
                xudt(SEG_BEGIN[10:], False, 0, 5)])
            records, err = self.screen(path)
            self.assertEqual([(r["frame"], r["segment"]) for r in records],
                             [(2, [1, 2]), (3, [2, 2]), (1, [1, 2]), (4, [2, 2])])
            self.assertEqual({r["verdict"] for r in records}, {"explicitlyDenied"})
            self.assertIn("segmented messages            2 reassembled, 0 given up", err)

    def test_segments_that_do_not_fit(self):
        b = SEG_BEGIN
        cases = {
            "out of order": [xudt(b[:8], True, 2, 3), xudt(b[16:], False, 0, 3),
                             xudt(b[8:16], False, 1, 3)],
            "duplicate": [xudt(b[:8], True, 2, 3), xudt(b[8:16], False, 1, 3),
                          xudt(b[8:16], False, 1, 3)],
            "count does not follow": [xudt(b[:8], True, 1, 3), xudt(b[8:], False, 4, 3)],
            "never completed": [xudt(b[:8], True, 1, 3)],
            "no first segment": [xudt(b[8:], False, 0, 3)],
        }
        with tempfile.TemporaryDirectory() as d:
            for reason, messages in cases.items():
                path = sccp_pcap(os.path.join(d, "bad.pcap"), messages)
                records, err = self.screen(path)
                self.assertEqual(len(records), len(messages), reason)
                self.assertIn(reason + " 1", err)
                for r in records:
                    self.assertEqual(r["reassembly"], "incomplete", (reason, r))
                    # The first segment alone holds no denied operation.
                    self.assertNotEqual(r["verdict"], "explicitlyDenied", (reason, r))

    def test_decode_shows_the_joined_message_as_tshark_does(self):
        with tempfile.TemporaryDirectory() as d:
            path = sccp_pcap(os.path.join(d, "two.pcap"), [xudt(SEG_BEGIN[:11], True, 1, 4),
                                                          xudt(SEG_BEGIN[11:], False, 0, 4)])
            r = run("decode", "--format", "jsonl", path)
            self.assertEqual(r.returncode, 0, r.stderr)
            records = jsonl(r.stdout)
            self.assertEqual([x["segment"] for x in records], [[1, 2], [2, 2]])
            ours = [c["opcode"] for c in records[1]["tcap"]["components"]]
            t = subprocess.run(["tshark", "-r", path, "-T", "fields", "-e", "frame.number",
                                "-e", "gsm_old.localValue", "-E", "aggregator=,"],
                               capture_output=True, check=True)
            theirs = {}
            for line in t.stdout.decode().splitlines():
                frame, _, ops = line.partition("\t")
                theirs[int(frame)] = [int(x) for x in ops.split(",") if x]
            self.assertEqual(theirs[2], ours)
            self.assertEqual(ours, [45, 71])


class Direction(unittest.TestCase):
    """--home-pc, --home-ip, --home-gt: only inbound messages are screened."""

    def screen(self, *extra):
        r = run("screen", "--config", config(), "--format", "jsonl", *extra, sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        return jsonl(r.stdout), r.stderr.decode()

    def test_kinds_and_values(self):
        everything, _ = self.screen()
        self.assertEqual({r["direction"] for r in everything}, {"inbound"})
        for options, rule in [
                (["--home-pc", "257"], lambda r: r["dpc"] == 257),
                (["--home-pc", "0-32-1,9"], lambda r: r["dpc"] in (257, 9)),
                (["--home-ip", "192.0.2.0/24"],
                 lambda r: r["dst"] is not None and r["dst"].startswith("192.0.2.")),
                (["--home-gt", "2897"],
                 lambda r: (r["called_digits"] or "").startswith("2897")),
                (["--home-gt", "2897", "--home-pc", "999"], lambda r: False)]:
            records, err = self.screen(*options)
            self.assertEqual(len(records), len(everything))
            outbound = 0
            for r, ref in zip(records, everything):
                if rule(r):
                    self.assertEqual(r["direction"], "inbound", options)
                    self.assertEqual(r["verdict"], ref["verdict"])
                else:
                    outbound += 1
                    self.assertEqual(r["direction"], "outbound", (options, r))
                    self.assertIsNone(r["verdict"])
                    self.assertIsNone(r["code"])
            if outbound:
                self.assertRegex(err, r"outbound\s+%d \(not screened\)" % outbound)
        only, _ = self.screen("--home-pc", "999", "--only", "outbound")
        self.assertEqual(len(only), len(everything))
        none, _ = self.screen("--home-pc", "999", "--only", "denied")
        self.assertEqual(none, [])

    def test_text_shows_outbound(self):
        r = run("screen", "--config", config(), "--home-gt", "1", sample())
        lines = r.stdout.decode().splitlines()
        at = lines[0].index("VERDICT")
        self.assertTrue(lines[1:])
        self.assertTrue(all(line[at:].startswith("outbound ") for line in lines[1:]))

    def test_bad_values(self):
        for option, value in [("--home-pc", "1-2"), ("--home-pc", "8-0-0"),
                              ("--home-ip", "10.0.0.0/33"), ("--home-ip", "nowhere"),
                              ("--home-gt", "+41")]:
            r = run("screen", "--config", config(), option, value, sample())
            self.assertEqual(r.returncode, 2, (option, value))
            self.assertEqual(r.stdout, b"")
            self.assertIn(option, r.stderr.decode())
            self.assertIn(value, r.stderr.decode())


class TextTable(unittest.TestCase):
    """Columns stay where the header puts them, however wide a cell."""

    def test_columns_line_up(self):
        r = run("screen", "--config", config(), "--explain", sample())
        lines = r.stdout.decode().splitlines()
        header = lines[0]
        verdict_at, why_at = header.index("VERDICT"), header.index("WHY")
        for line in lines[1:]:
            words = line[verdict_at:].split()
            self.assertEqual(line[verdict_at - 1], " ", line)
            if words[0] == "undecodable":
                continue
            self.assertIn(words[0], VERDICTS, line)
            self.assertEqual(line[why_at - 1], " ", line)
            self.assertTrue(line[why_at:].startswith("by "), line)
        # Named operations, and permitted rows name every agreeing dimension.
        self.assertTrue(any("71 anyTimeInterrogation" in line for line in lines))
        self.assertFalse(any("explicitlyPermitted" in line and "by calling:" in line
                             for line in lines))


GROUPS = {"golden": Golden, "bad_input": BadInput, "check": Check, "link_types": LinkTypes,
          "tshark": Tshark, "install": Install, "hostile_files": HostileFiles,
          "sctp_reassembly": SctpReassembly, "damaged_tcap": DamagedTcap, "segments": Segments,
          "direction": Direction, "text_table": TextTable}


if __name__ == "__main__":
    main(GROUPS)
