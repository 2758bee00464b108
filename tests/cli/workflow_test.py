#!/usr/bin/env python3
"""Whole-program tests of qel-screen's operator workflow: --write checked
with tshark, the JSON summary, `diff` against two plain runs, streaming and
signals, refused inputs and colour, and a live capture on a veth pair inside
a network namespace made (and removed) by the test.

  workflow_test.py --tool T --sample-gen G --source S --build B GROUP
"""
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from cli_support import (SEG_BEGIN, config, generate, jsonl, main, pcap_records, run, sample,
                         sccp_pcap, tool, xudt)

TSHARK = shutil.which("tshark")


def tshark_fields(path, *fields, display=None):
    args = [TSHARK, "-r", path, "-T", "fields", "-E", "separator=\t"]
    if display:
        args += ["-Y", display]
    for f in fields:
        args += ["-e", f]
    r = subprocess.run(args, capture_output=True, check=True)
    return [line.split("\t") for line in r.stdout.decode().splitlines()]


# The sample's home network: four messages leave it.
HOME = ["--home-gt", "28979", "--home-ip", "192.0.2.0/24"]
OTHER_CALLER = "1208001204" + "821500629088"


def segmented_capture(directory):
    """Frames 1 and 3: a Begin in two segments whose second holds a denied
    operation; frame 2: another caller's first segment that never completes."""
    return sccp_pcap(os.path.join(directory, "seg.pcap"),
                     [xudt(SEG_BEGIN[:10], True, 1, 5),
                      xudt(SEG_BEGIN[:12], True, 1, 6, OTHER_CALLER),
                      xudt(SEG_BEGIN[10:], False, 0, 5)])


def changed_config(directory):
    """The example rules with partner 28512 and translation type 10 let through."""
    with open(config()) as f:
        text = f.read()
    for old, new in [('["28979", "28512", "882", "883"]', '["28979", "882", "883"]'),
                     ("allowed-tt = [0]", "allowed-tt = [0, 10]"),
                     ("denied-tt = [9, 10, 17]", "denied-tt = [9, 17]")]:
        assert old in text, old
        text = text.replace(old, new)
    path = os.path.join(directory, "new.toml")
    with open(path, "w") as f:
        f.write(text)
    return path


