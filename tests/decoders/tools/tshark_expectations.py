#!/usr/bin/env python3
"""Derives expected decodings from tshark, once, into the test data files.

    tshark_expectations.py samples data/public-tcap-samples.json data/public-tcap-expected.tsv
    tshark_expectations.py vectors data/wire-vectors.tsv
    tshark_expectations.py pcap public-samples.pcap data/public-sccp-expected.tsv

The tests compare the host decoders with these files and need no tshark. Every
message is decoded twice by tshark: with the MAP, CAP and INAP dissectors
disabled, so that its generic TCAP dissection lists the components, and with
them, for MAP error codes and SM-RP-DA (gsm_old.*, e212.imsi).

Columns: name, hex, called, calling, tcap, malformed, components, fsm
  hex         the SCCP message (vectors) or the TCAP payload (samples)
  called      'ri=0 gti=4 pc=- ssn=6 tt=0 np=1 es=1 nai=4 digits=...', '-' without
  tcap        message type, 'none' without an ITU TCAP message
  malformed   1 when tshark flags the packet malformed
  components  ';'-separated kind:invokeId:code, code L<n> local operation,
              G<last arc> global operation, E<n> error code, '-' none
  fsm         ';'-separated SM-RP-DA choices of MAP forwardSM arguments,
              imsi:<digits> for an IMSI
"""
import json, os, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

# ---------------------------------------------------------------- BER building


def length(n, form):
    if form == "short":
        assert n < 0x80
        return bytes([n])
    if form == "long1":
        return bytes([0x81, n])
    if form == "long2":  # non-minimal: 0x82 0x00 n
        return bytes([0x82, n >> 8, n & 0xFF])
    if form == "long4":
        return bytes([0x84]) + n.to_bytes(4, "big")
    raise ValueError(form)


def tlv(tag, *parts, form="short"):
    body = b"".join(parts)
    if form == "indef":
        return bytes([tag]) + b"\x80" + body + b"\x00\x00"
    if form == "short" and len(body) >= 0x80:
        form = "long1" if len(body) < 0x100 else "long2"
    return bytes([tag]) + length(len(body), form) + body


def integer(v, tag=0x02):
    n = 1
    while not (-(1 << (8 * n - 1)) <= v < (1 << (8 * n - 1))):
        n += 1
    return tlv(tag, v.to_bytes(n, "big", signed=True))


def oid(arcs):
    out = [40 * arcs[0] + arcs[1]]
    body = b""
    for a in out + arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.insert(0, 0x80 | (a & 0x7F))
            a >>= 7
        body += bytes(chunk)
    return tlv(0x06, body)


def tbcd(digits):
    if len(digits) % 2:
        digits += "f"
    return bytes(int(digits[i + 1], 16) << 4 | int(digits[i], 16) for i in range(0, len(digits), 2))


# ---------------------------------------------------------------- SCCP building


def gt_digits(digits):
    return tbcd(digits + "0") if len(digits) % 2 else tbcd(digits)  # Q.713: filler 0


def address(ai, pc=None, ssn=None, gt=b""):
    body = bytes([ai])
    if pc is not None:
        body += bytes([pc & 0xFF, pc >> 8])
    if ssn is not None:
        body += bytes([ssn])
    return bytes([len(body) + len(gt)]) + body + gt


def gt4(digits, tt=0, np=1, nai=4, es=None):
    es = es if es is not None else (1 if len(digits) % 2 else 2)
    return bytes([tt, np << 4 | es, nai]) + gt_digits(digits)


def udt(called, calling, data, mtype=0x09, cls=0x80):
    p1 = 3
    p2 = p1 - 1 + len(called)
    p3 = p2 - 1 + len(calling)
    return bytes([mtype, cls, p1, p2, p3]) + called + calling + bytes([len(data)]) + data


