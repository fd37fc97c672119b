#!/usr/bin/python3
"""Cross-check `quorlin send --dry-run` against Gammu's PDU decoder (python3-gammu).

Makes a few hundred texts with a fixed seed (7-bit with extension characters, Cyrillic, emoji,
mixed, up to 1000 characters, and the lengths where a message turns into parts or a cut meets
an escape or a surrogate pair), sends each with --dry-run to an international or national
number under a random choice of --report, --flash, --ucs2, --validity and --smsc, and reads
every PDU back three ways:

- gammu.DecodePDU, in a child process, since python3-gammu aborts the interpreter on some
  parts: the number, the piece of text, the coding, the class, the validity period, the
  service centre and the concatenation element of each part;
- `quorlin decode --join --json`: the whole text, number, coding and the number of parts;
- simulator/pdu_builder.py's submit_parts with the same reference: the same PDUs, byte for
  byte, so that the parts are as few as possible and each cut where the builder cuts.

The status-report request is read from the first octet here, as Gammu does not return it.
Prints a summary and exits 1 on any disagreement.

usage: send_crosscheck.py QUORLIN_BINARY [--seed N] [--count N] [--show N]
"""

import argparse
import binascii
import datetime
import json
import random
import subprocess
import sys
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1].parent / "simulator"))
import pdu_builder  # noqa: E402  the independent encoder

GSM_CHARS = [c for c in pdu_builder.GSM7_BASIC if c != "\x1b"]
EXTENSION = list(pdu_builder.GSM7_EXTENSION)
CYRILLIC = [chr(c) for c in range(0x0410, 0x0450)] + ["Ё", "ё"]
EMOJI = ["😀", "👍", "🎉", "🚀", "📱", "❤", "✅"]
# Gammu's UCS2 decoder doubles a real "~" and reads U+0001 as "~" (a Nokia convention), so a
# text that goes in UCS2 is made without "~".
VALIDITIES = [1, 11, 12, 13, 23, 24, 25, 100, 720, 721, 5000, 10584]
GAMMU_CODING = {"gsm7": "Default_No_Compression", "ucs2": "Unicode_No_Compression"}


# ---------------------------------------------------------------------------------------------
# Cases


def text_of(rng, kind, length):
    out = []
    for _ in range(length):
        r = rng.random()
        if kind == "cyrillic":
            out.append(rng.choice(CYRILLIC) if r < 0.8 else rng.choice(" .,!?0123456789"))
        elif kind == "emoji":
            out.append(rng.choice(EMOJI) if r < 0.3 else rng.choice(CYRILLIC + GSM_CHARS))
        else:
            out.append(rng.choice(EXTENSION) if r < 0.1 else rng.choice(GSM_CHARS))
    if kind == "mixed" and out:
        out[rng.randrange(len(out))] = rng.choice(CYRILLIC + EMOJI)
    return "".join(out)


def boundary_texts():
    """The lengths where a message turns into parts, and cuts that meet an escape or a pair."""
    return [
        "a" * 160, "a" * 161, "a" * 306, "a" * 307, "a" * 158 + "€", "a" * 159 + "€",
        "a" * 152 + "€" + "b" * 10, "a" * 151 + "€" + "b" * 10, "a" * 305 + "[]",
        "Ж" * 70, "Ж" * 71, "Ж" * 134, "Ж" * 135, "Ж" * 68 + "😀", "Ж" * 69 + "😀",
        "Ж" * 66 + "😀" + "Ж" * 5, "Ж" * 65 + "😀" + "Ж" * 5, "😀" * 500, "{}" * 500,
        "1234567", "@", "mail@", "-starts with a dash", "line\nbreak\rand\fform feed",
    ]


def random_number(rng):
    digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 20)))
    return "+" + digits if rng.random() < 0.6 else digits


def random_options(rng):
    options = {"report": rng.random() < 0.3, "flash": rng.random() < 0.2,
               "ucs2": rng.random() < 0.15, "validity": None, "smsc": ""}
    if rng.random() < 0.4:
        options["validity"] = (rng.choice(VALIDITIES) if rng.random() < 0.6
                               else rng.randint(1, 10584))
    if rng.random() < 0.2:
        options["smsc"] = rng.choice(["+79168999100", "+1", "0123456789"])
    return options


