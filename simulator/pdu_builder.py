#!/usr/bin/env python3
"""Encode SMS PDUs (3GPP TS 23.040, alphabets of TS 23.038) for modem stores and tests.

Every builder returns the PDU as the modem lists it: upper-case hexadecimal text, the
service-centre field first ("00" when absent), then the TPDU.

    python3 simulator/pdu_builder.py deliver --from +79161234567 --text "Hello"
    python3 simulator/pdu_builder.py deliver --from Bank --text "Привет"
    python3 simulator/pdu_builder.py report --to +79161234567 --status 00
    python3 simulator/pdu_builder.py submit --to +79161234567 --text "Hi" --validity 170
    python3 simulator/pdu_builder.py store --count 300 --seed 7 > big-store.txt

Text longer than one message comes out as concatenated parts, one PDU per line.
"""

import argparse
import datetime
import random
import re
import sys

# GSM 7-bit default alphabet, indexed by septet value; 0x1B is the escape to the extension
# table and has no character of its own.
GSM7_BASIC = (
    "@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1bÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
    "¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§¿abcdefghijklmnopqrstuvwxyzäöñüà"
)
GSM7_ESCAPE = 0x1B
GSM7_EXTENSION = {
    "\f": 0x0A, "^": 0x14, "{": 0x28, "}": 0x29, "\\": 0x2F,
    "[": 0x3C, "~": 0x3D, "]": 0x3E, "|": 0x40, "€": 0x65,
}
_GSM7_INDEX = {ch: i for i, ch in enumerate(GSM7_BASIC) if i != GSM7_ESCAPE}

ENCODINGS = ("auto", "gsm7", "ucs2", "8bit")
# TP-DCS of the general data coding group, no message class.
DCS_FOR = {"gsm7": 0x00, "8bit": 0x04, "ucs2": 0x08}

TOA_INTERNATIONAL = 0x91
TOA_UNKNOWN = 0x81
TOA_NATIONAL = 0xA1
TOA_ALPHANUMERIC = 0xD0

MAX_SEPTETS = 160
MAX_OCTETS = 140

# Eleven digits, so the service-centre field is eight octets long, as most SIMs have it.
DEFAULT_SCA = "+79168999100"
DEFAULT_TIMESTAMP = datetime.datetime(
    2024, 5, 17, 10, 30, 0, tzinfo=datetime.timezone(datetime.timedelta(hours=3)))


def gsm7_septets(text):
    """The septets of text in the default alphabet; extension characters take two."""
    septets = []
    for ch in text:
        if ch in _GSM7_INDEX:
            septets.append(_GSM7_INDEX[ch])
        elif ch in GSM7_EXTENSION:
            septets += [GSM7_ESCAPE, GSM7_EXTENSION[ch]]
        else:
            raise ValueError(f"{ch!r} is not in the GSM 7-bit default alphabet")
    return septets


def is_gsm7(text):
    return all(ch in _GSM7_INDEX or ch in GSM7_EXTENSION for ch in text)


def pack_septets(septets, fill_bits=0):
    """Pack septets least significant bit first, after fill_bits zero bits (TS 23.038 6.1.2.1)."""
    out = bytearray()
    acc, nbits = 0, fill_bits
    for septet in septets:
        acc |= (septet & 0x7F) << nbits
        nbits += 7
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def semi_octets(digits):
    """Digits two per octet, low nibble first, an odd count padded with F."""
    if len(digits) % 2:
        digits += "F"
    return bytes(int(digits[i + 1] + digits[i], 16) for i in range(0, len(digits), 2))