def xudt(called, calling, data, optional=b"", mtype=0x11, cls=0x80, hop=15):
    p1 = 4
    p2 = p1 - 1 + len(called)
    p3 = p2 - 1 + len(calling)
    p4 = (p3 - 1 + 1 + len(data)) if optional else 0
    return bytes([mtype, cls, hop, p1, p2, p3, p4]) + called + calling + bytes([len(data)]) + data + optional


def ludt(called, calling, data, optional=b"", mtype=0x13, cls=0x80, hop=15):
    # Two-octet pointers, little-endian, counted from their second octet.
    p1 = 8 - 1
    p2 = p1 - 2 + len(called)
    p3 = p2 - 2 + len(calling)
    p4 = (p3 - 2 + 2 + len(data)) if optional else 0
    ptr = lambda v: bytes([v & 0xFF, v >> 8])
    n = len(data)
    return (bytes([mtype, cls, hop]) + ptr(p1) + ptr(p2) + ptr(p3) + ptr(p4) + called + calling +
            bytes([n & 0xFF, n >> 8]) + data + optional)


# ---------------------------------------------------------------- TCAP building

AC_SMS_V3 = oid([0, 4, 0, 0, 1, 0, 21, 3])  # shortMsgMO-RelayContext-v3
DIALOGUE = tlv(0x6B, tlv(0x28, oid([0, 0, 17, 773, 1, 1, 1]),
                         tlv(0xA0, tlv(0x60, tlv(0x80, b"\x07\x80"), tlv(0xA1, AC_SMS_V3)))))


def fsm_arg(da, form="short"):
    oa = tlv(0x84, bytes.fromhex("914477790000"))
    ui = tlv(0x04, bytes.fromhex("0100039121f300000341e110"))
    return tlv(0x30, da, oa, ui, form=form)


def invoke(iid, op, param=b"", linked=None, form="short", glob=False):
    parts = integer(iid)
    if linked is not None:
        parts += integer(linked, tag=0x80)
    parts += oid(op) if glob else integer(op)
    return tlv(0xA1, parts, param, form=form)


def begin(*components, otid=b"\x00\x00\x00\x01", dialogue=DIALOGUE, form="short", cform=None):
    cp = tlv(0x6C, *components, form=cform or form) if components is not None else b""
    return tlv(0x62, tlv(0x48, otid), dialogue, cp, form=form)


def ati_arg(depth):
    nested = tlv(0x05, b"")
    for _ in range(depth - 2):
        nested = tlv(0x30, nested, form="indef")
    extension = tlv(0xA2, tlv(0xA1, nested, form="indef"), form="indef")
    return tlv(0x30, tlv(0xA0, tlv(0x80, tbcd("228012120109856"))), tlv(0xA1, tlv(0x80, b"")),
               tlv(0x83, bytes.fromhex("914477790000")), extension, form="indef")


IMSI = "228012120109856"
CALLED = address(0x12, ssn=8, gt=gt4("447700900123"))
CALLING = address(0x12, ssn=8, gt=gt4("4477009001234"))
FSM_BEGIN = begin(invoke(1, 46, fsm_arg(tlv(0x80, tbcd(IMSI)))))