def generate(seed, count):
    rng = random.Random(seed)
    texts = boundary_texts()
    while len(texts) < count:
        kind = rng.choice(["gsm7", "gsm7", "cyrillic", "emoji", "mixed"])
        length = rng.choice([rng.randint(1, 200), rng.randint(1, 1000)])
        texts.append(text_of(rng, kind, length))
    cases = []
    for text in texts:
        options = random_options(rng)
        if options["ucs2"] or not pdu_builder.is_gsm7(text):
            text = text.replace("~", "-")
        cases.append((random_number(rng), text, options))
    return cases


def arguments(number, text, options):
    args = ["send", "--dry-run", "--to", number]
    args += [f"--{name}" for name in ("report", "flash", "ucs2") if options[name]]
    if options["validity"] is not None:
        args += ["--validity", str(options["validity"])]
    if options["smsc"]:
        args += ["--smsc", options["smsc"]]
    return args + ["--", text]


# ---------------------------------------------------------------------------------------------
# What each case should read back as


def coding_of(text, options):
    return "ucs2" if options["ucs2"] or not pdu_builder.is_gsm7(text) else "gsm7"


def validity_octet(hours):
    return None if hours is None else pdu_builder.relative_validity(
        datetime.timedelta(hours=hours))


def period_minutes(vp):
    """The period a relative TP-VP names, in minutes."""
    if vp <= 143:
        return (vp + 1) * 5
    if vp <= 167:
        return 720 + (vp - 143) * 30
    if vp <= 196:
        return (vp - 166) * 1440
    return (vp - 192) * 10080


def gammu_minutes(validity):
    """Gammu's relative validity ("60M", "2D", "5W", "Max", "NA") in minutes."""
    if validity == "NA":
        return None
    if validity == "Max":
        return 63 * 10080
    unit = {"M": 1, "H": 60, "D": 1440, "W": 10080}[validity[-1]]
    return int(validity[:-1]) * unit


def expected_pdus(number, text, options, reference):
    coding = coding_of(text, options)
    dcs = pdu_builder.DCS_FOR[coding] | (0x10 if options["flash"] else 0)
    return pdu_builder.submit_parts(number, text, ref=reference, encoding=coding,
                                    sca=options["smsc"] or None,
                                    validity=validity_octet(options["validity"]),
                                    status_report_request=options["report"], dcs=dcs)


def first_octet(pdu_hex):
    sca_octets = 1 + int(pdu_hex[:2], 16)
    return int(pdu_hex[2 * sca_octets:2 * sca_octets + 2], 16)


def reference_of(pdu_hex):
    """The concatenation reference of a part, from its header (05 00 03 ref total seq)."""
    at = pdu_hex.find("050003")
    return int(pdu_hex[at + 6:at + 8], 16) if at >= 0 else 0


# ---------------------------------------------------------------------------------------------
# Gammu, in child processes


def gammu_child():
    """Reads hex PDUs, one a line, and writes Gammu's reading of each as one JSON line."""
    import gammu
    for line in sys.stdin:
        sms = gammu.DecodePDU(binascii.unhexlify(line.strip()), True)
        udh = sms["UDH"]
        reading = {"type": sms["Type"], "number": sms["Number"],
                   "text": sms["Text"].split("\x00", 1)[0] if sms["Coding"] ==
                   GAMMU_CODING["gsm7"] else sms["Text"][:sms["Length"]],
                   "coding": sms["Coding"], "class": sms["Class"],
                   "smsc": sms["SMSC"]["Number"], "validity": sms["SMSC"]["Validity"],
                   "udh": [udh["Type"], udh["ID8bit"], udh["PartNumber"], udh["AllParts"]]}
        print(json.dumps(reading), flush=True)
    return 0


def gammu_readings(pdus):
    """Gammu's reading of each PDU; None for one on which Gammu died. One child for all, and
    after a death a new one for the PDUs that follow."""
    readings = [None] * len(pdus)
    pending = list(range(len(pdus)))
    while pending:
        child = subprocess.run([sys.executable, __file__, "--gammu-child"],
                               input="".join(pdus[i] + "\n" for i in pending),
                               capture_output=True, text=True)
        lines = child.stdout.splitlines()
        for index, line in zip(pending, lines):
            readings[index] = json.loads(line)
        pending = pending[len(lines) + 1:]  # past the one it died on, if any
    return readings


