#!/usr/bin/env python3
"""qel-screen on a capture of public MAP, CAP and INAP payloads that no one
here wrote (tests/cli/data/public-samples.pcap: Wireshark's sample captures
and public dialogues, each TCAP message unchanged), checked against tshark:
where each message came from, which messages come in to a home network,
the frames --write picks out, the summary's counts and what `diff` finds.

  public_capture_test.py --tool T --sample-gen G --source S --build B GROUP
"""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from cli_support import VERDICTS, data, jsonl, main, run

TSHARK = shutil.which("tshark")

CAPTURE = "public-samples.pcap"
RULES = "public-home.toml"
# The home network of the rules: dialogues of Malta 35699 and Switzerland 4179.
HOME_GT = ["35699", "4179"]


def tshark(path, *fields):
    args = [TSHARK, "-n", "-r", path, "-T", "fields", "-E", "separator=\t"]
    for f in fields:
        args += ["-e", f]
    r = subprocess.run(args, capture_output=True, check=True)
    return [line.split("\t") for line in r.stdout.decode().splitlines()]


def screen(*args):
    r = run("screen", "--format", "jsonl", "--config", data(RULES), "--home-gt",
            ",".join(HOME_GT), *args, data(CAPTURE))
    return r, jsonl(r.stdout)


@unittest.skipUnless(TSHARK, "tshark not installed")
class PublicCapture(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_origin_keys_are_what_tshark_reads(self):
        r, records = screen()
        self.assertEqual(r.returncode, 0, r.stderr)
        fields = tshark(data(CAPTURE), "frame.number", "frame.time_epoch",
                        "m3ua.protocol_data_opc", "m3ua.protocol_data_dpc",
                        "m3ua.protocol_data_si", "ip.src", "ip.dst", "sctp.srcport",
                        "sctp.dstport", "sctp.data_sid")
        self.assertEqual(len(records), len(fields))
        for rec, f in zip(records, fields):
            with self.subTest(frame=rec["frame"]):
                self.assertEqual(rec["frame"], int(f[0]))
                # The file holds microseconds: six decimals, as tshark's nine end in zeros.
                self.assertEqual(f"{rec['time']:.6f}", f[1][:-3])
                self.assertEqual([rec["opc"], rec["dpc"], rec["si"]], [int(x) for x in f[2:5]])
                self.assertEqual([rec["src"], rec["dst"]], f[5:7])
                self.assertEqual([rec["sport"], rec["dport"], rec["stream"]],
                                 [int(f[7]), int(f[8]), int(f[9], 16)])

    def test_inbound_is_what_is_called_in_the_home_network(self):
        r, records = screen("--summary", "json")
        self.assertEqual(r.returncode, 0, r.stderr)
        called = {int(f[0]): f[1] for f in tshark(data(CAPTURE), "frame.number",
                                                  "sccp.called.digits")}
        inbound = [rec for rec in records if rec["direction"] == "inbound"]
        self.assertEqual({rec["frame"] for rec in inbound},
                         {n for n, d in called.items() if d.startswith(tuple(HOME_GT))})
        # Both directions of each dialogue are in the capture.
        self.assertTrue(0 < len(inbound) < len(records))
        for rec in records:
            if rec["direction"] == "outbound":
                self.assertIsNone(rec["verdict"])
                self.assertIsNone(rec["code"])
            else:
                self.assertIn(rec["verdict"], VERDICTS)
        summary = json.loads(r.stderr.decode().splitlines()[-1])
        self.assertEqual(summary["directions"],
                         {"inbound": len(inbound), "outbound": len(records) - len(inbound)})
        # A partner's HLR that the rules keep out, by its calling prefix.
        denied = [rec for rec in inbound if rec["verdict"] == "explicitlyDenied"]
        self.assertTrue(denied)
        self.assertTrue(all(rec["calling_digits"].startswith("919028") for rec in denied))
        self.assertEqual(sum(summary["verdicts"].values()), len(inbound))

    def test_write_picks_out_exactly_the_selected_frames(self):
        out = os.path.join(self.tmp, "denied.pcapng")
        r, records = screen("--only", "explicitlyDenied", "--write", out)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(records)
        written = tshark(out, "frame.time_epoch", "sccp.calling.digits", "frame.comment")
        self.assertEqual(len(written), len(records))
        for rec, w in zip(records, written):
            self.assertEqual(f"{rec['time']:.6f}", w[0][:-3])
            self.assertEqual(rec["calling_digits"], w[1])
            self.assertIn("explicitlyDenied", w[2])

    def test_diff_finds_the_messages_a_rule_change_lets_in(self):
        with open(data(RULES)) as f:
            text = f.read()
        old = 'deny-calling-sccp-prefix-e164 = ["919028"]'
        self.assertIn(old, text)
        changed = os.path.join(self.tmp, "changed.toml")
        with open(changed, "w") as f:
            f.write(text.replace(old, "deny-calling-sccp-prefix-e164 = []"))
        _, before = screen()
        r = run("diff", "--format", "jsonl", "--config", data(RULES), "--config", changed,
                "--home-gt", ",".join(HOME_GT), data(CAPTURE))
        self.assertEqual(r.returncode, 1, r.stderr)
        diffs = jsonl(r.stdout)
        self.assertEqual([d["frame"] for d in diffs],
                         [rec["frame"] for rec in before if rec["verdict"] == "explicitlyDenied"])
        for d in diffs:
            self.assertEqual(d["old"]["verdict"], "explicitlyDenied")
            self.assertEqual(d["new"]["verdict"], "explicitlyPermitted")
        same = run("diff", "--config", data(RULES), "--config", data(RULES),
                   "--home-gt", ",".join(HOME_GT), data(CAPTURE))
        self.assertEqual(same.returncode, 0, same.stderr)


GROUPS = {"public_capture": PublicCapture}

if __name__ == "__main__":
    main(GROUPS)