def vectors():
    v = []
    add = lambda name, msg: v.append((name, msg.hex()))

    # Message types, each with a Begin carrying one mo-ForwardSM invoke.
    add("udt_gti4_begin_mo_forwardsm", udt(CALLED, CALLING, FSM_BEGIN))
    add("udts_return_cause", udt(CALLED, CALLING, FSM_BEGIN, mtype=0x0A, cls=0x01))
    add("xudt_no_optional_part", xudt(CALLED, CALLING, FSM_BEGIN))
    add("xudt_importance", xudt(CALLED, CALLING, FSM_BEGIN, optional=bytes([0x12, 1, 3, 0])))
    add("xudt_first_segment", xudt(CALLED, CALLING, FSM_BEGIN, optional=bytes([0x10, 4, 0x80, 1, 2, 3, 0])))
    add("xudts_return_cause", xudt(CALLED, CALLING, FSM_BEGIN, mtype=0x12, cls=0x01, hop=9))
    add("ludt", ludt(CALLED, CALLING, FSM_BEGIN))
    add("ludt_importance", ludt(CALLED, CALLING, FSM_BEGIN, optional=bytes([0x12, 1, 3, 0])))
    add("ludts_return_cause", ludt(CALLED, CALLING, FSM_BEGIN, mtype=0x14, cls=0x01, hop=3))
    big = begin(*[invoke(i, 22, tlv(0x30, tlv(0x80, tbcd("4477009001" + "%02d" % i)))) for i in range(1, 31)])
    add("ludt_long_data_over_255", ludt(CALLED, CALLING, big))

    # Address forms.
    ssn_pc = address(0x43, pc=0x1234 & 0x3FFF, ssn=6)
    add("ri_ssn_pc_no_gt", udt(ssn_pc, address(0x43, pc=0x0001, ssn=8), FSM_BEGIN))
    add("pc_upper_bits_ignored", udt(bytes([4, 0x43, 0xFF, 0xFF, 6]), ssn_pc, FSM_BEGIN))
    add("gti1_odd", udt(address(0x06, ssn=6, gt=bytes([0x84]) + gt_digits("12345")), CALLING, FSM_BEGIN))
    add("gti1_even", udt(address(0x04, gt=bytes([0x04]) + gt_digits("123456")), CALLING, FSM_BEGIN))
    add("gti2_tt", udt(address(0x0A, ssn=7, gt=bytes([17]) + gt_digits("1234")), CALLING, FSM_BEGIN))
    add("gti3_es1_odd", udt(address(0x0E, ssn=6, gt=bytes([0, 0x11]) + gt_digits("447")), CALLING, FSM_BEGIN))
    add("gti3_es2_even", udt(address(0x0E, ssn=6, gt=bytes([0, 0x12]) + gt_digits("4477")), CALLING, FSM_BEGIN))
    add("gti4_e212", udt(address(0x12, ssn=6, gt=gt4(IMSI, np=6)), CALLING, FSM_BEGIN))
    add("gti4_e214_even", udt(address(0x12, ssn=6, gt=gt4("44770090012345", np=7)), CALLING, FSM_BEGIN))
    add("gti4_national_nai3", udt(address(0x12, ssn=6, gt=gt4("7700900", nai=3)), CALLING, FSM_BEGIN))
    add("gti4_tt_9_pc_ssn", udt(address(0x13, pc=100, ssn=6, gt=gt4("4477", tt=9)), CALLING, FSM_BEGIN))
    add("national_use_bit", udt(address(0x92, ssn=6, gt=gt4("4477")), CALLING, FSM_BEGIN))
    add("gt_no_digits", udt(address(0x04, gt=bytes([0x04])), CALLING, FSM_BEGIN))
    # Digit values 10-15: tshark's rendering is lossy, so the script checks it
    # against the expected a-f digits (HEX_DIGITS) instead of copying it.
    add("gt_digit_values_10_to_15", udt(address(0x12, ssn=6, gt=gt4("12abcdef9")), CALLING, FSM_BEGIN))
    add("gti5_spare", udt(address(0x14, gt=bytes([0x21, 0x43])), CALLING, FSM_BEGIN))

    # TCAP message types and component forms (in UDT).
    u = lambda t: udt(CALLED, CALLING, t)
    add("tcap_begin_no_components", u(tlv(0x62, tlv(0x48, b"\x01\x02\x03\x04"), DIALOGUE)))
    add("tcap_begin_global_opcode", u(begin(invoke(1, [0, 4, 0, 0, 1, 0, 21, 3, 46], glob=True))))
    add("tcap_begin_global_opcode_large_arc", u(begin(invoke(1, [1, 2, 840, 113549, 1, 1, 300000], glob=True))))
    add("tcap_begin_linked_id", u(begin(invoke(5, 44, fsm_arg(tlv(0x80, tbcd("22801212010985"))), linked=4))))
    add("tcap_begin_invoke_id_negative", u(begin(invoke(-128, 46, fsm_arg(tlv(0x80, tbcd(IMSI)))))))
    add("tcap_begin_two_invokes", u(begin(invoke(1, 45), invoke(2, 46, fsm_arg(tlv(0x84, bytes.fromhex("9144")))))))
    add("tcap_begin_indefinite_everywhere",
        u(begin(invoke(1, 46, fsm_arg(tlv(0x80, tbcd(IMSI)), form="indef"), form="indef"), form="indef")))
    add("tcap_begin_indefinite_component_portion", u(begin(invoke(1, 46, fsm_arg(tlv(0x80, tbcd(IMSI)))), cform="indef")))
    add("tcap_begin_long_form_lengths",
        u(begin(invoke(1, 46, fsm_arg(tlv(0x80, tbcd(IMSI), form="long2"), form="long1"), form="long2"),
                form="long1", cform="long2")))
    add("tcap_begin_lmsi", u(begin(invoke(1, 46, fsm_arg(tlv(0x81, b"\x01\x02\x03\x04"))))))
    add("tcap_begin_no_sm_rp_da", u(begin(invoke(1, 44, fsm_arg(tlv(0x85, b""))))))
    add("tcap_begin_imsi_even", u(begin(invoke(1, 46, fsm_arg(tlv(0x80, tbcd("2280121201098567")))))))
    cont = lambda *c: tlv(0x65, tlv(0x48, b"\x0a\x0b"), tlv(0x49, b"\x00\x00\x00\x01"), tlv(0x6C, *c))
    rr = lambda tag, iid, op, p: tlv(tag, integer(iid), tlv(0x30, integer(op), p))
    add("tcap_continue_results", u(cont(rr(0xA7, 1, 56, tlv(0x30, tlv(0x04, b"\x01"))),
                                        rr(0xA2, 1, 56, tlv(0x30, tlv(0x04, b"\x02"))))))
    add("tcap_continue_result_without_sequence", u(cont(tlv(0xA2, integer(2)))))
    add("tcap_end_return_error", u(tlv(0x64, tlv(0x49, b"\x00\x00\x00\x01"),
                                       tlv(0x6C, tlv(0xA3, integer(1), integer(34), tlv(0x30, tlv(0x0A, b"\x01")))))))
    add("tcap_end_reject", u(tlv(0x64, tlv(0x49, b"\x00\x00\x00\x01"),
                                 tlv(0x6C, tlv(0xA4, integer(1), tlv(0x81, b"\x01")),
                                     tlv(0xA4, tlv(0x05, b""), tlv(0x80, b"\x00"))))))
    add("tcap_abort_p_abort", u(tlv(0x67, tlv(0x49, b"\x00\x00\x00\x01"), tlv(0x4A, b"\x01"))))
    add("tcap_unidirectional", u(tlv(0x61, DIALOGUE, tlv(0x6C, invoke(1, 46, fsm_arg(tlv(0x80, tbcd(IMSI))))))))
    # An anyTimeInterrogation whose extension container nests `depth` indefinite
    # levels: valid BER, so its operation code must be read whatever the depth.
    for depth in (29, 40):
        add("tcap_begin_ati_extension_nested_%d" % depth,
            u(begin(invoke(1, 71, ati_arg(depth), form="indef"), form="indef")))
    add("ansi_tcap_not_itu", u(bytes.fromhex("e20ec7040000000be806e904cf0100d0")))
    return v