@unittest.skipUnless(TSHARK, "tshark not installed")
class Write(unittest.TestCase):
    def written_frames(self, selection, suffix):
        """Runs --write and returns (records, original numbers of the written frames,
        their comments, the frames that must be there)."""
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "out" + suffix)
            r = run("screen", "--config", config(), "--format", "jsonl", *selection,
                    "--write", out, sample())
            self.assertEqual(r.returncode, 0, r.stderr)
            records = jsonl(r.stdout)
            original = {row[1]: int(row[0]) for row in
                        tshark_fields(sample(), "frame.number", "frame.time_epoch")}
            written = tshark_fields(out, "frame.time_epoch", "frame.comment")
            numbers = [original[row[0]] for row in written]
            comments = {original[row[0]]: row[1] for row in written}
        frames = {rec["frame"] for rec in records}
        # A reassembled message needs every frame that carried a fragment of it.
        for row in tshark_fields(sample(), "frame.number", "sctp.fragment",
                                 display="sctp.fragments"):
            if int(row[0]) in frames:
                frames |= {int(n) for n in row[1].split(",")}
        return records, numbers, comments, frames

    def test_pcap_holds_exactly_the_selected_frames(self):
        records, numbers, _, expected = self.written_frames(["--only", "denied"], ".pcap")
        self.assertTrue(records)
        self.assertEqual(len(numbers), len(set(numbers)), "no frame twice")
        self.assertEqual(set(numbers), expected)

    def test_every_fragment_of_a_reassembled_message_is_written(self):
        records, numbers, _, expected = self.written_frames([], ".pcap")
        self.assertEqual(set(numbers), expected)
        self.assertGreater(len(expected), len({r["frame"] for r in records}))

    def test_pcapng_comments_name_index_verdict_and_why(self):
        records, numbers, comments, expected = self.written_frames(
            ["--only", "denied,undecodable"], ".pcapng")
        self.assertEqual(set(numbers), expected)
        for rec in records:
            comment = comments[rec["frame"]]
            verdict = rec["verdict"] or "undecodable"
            self.assertIn(f"message {rec['index']}: {verdict}", comment)
            if rec["verdict"]:
                self.assertRegex(comment, r" by (operation|calling|called|tt|op|fsm|none)")

    def test_outbound_selection_writes_the_outbound_frames(self):
        records, numbers, comments, expected = self.written_frames(
            ["--only", "outbound", *HOME], ".pcapng")
        self.assertEqual(len(records), 4)
        self.assertEqual({r["direction"] for r in records}, {"outbound"})
        self.assertEqual(set(numbers), expected)
        for rec in records:
            self.assertIn(f"message {rec['index']}: outbound", comments[rec["frame"]])

    def test_every_segment_frame_of_a_selected_message_is_written(self):
        with tempfile.TemporaryDirectory() as d:
            path = segmented_capture(d)
            for only, frames in [("explicitlyDenied", [1, 3]),
                                 ("explicitlyPermitted,implicitlyPermitted,implicitlyDenied,"
                                  "undefined,undecodable", [2])]:
                out = os.path.join(d, "out.pcapng")
                r = run("screen", "--config", config(), "--format", "jsonl", "--only", only,
                        "--write", out, path)
                self.assertEqual(r.returncode, 0, r.stderr)
                records = jsonl(r.stdout)
                self.assertEqual(sorted(x["frame"] for x in records), frames)
                written = tshark_fields(out, "frame.time_epoch", "frame.comment")
                # One frame a second from 1700000000: the time names the frame.
                self.assertEqual(sorted(int(float(t)) - 1700000000 + 1 for t, _ in written),
                                 frames, only)
                if frames == [1, 3]:
                    for k, (_, comment) in enumerate(sorted(written)):
                        self.assertIn(f"segment {k + 1} of 2: message 0: explicitlyDenied",
                                      comment)

    def test_timestamps_and_bytes_are_kept(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "all.pcap")
            r = run("screen", "--config", config(), "--write", out, sample())
            self.assertEqual(r.returncode, 0, r.stderr)
            head, written = pcap_records(out)
            _, original = pcap_records(sample())
            self.assertEqual(head[20:24], open(sample(), "rb").read()[20:24], "link type")
            originals = set(original)
            for rec in written:
                self.assertIn(rec, originals)

    def test_mixed_link_types_need_pcapng(self):
        with tempfile.TemporaryDirectory() as d:
            sll = generate(d, "s.pcap", "--link", "sll2", "--count", "1")
            r = run("screen", "--config", config(), "--write", os.path.join(d, "o.pcap"),
                    sample(), sll)
            self.assertEqual(r.returncode, 2)
            self.assertIn("pcapng", r.stderr.decode())
            out = os.path.join(d, "o.pcapng")
            r = run("screen", "--config", config(), "--write", out, sample(), sll)
            self.assertEqual(r.returncode, 0, r.stderr)
            encaps = {row[0] for row in tshark_fields(out, "frame.encap_type")}
            self.assertEqual(len(encaps), 2)

    def test_unwritable_file_is_refused_before_anything_is_written(self):
        r = run("screen", "--config", config(), "--write", "/no/such/dir/x.pcapng", sample())
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        self.assertIn("/no/such/dir/x.pcapng", r.stderr.decode())


