#!/usr/bin/python3
"""Cross-check `quorlin decode` against Gammu's PDU decoder (python3-gammu).

Generates a few hundred PDUs of every kind a modem stores (SMS-DELIVER in 7-bit with extension
characters, UCS2 with Cyrillic and emoji, 8-bit; concatenated parts with 8- and 16-bit
references; stored SMS-SUBMITs; status reports; international, national and alphanumeric
addresses; with and without a service centre), with a fixed seed. Most are built here; the rest
are built by Gammu's own encoder (gammu.EncodeSMS / gammu.EncodePDU), so that our decoder also
meets PDUs it did not see made. Each PDU is decoded by gammu.DecodePDU and by `quorlin decode`,
and the two are compared field by field: time stamp, address, text. Prints a summary and exits
1 on any disagreement.

usage: crosscheck.py QUORLIN_BINARY [--seed N] [--count N] [--show N]
"""

import argparse
import binascii
import datetime
import random
import subprocess
import sys
from collections import Counter, defaultdict
from pathlib import Path

import gammu

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "simulator"))
from pdu_builder import pack_septets, semi_octets  # noqa: E402  the septet and digit packing

# ---------------------------------------------------------------------------------------------
# GSM 7-bit default alphabet and extension table (3GPP TS 23.038)

GSM_DEFAULT = (
    "@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
    "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà"
)
GSM_EXTENSION = {"\f": 0x0A, "^": 0x14, "{": 0x28, "}": 0x29, "\\": 0x2F, "[": 0x3C, "~": 0x3D,
                 "]": 0x3E, "|": 0x40, "€": 0x65}
ESC = 0x1B

# Characters an alphanumeric sender is drawn from: those whose default-alphabet code equals
# their ASCII code. Gammu returns an alphanumeric address as raw septet codes (it does not map
# them through the alphabet), so only these compare meaningfully.
ALNUM_CHARS = ("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 "
               "!\"#%&'()*+,-./:;<=>?")

CYRILLIC = "".join(chr(c) for c in range(0x0410, 0x0450)) + "Ёё"
EMOJI = ["😀", "😂", "👍", "🎉", "❤", "🙂", "🚀", "📱", "✅", "🇷🇺"]
# No "~" and no U+0001 in UCS2 text: Gammu's UCS2 decoder rewrites both (it keeps Nokia's
# convention of U+0001 for "~" and doubles a real "~").
UCS2_PLAIN = "abcdefghijklmnopqrstuvwxyz ABCXYZ0123456789.,!?-()«»№€é"


def septets_of(text):
    out = []
    for ch in text:
        if ch in GSM_EXTENSION:
            out += [ESC, GSM_EXTENSION[ch]]
        else:
            out.append(GSM_DEFAULT.index(ch))
    return out


# ---------------------------------------------------------------------------------------------
# Fields


def address_field(addr):
    """TP-OA/DA/RA: length in semi-octets, type, digits. `addr` is (kind, value)."""
    kind, value = addr
    if kind == "alnum":
        packed = pack_septets(septets_of(value))
        length = (len(value) * 7 + 3) // 4
        return bytes([length, 0xD0]) + packed
    type_octet = {"intl": 0x91, "natl": 0x81, "national": 0xA1, "network": 0xB1,
                  "subscriber": 0xC1}[kind]
    return bytes([len(value), type_octet]) + semi_octets(value)


def service_centre(rng):
    choice = rng.random()
    if choice < 0.3:
        return b"\x00"
    digits = "".join(rng.choice("0123456789") for _ in range(rng.choice([3, 5, 8, 11, 12])))
    body = bytes([0x91]) + semi_octets(digits)
    return bytes([len(body)]) + body