# ---------------------------------------------------------------- tshark

KIND = {"invoke_element": "invoke", "returnResultLast_element": "returnResultLast",
        "returnResultNotLast_element": "returnResultNotLast", "returnError_element": "returnError",
        "reject_element": "reject"}
MSG = {"tcap.begin_element": "begin", "tcap.end_element": "end", "tcap.continue_element": "continue",
       "tcap.abort_element": "abort", "tcap.unidirectional_element": "unidirectional"}
# tshark writes GT digit values 10-15 as below; the host writes 'a'-'f'.
TSHARK_DIGIT = {"a": "(spare)", "b": "11", "c": "12", "d": "(spare)", "e": "(spare)", "f": "ST"}
HEX_DIGITS = {"gt_digit_values_10_to_15": "12abcdef9"}


def with_hex_digits(name, dumped):
    expected = HEX_DIGITS.get(name)
    if not expected or dumped == "-":
        return dumped
    head, digits = dumped.split(" digits=")
    assert digits == "".join(TSHARK_DIGIT.get(d, d) for d in expected), (name, digits)
    return head + " digits=" + expected


def tshark(messages, *extra):
    with tempfile.TemporaryDirectory() as d:
        txt, pcap = os.path.join(d, "f.txt"), os.path.join(d, "f.pcap")
        with open(txt, "w") as f:
            for b in messages:
                for off in range(0, len(b), 16):
                    f.write("%06x %s\n" % (off, " ".join("%02x" % x for x in b[off:off + 16])))
                f.write("\n")
        subprocess.run(["text2pcap", "-q", "-l", "142", txt, pcap], check=True)
        out = subprocess.run(["tshark", "-r", pcap, "-T", "pdml", *extra], check=True,
                             capture_output=True).stdout
    return list(ET.fromstring(out).iter("packet"))