class Summary(unittest.TestCase):
    def summary(self, *args):
        r = run("screen", "--config", config(), "--format", "jsonl", "--summary", "json", *args,
                sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stderr.decode().splitlines()
        self.assertEqual(len(lines), 1, lines)
        return jsonl(r.stdout), json.loads(lines[0])

    def test_counts_agree_with_the_records(self):
        records, s = self.summary()
        self.assertEqual(s["messages"], len(records))
        verdicts = {}
        for r in records:
            key = r["verdict"] or "not_screened"
            verdicts[key] = verdicts.get(key, 0) + 1
        self.assertEqual(s["verdicts"], verdicts)
        self.assertEqual(sum(s["deciders"].values()),
                         sum(n for k, n in verdicts.items() if k != "not_screened"))
        self.assertEqual(sum(s["undecodable"].values()), sum(1 for r in records if "error" in r))
        for op in s["operations"]:
            expected = {}
            for r in records:
                if op["code"] in r["operations"] and not op["global"]:
                    key = r["verdict"] or "not_screened"
                    expected[key] = expected.get(key, 0) + 1
            self.assertEqual(op["verdicts"], expected, op)
        self.assertIn("sctpFragment", json.dumps(s["skipped_frames"]))

    def test_directions_and_operation_names(self):
        records, s = self.summary(*HOME)
        outbound = sum(1 for r in records if r["direction"] == "outbound")
        self.assertEqual(outbound, 4)
        self.assertEqual(s["directions"], {"inbound": len(records) - 4, "outbound": 4})
        self.assertEqual(sum(s["verdicts"].values()), len(records) - 4)
        names = {op["code"]: op.get("name") for op in s["operations"] if not op["global"]}
        self.assertEqual(names[45], "sendRoutingInfoForSM")
        self.assertEqual(names[71], "anyTimeInterrogation")
        for op in s["operations"]:
            if op["global"]:
                self.assertNotIn("name", op)

    def test_segments_carry_the_whole_message(self):
        with tempfile.TemporaryDirectory() as d:
            r = run("screen", "--config", config(), "--format", "jsonl", "--summary", "json",
                    segmented_capture(d))
        self.assertEqual(r.returncode, 0, r.stderr)
        s = json.loads(r.stderr)
        self.assertEqual(s["segmented_messages"],
                         {"reassembled": 1, "given_up": {"never completed": 1}})
        self.assertEqual(s["verdicts"].get("explicitlyDenied"), 2)
        self.assertEqual(s["directions"], {"inbound": 3, "outbound": 0})

    def test_prefix_digits(self):
        records, s = self.summary("--prefix-digits", "3")
        self.assertEqual(s["prefix_digits"], 3)
        counted = {p["prefix"]: p["total"] for p in s["calling_prefixes"]}
        expected = {}
        for r in records:
            if r["calling_digits"] is not None:
                p = r["calling_digits"][:3]
                expected[p] = expected.get(p, 0) + 1
        self.assertEqual(counted, expected)

    def test_summary_file_and_text_top_lists(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "s.json")
            r = run("screen", "--config", config(), "--summary", "json", "--summary-file", path,
                    sample())
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr, b"")
            with open(path) as f:
                self.assertEqual(json.load(f)["messages"], 160)
        err = run("screen", "--config", config(), sample()).stderr.decode()
        self.assertRegex(err, r"top denied operations: 45 sendRoutingInfoForSM \(\d+\), "
                         r"71 anyTimeInterrogation \(\d+\)")
        self.assertIn("top denied calling prefixes (5 digits): ", err)