def _bcd(value):
    return ((value % 10) << 4) | (value // 10)


def encode_address(address, toa=None):
    """TP-OA / TP-DA / TP-RA: length, type of address, value.

    "+digits" is international (91), bare digits are of unknown type (81), anything else is
    an alphanumeric address (D0) packed in 7 bits, whose length counts useful semi-octets.
    """
    if re.fullmatch(r"\+?[0-9]+", address):
        digits = address.lstrip("+")
        if len(digits) > 20:
            raise ValueError(f"address {address!r} has more than 20 digits")
        if toa is None:
            toa = TOA_INTERNATIONAL if address.startswith("+") else TOA_UNKNOWN
        return bytes([len(digits), toa]) + semi_octets(digits)
    septets = gsm7_septets(address)
    if not septets or len(septets) > 11:
        raise ValueError(f"alphanumeric address {address!r} must have 1 to 11 septets")
    return bytes([(len(septets) * 7 + 3) // 4,
                  TOA_ALPHANUMERIC if toa is None else toa]) + pack_septets(septets)


def encode_sca(number):
    """The service-centre field in front of the TPDU; None or "" gives the single octet 00."""
    if not number:
        return b"\x00"
    if not re.fullmatch(r"\+?[0-9]{1,20}", number):
        raise ValueError(f"service-centre number {number!r} is not a number")
    digits = number.lstrip("+")
    value = semi_octets(digits)
    toa = TOA_INTERNATIONAL if number.startswith("+") else TOA_UNKNOWN
    return bytes([1 + len(value), toa]) + value


def encode_timestamp(moment):
    """TP-SCTS / TP-DT: seven semi-octet pairs; the zone in quarter hours, bit 3 the sign."""
    offset = moment.utcoffset() or datetime.timedelta(0)
    quarters = round(offset.total_seconds() / 900)
    zone = _bcd(abs(quarters)) | (0x08 if quarters < 0 else 0)
    fields = (moment.year % 100, moment.month, moment.day,
              moment.hour, moment.minute, moment.second)
    return bytes(_bcd(v) for v in fields) + bytes([zone])


def relative_validity(period):
    """TP-VP in relative format for a datetime.timedelta, rounded up to the next step."""
    minutes = -(-period.total_seconds() // 60)
    if minutes <= 0:
        raise ValueError("validity period must be positive")
    if minutes <= 12 * 60:
        return int(-(-minutes // 5)) - 1
    if minutes <= 24 * 60:
        return 143 + int(-(-(minutes - 720) // 30))
    days = -(-minutes // 1440)
    if days <= 30:
        return 166 + int(days)
    weeks = -(-days // 7)
    if weeks <= 63:
        return 192 + int(weeks)
    raise ValueError("validity period longer than 63 weeks")


def concat_ie(ref, total, seq, ref16=False):
    """The concatenation information element: IEI 00 (8-bit reference) or 08 (16-bit)."""
    if not 1 <= seq <= total <= 255:
        raise ValueError(f"part {seq} of {total} is out of range")
    if ref16:
        return bytes([0x08, 4, (ref >> 8) & 0xFF, ref & 0xFF, total, seq])
    return bytes([0x00, 3, ref & 0xFF, total, seq])


def resolve_encoding(content, encoding):
    if encoding not in ENCODINGS:
        raise ValueError(f"unknown encoding {encoding!r}")
    if isinstance(content, (bytes, bytearray)):
        if encoding not in ("auto", "8bit"):
            raise ValueError("binary content needs the 8bit encoding")
        return "8bit"
    if encoding == "auto":
        return "gsm7" if is_gsm7(content) else "ucs2"
    return encoding


def encode_user_data(content, encoding, udh=b""):
    """(TP-UDL, TP-UD) for content; udh holds the header's information elements.

    In 7 bits the text starts on the first septet boundary after the header (fill bits) and
    TP-UDL counts septets, header included; otherwise it counts octets.
    """
    header = bytes([len(udh)]) + udh if udh else b""
    if encoding == "gsm7":
        septets = gsm7_septets(content)
        fill = -len(header) * 8 % 7
        udl = (len(header) * 8 + fill) // 7 + len(septets)
        if udl > MAX_SEPTETS:
            raise ValueError(f"{udl} septets do not fit in one message")
        return udl, header + pack_septets(septets, fill)
    if encoding == "ucs2":
        data = content.encode("utf-16-be")
    elif encoding == "8bit":
        data = content.encode("utf-8") if isinstance(content, str) else bytes(content)
    else:
        raise ValueError(f"unknown encoding {encoding!r}")
    udl = len(header) + len(data)
    if udl > MAX_OCTETS:
        raise ValueError(f"{udl} octets do not fit in one message")
    return udl, header + data


def _hex(sca, tpdu):
    return (encode_sca(sca) + tpdu).hex().upper()


def deliver(sender, content, *, sca=DEFAULT_SCA, timestamp=DEFAULT_TIMESTAMP,
            encoding="auto", udh=b"", pid=0, dcs=None, sender_toa=None,
            more_messages=False, status_report=False, reply_path=False):
    """SMS-DELIVER: first octet, TP-OA, TP-PID, TP-DCS, TP-SCTS, TP-UDL, TP-UD."""
    encoding = resolve_encoding(content, encoding)
    udl, ud = encode_user_data(content, encoding, udh)
    first = (0x00 | (0 if more_messages else 0x04) | (0x20 if status_report else 0)
             | (0x40 if udh else 0) | (0x80 if reply_path else 0))
    tpdu = (bytes([first]) + encode_address(sender, sender_toa)
            + bytes([pid, DCS_FOR[encoding] if dcs is None else dcs])
            + encode_timestamp(timestamp) + bytes([udl]) + ud)
    return _hex(sca, tpdu)


def submit(recipient, content, *, sca=None, mr=0, validity=None, encoding="auto", udh=b"",
           pid=0, dcs=None, recipient_toa=None, reject_duplicates=False,
           status_report_request=False, reply_path=False):
    """SMS-SUBMIT as a phone stores it: first octet, TP-MR, TP-DA, TP-PID, TP-DCS, [TP-VP],
    TP-UDL, TP-UD. validity is a relative TP-VP octet, or None for no validity period."""
    encoding = resolve_encoding(content, encoding)
    udl, ud = encode_user_data(content, encoding, udh)
    first = (0x01 | (0x04 if reject_duplicates else 0) | (0x10 if validity is not None else 0)
             | (0x20 if status_report_request else 0) | (0x40 if udh else 0)
             | (0x80 if reply_path else 0))
    tpdu = (bytes([first, mr & 0xFF]) + encode_address(recipient, recipient_toa)
            + bytes([pid, DCS_FOR[encoding] if dcs is None else dcs])
            + (bytes([validity]) if validity is not None else b"")
            + bytes([udl]) + ud)
    return _hex(sca, tpdu)


def status_report(recipient, *, mr=0, status=0x00, sca=DEFAULT_SCA,
                  timestamp=DEFAULT_TIMESTAMP, discharge=None, recipient_toa=None,
                  more_messages=False):
    """SMS-STATUS-REPORT: first octet, TP-MR, TP-RA, TP-SCTS, TP-DT, TP-ST."""
    if discharge is None:
        discharge = timestamp + datetime.timedelta(seconds=4)
    first = 0x02 | (0 if more_messages else 0x04)
    tpdu = (bytes([first, mr & 0xFF]) + encode_address(recipient, recipient_toa)
            + encode_timestamp(timestamp) + encode_timestamp(discharge) + bytes([status]))
    return _hex(sca, tpdu)


def split_content(content, encoding, ref16=False):
    """Cut content into the pieces of a concatenated message (one piece if it fits whole).

    An escape pair of the 7-bit alphabet and a UTF-16 surrogate pair are never cut apart.
    """
    encoding = resolve_encoding(content, encoding)
    header = 7 if ref16 else 6   # UDHL octet plus the concatenation element
    if encoding == "8bit":
        data = content.encode("utf-8") if isinstance(content, str) else bytes(content)
        if len(data) <= MAX_OCTETS:
            return [data]
        room = MAX_OCTETS - header
        return [data[i:i + room] for i in range(0, len(data), room)]
    if encoding == "gsm7":
        def size(ch):
            return 2 if ch in GSM7_EXTENSION else 1
        whole, room = MAX_SEPTETS, MAX_SEPTETS - (header * 8 + 6) // 7
    else:
        def size(ch):
            return 2 if ord(ch) > 0xFFFF else 1
        whole, room = MAX_OCTETS // 2, (MAX_OCTETS - header) // 2
    if sum(size(ch) for ch in content) <= whole:
        return [content]
    pieces, current, used = [], [], 0
    for ch in content:
        if used + size(ch) > room:
            pieces.append("".join(current))
            current, used = [], 0
        current.append(ch)
        used += size(ch)
    pieces.append("".join(current))
    return pieces


def _parts(build, content, encoding, ref, ref16, **kwargs):
    encoding = resolve_encoding(content, encoding)
    pieces = split_content(content, encoding, ref16)
    if len(pieces) == 1:
        return [build(content, encoding=encoding, **kwargs)]
    if len(pieces) > 255:
        raise ValueError(f"{len(pieces)} parts are more than a concatenated message can have")
    return [build(piece, encoding=encoding, udh=concat_ie(ref, len(pieces), seq, ref16), **kwargs)
            for seq, piece in enumerate(pieces, 1)]


def deliver_parts(sender, content, *, ref=0, ref16=False, encoding="auto", **kwargs):
    """SMS-DELIVER PDUs for content: one, or the parts of a concatenated message."""
    return _parts(lambda c, **kw: deliver(sender, c, **kw), content, encoding, ref, ref16, **kwargs)


def submit_parts(recipient, content, *, ref=0, ref16=False, encoding="auto", **kwargs):
    """SMS-SUBMIT PDUs for content: one, or the parts of a concatenated message."""
    return _parts(lambda c, **kw: submit(recipient, c, **kw), content, encoding, ref, ref16,
                  **kwargs)


def tpdu_length(pdu):
    """Octets of the TPDU: the whole PDU without the service-centre field (the <length> that
    +CMGL and +CMGR report). Spaces in the hexadecimal text are ignored."""
    octets = len(pdu.replace(" ", "")) // 2
    if octets == 0:
        return 0
    return max(0, octets - 1 - int(pdu.replace(" ", "")[:2], 16))


# ---------------------------------------------------------------- store generator

_WORDS = ("meeting moved to friday call me back when you can the parcel is waiting at the "
          "office invoice paid thanks see you at seven your code is ready battery low "
          "dinner tonight running late").split()
_CYRILLIC = ("привет встреча перенесена на пятницу перезвони когда сможешь посылка ждёт в "
             "отделении счёт оплачен спасибо до вечера код готов").split()
_EMOJI = ("👍", "😀", "🎉", "☕", "🚗", "❤", "📦")
_SENDERS_ALPHA = ("Bank", "Taxi", "Delivery", "MegaShop", "Info", "ServiceSMS")
_EXTENSION_TEXT = "Price: 12€ [promo] {A|B} ~50% off ^_^"


def _number(rng):
    if rng.random() < 0.8:
        return "+79" + "".join(rng.choice("0123456789") for _ in range(9))
    return "8" + "".join(rng.choice("0123456789") for _ in range(10))


def _moment(rng):
    return DEFAULT_TIMESTAMP.replace(month=rng.randint(1, 12), day=rng.randint(1, 28),
                                     hour=rng.randint(0, 23), minute=rng.randint(0, 59),
                                     second=rng.randint(0, 59))


def _sentence(rng, words, count):
    return " ".join(rng.choice(words) for _ in range(count)).capitalize()


def _generated_message(rng, room):
    """(kind, [(stat, pdu), ...]) for one random message, using at most room store slots."""
    kinds = ["latin", "cyrillic", "emoji", "alpha", "report", "submit", "binary", "extension"]
    if room >= 2:
        kinds += ["concat7", "concat16"]
    kind = rng.choice(kinds)
    ts = _moment(rng)
    received = rng.choice((0, 1))
    if kind == "latin":
        return kind, [(received, deliver(_number(rng), _sentence(rng, _WORDS, rng.randint(2, 20)),
                                         timestamp=ts))]
    if kind == "cyrillic":
        return kind, [(received, deliver(_number(rng),
                                         _sentence(rng, _CYRILLIC, rng.randint(2, 9)),
                                         timestamp=ts))]
    if kind == "emoji":
        text = _sentence(rng, _WORDS, 3) + " " + "".join(rng.choices(_EMOJI, k=3))
        return kind, [(received, deliver(_number(rng), text, timestamp=ts))]
    if kind == "alpha":
        return kind, [(received, deliver(rng.choice(_SENDERS_ALPHA),
                                         _sentence(rng, _WORDS, rng.randint(3, 12)),
                                         timestamp=ts))]
    if kind == "extension":
        return kind, [(received, deliver(_number(rng), _EXTENSION_TEXT, timestamp=ts))]
    if kind == "binary":
        data = bytes(rng.randrange(256) for _ in range(rng.randint(1, 40)))
        return kind, [(received, deliver(_number(rng), data, timestamp=ts))]
    if kind == "report":
        return kind, [(received, status_report(_number(rng), mr=rng.randrange(256),
                                               status=rng.choice((0x00, 0x22, 0x41, 0x46)),
                                               timestamp=ts))]
    if kind == "submit":
        validity = rng.choice((None, 0xA7, 0xAA))
        return kind, [(rng.choice((2, 3)), submit(_number(rng),
                                                  _sentence(rng, _WORDS, rng.randint(2, 10)),
                                                  mr=rng.randrange(256), validity=validity))]
    sender = _number(rng)
    if kind == "concat7":
        text = _sentence(rng, _WORDS, 40)
        while len(gsm7_septets(text)) <= MAX_SEPTETS:
            text += " " + _sentence(rng, _WORDS, 10)
        parts = deliver_parts(sender, text, ref=rng.randrange(256), timestamp=ts)
    else:
        text = _sentence(rng, _CYRILLIC, 15)
        parts = deliver_parts(sender, text, ref=rng.randrange(65536), ref16=True, timestamp=ts)
    parts = parts[:room]
    return kind, [(received, pdu) for pdu in parts]


def generate_store(count, seed=0):
    """Lines of a store file with count messages of mixed kinds in ME and SM.

    The last third of the phone-memory messages have indexes above 999.
    """
    rng = random.Random(seed)
    entries = []   # (storage, kind, stat, pdu)
    while len(entries) < count:
        storage = rng.choice(("ME", "SM"))
        kind, pdus = _generated_message(rng, count - len(entries))
        entries += [(storage, kind, stat, pdu) for stat, pdu in pdus]
    me_total = sum(1 for e in entries if e[0] == "ME")
    high_from = me_total - me_total // 3
    lines = [f"# {count} messages generated by pdu_builder.py store --count {count} --seed {seed}",
             "# <storage> <index> <stat> <pdu>"]
    seen = {"ME": 0, "SM": 0}
    for storage, kind, stat, pdu in entries:
        seen[storage] += 1
        index = seen[storage]
        if storage == "ME" and seen[storage] > high_from:
            index = 1000 + seen[storage]
        lines.append(f"# {kind}")
        lines.append(f"{storage} {index} {stat} {pdu}")
    return lines


# ---------------------------------------------------------------- command line

def _moment_arg(text):
    moment = datetime.datetime.fromisoformat(text)
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=datetime.timezone.utc)
    return moment


def _sca_arg(text):
    return None if text.lower() in ("none", "00", "") else text


def main(argv=None):
    parser = argparse.ArgumentParser(description="Encode SMS PDUs for the simulated modem.")
    sub = parser.add_subparsers(dest="command", required=True)

    def common(p):
        p.add_argument("--sca", type=_sca_arg, default=DEFAULT_SCA,
                       help=f"service-centre number, or 'none' for the 00 field "
                            f"(default {DEFAULT_SCA})")

    def content(p):
        p.add_argument("--text", required=True, help="message text")
        p.add_argument("--encoding", choices=ENCODINGS, default="auto",
                       help="auto picks gsm7 when every character fits, else ucs2; 8bit sends "
                            "the text's UTF-8 bytes")
        p.add_argument("--ref", type=int, default=0, help="concatenation reference")
        p.add_argument("--ref16", action="store_true",
                       help="16-bit concatenation reference (IEI 08)")

    p = sub.add_parser("deliver", help="a received message (SMS-DELIVER)")
    p.add_argument("--from", dest="sender", required=True,
                   help="+digits, digits, or an alphanumeric name")
    p.add_argument("--time", type=_moment_arg, default=DEFAULT_TIMESTAMP,
                   help="service-centre time stamp, ISO 8601 (default %(default)s)")
    common(p)
    content(p)

    p = sub.add_parser("submit", help="a stored outgoing message (SMS-SUBMIT)")
    p.add_argument("--to", required=True)
    p.add_argument("--mr", type=int, default=0, help="message reference")
    p.add_argument("--validity", type=int, default=None,
                   help="relative validity period octet (e.g. 167 = 1 day); none by default")
    common(p)
    content(p)
    p.set_defaults(sca=None)

    p = sub.add_parser("report", help="a status report (SMS-STATUS-REPORT)")
    p.add_argument("--to", required=True, help="recipient of the reported message")
    p.add_argument("--mr", type=int, default=0, help="message reference")
    p.add_argument("--status", type=lambda s: int(s, 16), default=0, help="TP-ST in hex")
    p.add_argument("--time", type=_moment_arg, default=DEFAULT_TIMESTAMP)
    p.add_argument("--discharge", type=_moment_arg, default=None)
    common(p)

    p = sub.add_parser("store", help="a big store file of mixed messages")
    p.add_argument("--count", type=int, required=True)
    p.add_argument("--seed", type=int, default=0)

    args = parser.parse_args(argv)
    try:
        if args.command == "deliver":
            out = deliver_parts(args.sender, args.text, ref=args.ref, ref16=args.ref16,
                                encoding=args.encoding, sca=args.sca, timestamp=args.time)
        elif args.command == "submit":
            out = submit_parts(args.to, args.text, ref=args.ref, ref16=args.ref16,
                               encoding=args.encoding, sca=args.sca, mr=args.mr,
                               validity=args.validity)
        elif args.command == "report":
            out = [status_report(args.to, mr=args.mr, status=args.status, sca=args.sca,
                                 timestamp=args.time, discharge=args.discharge)]
        else:
            out = generate_store(args.count, args.seed)
    except ValueError as err:
        print(f"pdu_builder: {err}", file=sys.stderr)
        return 2
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