# ---------------------------------------------------------------------------------------------
# Comparing


def gammu_faults(number, options, coding, piece, seq, total, reading):
    expected = {
        "type": "Submit", "number": number, "text": piece, "coding": GAMMU_CODING[coding],
        "class": 0 if options["flash"] else -1, "smsc": options["smsc"],
        "validity": None if options["validity"] is None else
        period_minutes(validity_octet(options["validity"])),
        "udh": ["NoUDH", None, -1, 0] if total == 1 else ["ConcatenatedMessages", None, seq,
                                                          total],
    }
    got = dict(reading, validity=gammu_minutes(reading["validity"]))
    got["udh"] = [got["udh"][0], None, got["udh"][2], got["udh"][3]]
    return [f"gammu {k}: {got[k]!r} != {v!r}" for k, v in expected.items() if got[k] != v]


def quorlin_faults(binary, number, text, coding, pdus):
    out = subprocess.run([binary, "decode", "--join", "--json"], input="\n".join(pdus).encode(),
                         capture_output=True, check=True).stdout.decode()
    records = [json.loads(line) for line in out.splitlines()]
    if len(records) != 1:
        return [f"quorlin decode --join: {len(records)} messages"]
    record = records[0]
    got = (record["kind"], record["address"], record["address_type"], record["coding"],
           record.get("parts", 1), record["text"])
    want = ("submit", number if number.startswith("+") else "+" + number,
            0x91 if number.startswith("+") else 0x81, coding, len(pdus), text)
    return [] if got == want else [f"quorlin decode --join: {got!r} != {want!r}"]


def check_case(binary, case, pdus, readings):
    number, text, options = case
    coding = coding_of(text, options)
    faults = []
    expected = expected_pdus(number, text, options, reference_of(pdus[0]))
    if pdus != expected:
        faults.append(f"PDUs differ from pdu_builder's: {len(pdus)} against {len(expected)}")
    pieces = pdu_builder.split_content(text, coding)
    if len({reference_of(p) for p in pdus}) != 1:
        faults.append("the parts do not share one reference")
    for seq, (pdu, reading) in enumerate(zip(pdus, readings), 1):
        if bool(first_octet(pdu) & 0x20) != options["report"]:
            faults.append(f"part {seq}: TP-SRR is not {options['report']}")
        if reading is not None and seq <= len(pieces):
            faults += [f"part {seq}: {f}" for f in gammu_faults(
                number, options, coding, pieces[seq - 1], seq, len(pdus), reading)]
    return faults + quorlin_faults(binary, number, text, coding, pdus)


def main():
    if sys.argv[1:] == ["--gammu-child"]:
        return gammu_child()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("quorlin", help="path of the quorlin binary")
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("--count", type=int, default=240, help="how many texts to send")
    parser.add_argument("--show", type=int, default=10, help="disagreements to print in full")
    args = parser.parse_args()

    cases = generate(args.seed, args.count)
    sent = []
    for number, text, options in cases:
        run = subprocess.run([args.quorlin, *arguments(number, text, options)],
                             capture_output=True, check=True)
        sent.append(run.stdout.decode().splitlines())
    flat = [pdu for pdus in sent for pdu in pdus]
    readings = gammu_readings(flat)
    failures, shown, at = 0, 0, 0
    tally = Counter()
    for case, pdus in zip(cases, sent):
        faults = check_case(args.quorlin, case, pdus, readings[at:at + len(pdus)])
        tally["gammu died on a part"] += readings[at:at + len(pdus)].count(None)
        at += len(pdus)
        tally[f"{coding_of(case[1], case[2])}, {'one part' if len(pdus) == 1 else 'parts'}"] += 1
        if faults:
            failures += 1
            if shown < args.show:
                shown += 1
                print(f"DISAGREEMENT {arguments(*case)[:-1]} text {case[1][:60]!r}"
                      f" ({len(case[1])} characters)\n  " + "\n  ".join(faults))
    print(f"\n{len(cases)} texts, {len(flat)} PDUs, seed {args.seed}: "
          + ", ".join(f"{k} {n}" for k, n in sorted(tally.items())))
    print(f"agreement: {len(cases) - failures}/{len(cases)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