def last_arc(dotted):
    return dotted.split(".")[-1]


def components(packet):
    out = []
    for f in packet.iter("field"):
        name = f.get("name", "")
        if not (name.startswith("tcap.") and name[5:] in KIND):
            continue
        comp = {"kind": KIND[name[5:]], "id": "-", "code": "-"}
        for g in f.iter("field"):
            n = g.get("name")
            if n in ("tcap.invokeID", "tcap.derivable") and comp["id"] == "-":
                comp["id"] = g.get("show")
            elif n == "tcap.opCode":
                for h in g.iter("field"):
                    if h.get("name") == "tcap.localValue":
                        comp["code"] = "L" + h.get("show")
                    elif h.get("name") == "tcap.globalValue":
                        comp["code"] = "G" + last_arc(h.get("show"))
        out.append(comp)
    return out


def map_details(packet):
    errors, fsm = [], []
    for f in packet.iter("field"):
        if f.get("name") == "gsm_old.errorCode":
            for h in f.iter("field"):
                if h.get("name") == "gsm_old.localValue":
                    errors.append("E" + h.get("show"))
        if f.get("name") in ("gsm_old.sm_RP_DA", "gsm_map.sm.sm_RP_DA"):
            choice = {"0": "imsi", "1": "lmsi", "4": "serviceCentreAddressDA", "5": "noSM-RP-DA"}[f.get("show")]
            for h in f.iter("field"):
                if h.get("name") == "e212.imsi":
                    choice += ":" + h.get("show")
            fsm.append(choice)
    return errors, fsm


def field(packet, name):
    for f in packet.iter("field"):
        if f.get("name") == name:
            return f.get("show")
    return None


def addr(packet, side):
    p = "sccp.%s." % side
    gti = field(packet, p + "gti")
    if gti is None:
        return "-"
    def num(n):
        v = field(packet, p + n)
        return "-" if v is None else str(int(v, 0))
    digits = field(packet, p + "digits")
    return "nat=%s ri=%s gti=%s pc=%s ssn=%s tt=%s np=%s es=%s nai=%s digits=%s" % (
        num("reserved"), num("ri"), num("gti"), num("pc"), num("ssn"), num("tt"), num("np"),
        num("es"), num("nai"), "-" if digits is None else digits)


def malformed(packet):
    return int(any(p.get("name") == "_ws.malformed" for p in packet.iter("proto")))