class Diff(unittest.TestCase):
    def test_only_changed_verdicts_agree_with_two_runs(self):
        with tempfile.TemporaryDirectory() as d:
            new = changed_config(d)
            r = run("diff", "--config", config(), "--config", new, "--format", "jsonl", sample())
            self.assertEqual(r.returncode, 1, r.stderr)
            changed = jsonl(r.stdout)
            before = jsonl(run("screen", "--config", config(), "--format", "jsonl",
                               sample()).stdout)
            after = jsonl(run("screen", "--config", new, "--format", "jsonl", sample()).stdout)
        expected = [(a["frame"], a["index"], a["verdict"], b["verdict"])
                    for a, b in zip(before, after) if a["verdict"] != b["verdict"]]
        self.assertTrue(expected)
        self.assertEqual([(c["frame"], c["index"], c["old"]["verdict"], c["new"]["verdict"])
                          for c in changed], expected)
        self.assertIn("explicitlyDenied    -> explicitlyPermitted", r.stderr.decode())
        self.assertIn("top changed operations", r.stderr.decode())

    def test_home_network_compares_only_inbound_messages(self):
        with tempfile.TemporaryDirectory() as d:
            new = changed_config(d)
            r = run("diff", "--config", config(), "--config", new, "--format", "jsonl",
                    "--summary", "json", *HOME, sample())
            changed = jsonl(r.stdout)
            before = jsonl(run("screen", "--config", config(), "--format", "jsonl", *HOME,
                               sample()).stdout)
            after = jsonl(run("screen", "--config", new, "--format", "jsonl", *HOME,
                              sample()).stdout)
            # Nothing is inbound: nothing compared, nothing changed.
            none = run("diff", "--config", config(), "--config", new, "--home-pc", "1",
                       sample())
            bad = run("diff", "--config", config(), "--config", new, "--home-pc", "x", sample())
        inbound = [(a, b) for a, b in zip(before, after) if a["direction"] == "inbound"]
        self.assertEqual(len(inbound), len(before) - 4)
        expected = [(a["frame"], a["index"], a["verdict"], b["verdict"])
                    for a, b in inbound if a["verdict"] != b["verdict"]]
        self.assertEqual(r.returncode, 1 if expected else 0, r.stderr)
        self.assertEqual([(c["frame"], c["index"], c["old"]["verdict"], c["new"]["verdict"])
                          for c in changed], expected)
        self.assertEqual({c["direction"] for c in changed}, {"inbound"} if expected else set())
        self.assertEqual(json.loads(r.stderr)["compared"], len(inbound))
        self.assertEqual(none.returncode, 0, none.stderr)
        self.assertIn("0 screened by both, 0 changed", none.stderr.decode())
        self.assertEqual(bad.returncode, 2)
        self.assertIn("--home-pc", bad.stderr.decode())

    def test_every_segment_of_a_changed_message(self):
        with tempfile.TemporaryDirectory() as d:
            path = segmented_capture(d)
            with open(config()) as f:
                text = f.read()
            # The new rules no longer deny anyTimeInterrogation.
            permissive = os.path.join(d, "p.toml")
            with open(permissive, "w") as f:
                assert "  71,  # anyTimeInterrogation\n" in text
                f.write(text.replace("  71,  # anyTimeInterrogation\n", ""))
            r = run("diff", "--config", config(), "--config", permissive, "--format", "jsonl",
                    path)
        changed = jsonl(r.stdout)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual([(c["frame"], c["segment"], c["old"]["verdict"]) for c in changed],
                         [(1, [1, 2], "explicitlyDenied"), (3, [2, 2], "explicitlyDenied")])
        self.assertEqual(changed[0]["new"], changed[1]["new"])

    def test_same_rules_exit_zero_and_errors_two(self):
        r = run("diff", "--config", config(), "--config", config(), sample())
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(r.stdout.decode().splitlines()), 1, "header only")
        r = run("diff", "--config", config(), "--config", "/no/such.toml", sample())
        self.assertEqual(r.returncode, 2)
        r = run("diff", "--config", config(), sample())
        self.assertEqual(r.returncode, 2)