def stamp_octets(when, tz_quarters):
    def bcd(v):
        return ((v % 10) << 4) | (v // 10)
    tz = bcd(abs(tz_quarters)) | (0x08 if tz_quarters < 0 else 0)
    return bytes([bcd(when.year % 100), bcd(when.month), bcd(when.day), bcd(when.hour),
                  bcd(when.minute), bcd(when.second), tz])


def random_when(rng):
    # Years 80-89 are left out: Gammu adds 1990 to two-digit years from 90 on, so 90-99 and
    # 80-89 would both come back as 2080-2089.
    year = rng.choice(list(range(2000, 2080)) + list(range(2090, 2100)))
    month = rng.randint(1, 12)
    day = rng.randint(1, 28)
    return datetime.datetime(year, month, day, rng.randint(0, 23), rng.randint(0, 59),
                             rng.randint(0, 59))


def fmt_stamp(when, between=" "):
    return when.strftime("%d.%m.") + f"{when.year % 100:02d}" + between + when.strftime("%H:%M:%S")


def random_address(rng):
    r = rng.random()
    if r < 0.15:
        n = rng.randint(1, 11)
        return ("alnum", "".join(rng.choice(ALNUM_CHARS) for _ in range(n)))
    # Digits only: Gammu's semi-octet decoder drops the values A-E that we show as "*", "#",
    # "a", "b", "c", so it cannot judge them.
    kind = rng.choice(["intl", "intl", "intl", "natl", "natl", "national", "network",
                       "subscriber"])
    length = rng.choice([1, 3, 4, 5, 7, 9, 10, 11, 12, 13, 15, 16, 18, 20])
    return (kind, "".join(rng.choice("0123456789") for _ in range(length)))


def shown_address(addr):
    """The address as our line shows it: alphanumeric as its text, every number with "+"."""
    kind, value = addr
    return value if kind == "alnum" else "+" + value


# ---------------------------------------------------------------------------------------------
# Texts


def random_gsm_text(rng, max_septets):
    chars = [c for c in GSM_DEFAULT if c != "\x1b"]
    out = []
    used = 0
    target = rng.randint(0, max_septets)
    if rng.random() < 0.25:
        # Lengths where fill bits could pass for a character: a full message, seven septets
        # (seven fill bits), one septet, none.
        target = min(max_septets, rng.choice([max_septets, 7, 15, 1, 0]))
    while used < target:
        if rng.random() < 0.12 and used + 2 <= target:
            ch = rng.choice(list(GSM_EXTENSION))
            used += 2
        else:
            ch = rng.choice(chars)
            used += 1
        out.append(ch)
    if out and rng.random() < 0.1:
        out[-1] = "@"  # a real "@" at the end, which must not be taken for fill
    return "".join(out)


def random_ucs2_text(rng, max_units):
    out = []
    units = 0
    target = rng.randint(1, max_units)
    while units < target:
        r = rng.random()
        if r < 0.15 and units + 2 <= target:
            ch = rng.choice(EMOJI)
        elif r < 0.65:
            ch = rng.choice(CYRILLIC)
        else:
            ch = rng.choice(UCS2_PLAIN)
        n = len(ch.encode("utf-16-be")) // 2
        if units + n > target:
            break
        out.append(ch)
        units += n
    return "".join(out)


def cp1251(data):
    # Windows-1251 leaves 0x98 unassigned; our decoder shows it as U+0098 so no byte is lost.
    return "".join("\x98" if b == 0x98 else bytes([b]).decode("cp1251") for b in data)


# ---------------------------------------------------------------------------------------------
# User data


def concat_header(rng, sixteen_bit, extra_port):
    total = rng.randint(2, 5)
    seq = rng.randint(1, total)
    if sixteen_bit:
        ie = bytes([0x08, 0x04, rng.randint(0, 255), rng.randint(0, 255), total, seq])
    else:
        ie = bytes([0x00, 0x03, rng.randint(0, 255), total, seq])
    if extra_port:  # application port addressing, 16-bit, before the concatenation element
        ie = bytes([0x05, 0x04, 0x0B, 0x84, 0x23, 0xF0]) + ie
    return bytes([len(ie)]) + ie


def user_data(rng, alphabet, header):
    """(TP-UDL, TP-UD, text as our line shows it) for an alphabet and an optional header."""
    hlen = len(header)
    if alphabet == "gsm7":
        # The text starts at the first septet boundary after the header; the bits between
        # are fill.
        header_septets = (hlen * 8 + 6) // 7
        text = random_gsm_text(rng, 160 - header_septets)
        septets = septets_of(text)
        fill = header_septets * 7 - hlen * 8
        ud = header + pack_septets(septets, fill) if hlen else pack_septets(septets)
        return header_septets + len(septets), ud, text
    if alphabet == "ucs2":
        text = random_ucs2_text(rng, (140 - hlen) // 2)
        data = text.encode("utf-16-be")
        return hlen + len(data), header + data, text
    data = bytes(rng.randint(0, 255) for _ in range(rng.randint(1, 140 - hlen)))
    return hlen + len(data), header + data, cp1251(data)


DCS = {
    "gsm7": [0x00, 0x01, 0x10, 0x11, 0x12, 0x13, 0x40, 0x51, 0xF0, 0xF1, 0xF2, 0xF3, 0xC0, 0xC8,
             0xD0, 0xD8],
    "ucs2": [0x08, 0x18, 0x19, 0x1A, 0x1B, 0x48, 0x5A, 0xE0, 0xE8],
    "8bit": [0x04, 0x14, 0x15, 0x16, 0x17, 0x44, 0x55, 0xF4, 0xF5, 0xF6, 0xF7],
}
# Reserved codings (alphabet 11 in groups 00xx/01xx, groups 1000-1011, bit 2 set in the
# message-waiting groups, bit 3 set in group 1111) are left out: 3GPP TS 23.038 has them read
# as the default alphabet, which we do, while Gammu reads them as 8-bit data.


# ---------------------------------------------------------------------------------------------
# Cases built here


class Case:
    def __init__(self, kind, pdu, truth, alnum, tags=()):
        self.kind = kind
        self.pdu = pdu              # bytes, service-centre field first
        self.truth = truth          # (stamp, address, text) meant by the generator, or None
        self.alnum = alnum          # the address is alphanumeric
        self.tags = set(tags)       # what the PDU exercises, for the coverage summary


def tags_of(sc, addr, text=""):
    tags = {"service centre: " + ("none" if sc == b"\x00" else "full" if sc[0] == 7 else
                                  "short"),
            "address: " + {"intl": "international", "alnum": "alphanumeric"}.get(addr[0],
                                                                             "national/other")}
    if any(ch in GSM_EXTENSION for ch in text):
        tags.add("7-bit extension characters")
    if any(ord(ch) > 0xFFFF for ch in text):
        tags.add("emoji (surrogate pairs)")
    if any(ch in CYRILLIC for ch in text):
        tags.add("Cyrillic")
    return tags


def gen_deliver(rng, alphabet, concat=None):
    sc = service_centre(rng)
    addr = random_address(rng)
    when = random_when(rng)
    tz = rng.randint(-48, 56)
    header = b""
    first = 0x04 if rng.random() < 0.5 else 0x00
    if concat:
        header = concat_header(rng, concat == "16", rng.random() < 0.2)
        first |= 0x40
    dcs = rng.choice(DCS[alphabet])
    udl, ud, text = user_data(rng, alphabet, header)
    tpdu = (bytes([first]) + address_field(addr) + bytes([0x00, dcs]) + stamp_octets(when, tz)
            + bytes([udl]) + ud)
    truth = (fmt_stamp(when), shown_address(addr), text)
    return Case(f"deliver/{alphabet}" + (f"/concat{concat}" if concat else ""), sc + tpdu,
                truth, addr[0] == "alnum", tags_of(sc, addr, text if alphabet != "8bit" else ""))


def gen_submit(rng, alphabet, with_header):
    sc = service_centre(rng)
    addr = random_address(rng)
    # TP-VPF: none, relative or absolute. The enhanced format (01) is left out: Gammu refuses
    # it as reserved.
    vpf = rng.choice([0, 2, 3])
    first = 0x01 | (vpf << 3)
    if rng.random() < 0.3:
        first |= 0x20  # status report requested
    if rng.random() < 0.2:
        first |= 0x04  # reject duplicates
    header = b""
    if with_header:
        header = concat_header(rng, rng.random() < 0.5, False)
        first |= 0x40
    dcs = rng.choice(DCS[alphabet])
    vp = b""
    if vpf == 2:
        vp = bytes([rng.randint(0, 255)])
    elif vpf == 3:
        vp = stamp_octets(random_when(rng), rng.randint(-48, 56))
    udl, ud, text = user_data(rng, alphabet, header)
    tpdu = (bytes([first, rng.randint(0, 255)]) + address_field(addr) + bytes([0x00, dcs]) + vp
            + bytes([udl]) + ud)
    truth = ("", shown_address(addr), text)
    return Case(f"submit/{alphabet}" + ("/header" if with_header else ""), sc + tpdu, truth,
                addr[0] == "alnum", tags_of(sc, addr, text if alphabet != "8bit" else ""))


STATUS_WORDS = {0x22: "отложено ", 0x46: "удалено ", 0x41: "ошибка "}


def status_word(st):
    if st in STATUS_WORDS:
        return STATUS_WORDS[st]
    if st < 0x20:
        return "доставлено "
    if st < 0x40:
        return "отложено "
    return "ошибка "


def report_sentence(address, status, discharge):
    return f"Отчет о доставке: {status_word(status)}{address} Дата: {fmt_stamp(discharge, '  ')}"


def gen_report(rng):
    sc = service_centre(rng)
    addr = random_address(rng)
    if addr[0] == "alnum":  # a report names the number the message went to
        addr = ("natl", "".join(str(ord(ch) % 10) for ch in addr[1]))
    scts = random_when(rng)
    dt = random_when(rng)
    status = rng.choice([0x00, 0x01, 0x02, 0x20, 0x21, 0x22, 0x30, 0x40, 0x41, 0x45, 0x46, 0x60,
                         0x63, rng.randint(0, 0x7F)])
    first = rng.choice([0x06, 0x02, 0x22, 0x26])
    tpdu = (bytes([first, rng.randint(0, 255)]) + address_field(addr)
            + stamp_octets(scts, rng.randint(-48, 56)) + stamp_octets(dt, rng.randint(-48, 56))
            + bytes([status]))
    if rng.random() < 0.2:
        tpdu += b"\x00"  # TP-PI with no optional fields
    shown = shown_address(addr)
    return Case("report", sc + tpdu, (fmt_stamp(scts), shown, report_sentence(shown, status, dt)),
                False, tags_of(sc, addr))


# ---------------------------------------------------------------------------------------------
# Cases built by Gammu's encoder


def gen_by_gammu(rng, layout):
    unicode = rng.random() < 0.5
    if unicode:
        text = random_ucs2_text(rng, 160)
    else:
        text = random_gsm_text(rng, 300) or "x"
    ident = rng.choice(["ConcatenatedTextLong", "ConcatenatedTextLong16bit"])
    parts = gammu.EncodeSMS({"Class": -1, "Unicode": unicode,
                             "Entries": [{"ID": ident, "Buffer": text}]})
    number = rng.choice(["+" + "".join(rng.choice("0123456789") for _ in range(11)),
                         "".join(rng.choice("123456789") for _ in range(9))])
    when = random_when(rng)
    cases = []
    for part in parts:
        part["SMSC"] = {"Location": 0, "Number": "+79168999100", "Validity": "NA"}
        part["Number"] = number
        part["Type"] = layout
        part["DateTime"] = when
        pdu = gammu.EncodePDU(part, layout)
        cases.append(Case(f"gammu-encoded/{layout.lower()}/{'ucs2' if unicode else 'gsm7'}", pdu,
                          None, False, tags_of(pdu[:9], ("natl" if number[0] != "+" else "intl",
                                                         number), part["Text"])))
    return cases


def generate(seed, count):
    rng = random.Random(seed)
    cases = []
    plan = [
        (lambda: gen_deliver(rng, "gsm7"), 0.16),
        (lambda: gen_deliver(rng, "ucs2"), 0.14),
        (lambda: gen_deliver(rng, "8bit"), 0.08),
        (lambda: gen_deliver(rng, rng.choice(["gsm7", "ucs2", "8bit"]), "8"), 0.10),
        (lambda: gen_deliver(rng, rng.choice(["gsm7", "ucs2", "8bit"]), "16"), 0.10),
        (lambda: gen_submit(rng, rng.choice(["gsm7", "ucs2", "8bit"]), False), 0.10),
        (lambda: gen_submit(rng, rng.choice(["gsm7", "ucs2"]), True), 0.06),
        (lambda: gen_report(rng), 0.14),
    ]
    for make, share in plan:
        for _ in range(max(1, round(count * share))):
            cases.append(make())
    gammu_share = max(1, round(count * 0.12))
    built = 0
    while built < gammu_share:
        more = gen_by_gammu(rng, rng.choice(["Deliver", "Deliver", "Submit"]))
        cases += more
        built += len(more)
    return cases


# ---------------------------------------------------------------------------------------------
# The two decoders


def ours(binary, pdu_hex):
    out = subprocess.run([binary, "decode", pdu_hex], capture_output=True, check=True).stdout
    line = out.decode("utf-8")
    if line.endswith("\n"):
        line = line[:-1]
    if not line:
        return ("", "", "")
    stamp, address, text = line.split("\t", 2)
    return (stamp, address, text)


def gammu_year(dt):
    # Gammu reads two-digit years 90-99 as 2080-2089 (it adds 1990); undo that.
    return dt.replace(year=dt.year - 90) if dt.year >= 2080 else dt


def theirs(pdu, alnum):
    """Gammu's reading, normalised to our line's conventions."""
    sms = gammu.DecodePDU(pdu, True)
    number = sms["Number"]
    # Our line puts "+" in front of every number that is not alphanumeric, national numbers
    # included; Gammu shows "+" only for the international type.
    if not alnum and not number.startswith("+"):
        number = "+" + number
    if sms["Type"] == "Status_Report":
        # Our line shows a report as a sentence (status word by TP-ST range, recipient,
        # discharge time) with the service-centre time stamp in front; Gammu gives the status
        # value, its own English word, and the two times. For a report Gammu keeps the
        # service-centre time stamp (TP-SCTS) in "DateTime" and the discharge time (TP-DT) in
        # "SMSCDateTime".
        status = sms["DeliveryStatus"]
        return (fmt_stamp(gammu_year(sms["DateTime"])), number,
                report_sentence(number, status, gammu_year(sms["SMSCDateTime"])))
    text = sms["Text"]
    if sms["Coding"] == "8bit":
        # 8-bit data: Gammu hands over the octets, our line shows them through Windows-1251.
        text = cp1251(text)
    else:
        # The binding sizes a 7-bit text by its septet count, so each escape pair leaves a
        # NUL and stray units after the real text; UCS2 text never holds U+0000 here.
        text = text.split("\x00", 1)[0]
    # A message without text keeps its line, the text empty.
    stamp = "" if sms["Type"] == "Submit" else fmt_stamp(gammu_year(sms["DateTime"]))
    return (stamp, number, text)


FIELDS = ("time stamp", "address", "text")


def one_line(reading):
    """quorlin decode prints one line per PDU: a line break inside a text shows as a space, any
    other control character but the tab, a line or paragraph separator and a bidirectional
    control as U+FFFD."""
    if reading is None:
        return None
    stamp, address, text = reading
    text = text.replace("\r", " ").replace("\n", " ")
    text = "".join("\ufffd" if (ord(c) < 0x20 and c != "\t") or 0x7F <= ord(c) <= 0x9F
                   or c in "\u2028\u2029\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069"
                   else c for c in text)
    return (stamp, address, text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("quorlin", help="path of the quorlin binary")
    parser.add_argument("--seed", type=int, default=20240515)
    parser.add_argument("--count", type=int, default=360, help="about how many PDUs to make")
    parser.add_argument("--show", type=int, default=10, help="disagreements to print in full")
    args = parser.parse_args()

    cases = generate(args.seed, args.count)
    per_kind = Counter()
    agree_kind = Counter()
    field_faults = defaultdict(Counter)
    shown = 0
    failures = 0
    for case in cases:
        pdu_hex = binascii.hexlify(case.pdu).decode().upper()
        per_kind[case.kind] += 1
        try:
            expected = one_line(theirs(case.pdu, case.alnum))
        except gammu.GSMError as err:
            failures += 1
            field_faults[case.kind]["gammu could not decode"] += 1
            if shown < args.show:
                shown += 1
                print(f"gammu failed on {case.kind} {pdu_hex}: {err}")
            continue
        got = ours(args.quorlin, pdu_hex)
        if got == expected:
            if case.truth is None or got == one_line(case.truth):
                agree_kind[case.kind] += 1
            else:
                # Both decoders agree with each other but not with what was encoded: the
                # generator (or both decoders) is wrong, which the comparison alone would hide.
                failures += 1
                field_faults[case.kind]["both differ from the generator"] += 1
                if shown < args.show:
                    shown += 1
                    print(f"BOTH DIFFER FROM GENERATOR {case.kind} {pdu_hex}\n"
                          f"  decoded {got!r}\n  meant   {case.truth!r}")
            continue
        failures += 1
        for name, a, b in zip(FIELDS, got, expected):
            if a != b:
                field_faults[case.kind][name] += 1
        if shown < args.show:
            shown += 1
            print(f"DISAGREEMENT {case.kind}\n  pdu      {pdu_hex}")
            for name, a, b in zip(FIELDS, got, expected):
                mark = "  " if a == b else "!="
                print(f"  {name:10s} {mark} quorlin {a!r}\n  {'':10s}    gammu   {b!r}")
            if case.truth is not None:
                print(f"  generator meant {case.truth!r}")

    print(f"\n{len(cases)} PDUs, seed {args.seed}")
    for kind in sorted(per_kind):
        faults = ", ".join(f"{n} {k}" for k, n in sorted(field_faults[kind].items()))
        print(f"  {kind:32s} {agree_kind[kind]:4d}/{per_kind[kind]:<4d} agree"
              + (f"   ({faults})" if faults else ""))
    coverage = Counter(tag for case in cases for tag in case.tags)
    print("covering: " + ", ".join(f"{tag} {n}" for tag, n in sorted(coverage.items())))
    total_agree = sum(agree_kind.values())
    print(f"agreement: {total_agree}/{len(cases)}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