def rows(messages, mapped_messages=None):
    generic = tshark(messages, "--disable-protocol", "gsm_map", "--disable-protocol", "camel",
                     "--disable-protocol", "inap", "--disable-protocol", "ansi_tcap")
    mapped = tshark(mapped_messages or messages)
    out = []
    for g, m in zip(generic, mapped):
        msg = next((MSG[f.get("name")] for f in g.iter("field") if f.get("name") in MSG), "none")
        comps = components(g)
        errors, fsm = map_details(m)
        for c in comps:
            if c["kind"] == "returnError" and errors:
                c["code"] = errors.pop(0)
        out.append((addr(g, "called"), addr(g, "calling"), msg, malformed(g),
                    ";".join("%s:%s:%s" % (c["kind"], c["id"], c["code"]) for c in comps) or "-",
                    ";".join(fsm) or "-"))
    return out


def wrap(payload, ssn):
    a = address(0x43, pc=0, ssn=ssn)
    return ludt(a, a, payload) if len(payload) > 250 else udt(a, a, payload, cls=0)


def write(dst, names, hexes, results, source):
    with open(dst, "w") as f:
        f.write("# name\thex\tcalled\tcalling\ttcap\tmalformed\tcomponents\tfsm\n")
        f.write("# Expected values read by TShark 4.0 (tests/decoders/tools/tshark_expectations.py, %s).\n" % source)
        f.write("# GT digits 10-15 are written a-f here; tshark shows them as (spare), 11, 12, ST.\n")
        for n, h, r in zip(names, hexes, results):
            f.write("\t".join([n, h] + [str(x) for x in r]) + "\n")


def sccp_of_pcap(path):
    """SCCP messages of an Ethernet/IPv4/SCTP/M3UA capture, one per DATA chunk."""
    import struct
    data = open(path, "rb").read()
    assert struct.unpack("<I", data[:4])[0] == 0xA1B2C3D4 and struct.unpack("<I", data[20:24])[0] == 1
    out, pos = [], 24
    while pos < len(data):
        incl = struct.unpack("<I", data[pos + 8:pos + 12])[0]
        frame = data[pos + 16:pos + 16 + incl]
        pos += 16 + incl
        ip = frame[14:]
        sctp = ip[(ip[0] & 0x0F) * 4:]
        c = 12
        while c + 4 <= len(sctp):
            ctype, clen = sctp[c], struct.unpack(">H", sctp[c + 2:c + 4])[0]
            if ctype == 0 and struct.unpack(">I", sctp[c + 12:c + 16])[0] == 3:
                m3ua = sctp[c + 16:c + clen]
                p = 8
                while p + 4 <= len(m3ua):
                    tag, plen = struct.unpack(">HH", m3ua[p:p + 4])
                    if tag == 0x0210 and m3ua[p + 12] == 3:
                        out.append(bytes(m3ua[p + 16:p + plen]))
                    p += (plen + 3) & ~3
            c += (clen + 3) & ~3
    return out


def main():
    if sys.argv[1] == "pcap":
        messages = sccp_of_pcap(sys.argv[2])
        write(sys.argv[3], ["frame%02d" % (i + 1) for i in range(len(messages))],
              [m.hex() for m in messages], rows(messages), "SCCP messages of public-samples.pcap")
    elif sys.argv[1] == "samples":
        samples = json.load(open(sys.argv[2]))
        payloads = [bytes.fromhex(s["payload_hex"]) for s in samples]
        # SSN 6 makes tshark read every payload as TCAP; the called SSN of the
        # sample then picks the application dissector for the MAP details.
        res = rows([wrap(p, 6) for p in payloads],
                   [wrap(p, s["called"][2]) for p, s in zip(payloads, samples)])
        res = [("-", "-") + r[2:] for r in res]
        write(sys.argv[3], ["sample%02d" % i for i in range(len(samples))], [p.hex() for p in payloads],
              res, "payloads of public-tcap-samples.json, each in an SCCP UDT or LUDT")
    else:
        v = vectors()
        res = [(with_hex_digits(n, r[0]),) + r[1:] for (n, _), r in zip(v, rows([bytes.fromhex(h) for _, h in v]))]
        write(sys.argv[2], [n for n, _ in v], [h for _, h in v], res, "hand-built vectors")


if __name__ == "__main__":
    main()