class Streams(unittest.TestCase):
    def start(self, *extra):
        head, records = pcap_records(sample())
        p = subprocess.Popen([tool(), "screen", "--config", config(), "--format",
                              "jsonl", *extra, "-"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        p.stdin.write(head + b"".join(h + b for h, b in records[:2]))
        p.stdin.flush()
        return p

    def test_piped_record_arrives_at_once_and_signals_finish_the_run(self):
        # One thread, and the pipeline, whose reader hands on each frame's batch.
        written = set()
        for threads in ("1", "4"):
            for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
                p = self.start("--threads", threads)
                ready, _, _ = select.select([p.stdout], [], [], 5)
                self.assertTrue(ready, "no record within 5 s of its frame")
                first = p.stdout.readline()
                self.assertEqual(json.loads(first)["frame"], 1)
                p.send_signal(sig)
                out, err = p.communicate(timeout=10)
                self.assertEqual(p.returncode, status, err)
                self.assertIn("explicitlyDenied", err.decode(), "summary written")
                written.add(first + out)
        # The signal may come before the second frame is read: then its
        # records are missing, but what each run wrote is the same up to there.
        longest = max(written, key=len)
        for w in written:
            self.assertTrue(longest.startswith(w), "a run wrote other records")

    def test_running_summary_counts_what_was_read(self):
        for threads in ("1", "4"):
            p = self.start("--threads", threads)
            ready, _, _ = select.select([p.stdout], [], [], 5)
            self.assertTrue(ready, "no record within 5 s of its frame")
            p.stdout.readline()
            p.send_signal(signal.SIGUSR1)
            time.sleep(0.5)
            out, err = p.communicate(timeout=10)  # closes the input: the run ends
            frames = [int(l.split()[1]) for l in err.decode().splitlines()
                      if l.startswith("qel-screen: ") and " frames, " in l]
            # The report (after the first frame or both), then the summary.
            self.assertEqual(len(frames), 2, err)
            self.assertIn(frames[0], (1, 2), err)
            self.assertEqual(frames[1], 2, err)

    def test_reload_and_report_while_the_pipe_waits_do_not_end_the_capture(self):
        head, records = pcap_records(sample())
        for threads in ("1", "4"):
            p = self.start("--threads", threads)
            ready, _, _ = select.select([p.stdout], [], [], 5)
            self.assertTrue(ready, "no record within 5 s of its frame")
            time.sleep(0.3)  # the reader now waits for the third frame
            p.send_signal(signal.SIGHUP)
            p.send_signal(signal.SIGUSR1)
            time.sleep(0.3)
            p.stdin.write(b"".join(h + b for h, b in records[2:]))
            out, err = p.communicate(timeout=10)
            self.assertEqual(p.returncode, 0, err)
            self.assertNotIn(b"damaged", err)
            self.assertNotIn(b"Interrupted", err)
            frames = {json.loads(l)["frame"] for l in out.splitlines()}
            self.assertEqual(max(frames), len(records))

    def test_closed_pipe_is_quiet(self):
        with tempfile.TemporaryDirectory() as d:
            big = generate(d, "big.pcap", "--count", "20000")
            p = subprocess.Popen([tool(), "screen", "--config", config(), big],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            p.stdout.readline()
            p.stdout.close()
            err = p.stderr.read()
            p.wait(timeout=30)
            self.assertEqual(p.returncode, -signal.SIGPIPE)
            self.assertEqual(err, b"")


class Inputs(unittest.TestCase):
    def test_text_is_not_a_capture_unless_hex_is_asked(self):
        r = run("screen", "--config", config(), config())
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr.decode(),
                         f"qel-screen: {config()}: not a capture (pcap or pcapng)\n")
        with tempfile.TemporaryDirectory() as d:
            hexfile = generate(d, "m.hex", "--link", "hex", "--count", "1")
            txt = os.path.join(d, "m.txt")
            shutil.copy(hexfile, txt)
            self.assertEqual(run("decode", txt).returncode, 2)
            r = run("decode", "--hex", txt)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, run("decode", hexfile).stdout)

    def test_colour_choice(self):
        def coloured(*args, env=None):
            r = subprocess.run([tool(), "screen", "--config", config(), *args,
                                sample()], capture_output=True, env=env)
            return b"\x1b[" in r.stdout
        self.assertTrue(coloured("--color", "always"))
        self.assertFalse(coloured("--color", "never"))
        self.assertFalse(coloured())  # not a terminal
        r = run("screen", "--config", config(), "--color", "sometimes", sample())
        self.assertEqual(r.returncode, 2)


def ns_run(ns, *args, **kw):
    return subprocess.run(["ip", "netns", "exec", ns, *args], **kw)


class Live(unittest.TestCase):
    """Frames of the sample sent into one end of a veth pair with a packet
    socket, captured on the other by `screen -i`; all inside a namespace."""

    def setUp(self):
        if os.geteuid() != 0 or not shutil.which("ip"):
            self.skipTest("needs root and iproute2 to create a network namespace")
        self.ns = f"qel-live-{os.getpid()}"
        r = subprocess.run(["ip", "netns", "add", self.ns], capture_output=True)
        if r.returncode != 0:
            self.skipTest(f"the kernel refused a network namespace: {r.stderr.decode().strip()}")
        self.addCleanup(subprocess.run, ["ip", "netns", "del", self.ns], capture_output=True)
        for cmd in (["link", "add", "qsend", "type", "veth", "peer", "name", "qcap"],
                    ["link", "set", "qsend", "mtu", "9000", "up"],
                    ["link", "set", "qcap", "mtu", "9000", "up"]):
            r = subprocess.run(["ip", "-n", self.ns, *cmd], capture_output=True)
            if r.returncode != 0:
                self.skipTest(f"the kernel refused the veth pair: {r.stderr.decode().strip()}")

    def send(self, frames):
        script = ("import socket,sys,time\n"
                  "s=socket.socket(socket.AF_PACKET,socket.SOCK_RAW);s.bind(('qsend',0))\n"
                  "data=sys.stdin.buffer.read();at=0\n"
                  "while at<len(data):\n"
                  " n=int.from_bytes(data[at:at+4],'big');s.send(data[at+4:at+4+n]);at+=4+n\n"
                  " time.sleep(0.001)\n")
        payload = b"".join(len(f).to_bytes(4, "big") + f for f in frames)
        ns_run(self.ns, sys.executable, "-c", script, input=payload, check=True)

    def wait_for(self, path, predicate, what, timeout=10):
        deadline = time.time() + timeout
        while time.time() < deadline:
            with open(path, "rb") as f:
                if predicate(f.read()):
                    return
            time.sleep(0.05)
        self.fail(f"timed out waiting for {what}")

    def test_live_records_match_the_file_and_follow_a_reload(self):
        _, records = pcap_records(sample())
        frames = [b for _, b in records]
        half = len(frames) // 2
        with tempfile.TemporaryDirectory() as d:
            rules = os.path.join(d, "rules.toml")
            shutil.copy(config(), rules)
            new = changed_config(d)
            out, err = os.path.join(d, "out"), os.path.join(d, "err")
            written = os.path.join(d, "live.pcapng")
            with open(out, "wb") as o, open(err, "wb") as e:
                p = subprocess.Popen(["ip", "netns", "exec", self.ns, tool(), "screen",
                                      "--config", rules, "--format", "jsonl", "-i", "qcap",
                                      "--write", written, "--threads", "3"],
                                     stdout=o, stderr=e)
            try:
                time.sleep(1)  # capture open
                self.send(frames[:half])
                first = jsonl(run("screen", "--config", rules, "--format", "jsonl",
                                  sample()).stdout)
                expected_first = [r for r in first if r["frame"] <= half]
                self.wait_for(out, lambda b: b.count(b"\n") >= len(expected_first),
                              "the first half's records")
                shutil.copy(new, rules)
                p.send_signal(signal.SIGHUP)
                self.wait_for(err, lambda b: b"configuration reloaded" in b, "the reload")
                self.send(frames[half:])
                second = jsonl(run("screen", "--config", new, "--format", "jsonl",
                                   sample()).stdout)
                expected = expected_first + [r for r in second if r["frame"] > half]
                self.wait_for(out, lambda b: b.count(b"\n") >= len(expected), "every record")
            finally:
                p.send_signal(signal.SIGINT)
                p.wait(timeout=10)
            self.assertEqual(p.returncode, 130)
            with open(out, "rb") as f:
                got = jsonl(f.read())
            # Live frames carry the time they were sent again, not the file's.
            strip = lambda r: {k: v for k, v in r.items() if k not in ("frame", "time")}
            self.assertEqual([strip(r) for r in got], [strip(r) for r in expected])
            # The reload changed verdicts of the second half.
            self.assertNotEqual([strip(r) for r in first if r["frame"] > half],
                                [strip(r) for r in expected[len(expected_first):]])
            if TSHARK:
                self.assertEqual(len(tshark_fields(written, "frame.number")),
                                 len({r["frame"] for r in got}) + 4)


GROUPS = {"write": Write, "summary": Summary, "diff": Diff, "streams": Streams,
          "inputs": Inputs, "live": Live}


if __name__ == "__main__":
    main(GROUPS)
