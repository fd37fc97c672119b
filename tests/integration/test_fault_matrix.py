"""The fault matrix: `quorlin read --delete` against the simulated modem, one row per fault.

Each row names the fault, the step it hits (ReadAllMsg through `quorlin read`, DeleteMsg through
`--delete`), the status texts expected on standard error, which messages are shown and which
may be deleted. Whatever the row, it fails when a message is deleted that was not shown in full:
every deletion in the simulator's log is decoded and must be a line the front end printed.

Every run must end with `shown N, listed for deletion M` on standard error: N is the number of
lines printed, M is N less the messages a row leaves on the modem on purpose (`left`).

Rows are independent, each with its own simulator, and run side by side: the suite takes about as
long as its slowest row (a hundred deletions, each after the 500 ms pause before AT+CMGD).

    QUORLIN_CLI=build/linux/cli/quorlin python3 tests/integration/test_fault_matrix.py
    python3 tests/integration/test_fault_matrix.py --markdown   # the table for docs/
"""

import collections
import concurrent.futures
import dataclasses
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path
from typing import Optional

ROOT = Path(os.environ.get("QUORLIN_ROOT", Path(__file__).resolve().parents[2]))
CLI = os.environ.get("QUORLIN_CLI", str(ROOT / "build/linux/cli/quorlin"))
SIMULATOR = ROOT / "simulator/modem_sim.py"
sys.path.insert(0, str(ROOT / "simulator"))

import pdu_builder  # noqa: E402

PARALLEL_ROWS = 10
ROW_TIMEOUT = 150


# ---------------------------------------------------------------- stores

def _stored(*messages):
    """(storage, index, pdu) triples to store-file text, stat 1 (read)."""
    return "".join(f"{storage} {index} 1 {pdu}\n" for storage, index, pdu in messages)


def _user_data_length_at(pdu):
    """Where TP-UDL stands in the hexadecimal text of an SMS-DELIVER."""
    sca = int(pdu[:2], 16)
    oa = 2 * (sca + 1) + 2
    return oa + 4 + (int(pdu[oa:oa + 2], 16) + 1) // 2 * 2 + 4 + 14


def _claiming_udl(pdu, udl):
    """The PDU with a TP-UDL that its user data does not match."""
    at = _user_data_length_at(pdu)
    return f"{pdu[:at]}{udl:02X}{pdu[at + 2:]}"


# Phone memory 1, 2 and 1003, SIM 1 and 10: 7-bit, UCS2, a status report.
BASE = _stored(
    ("ME", 1, pdu_builder.deliver("+79161234567", "Phone memory, message one")),
    ("ME", 2, pdu_builder.deliver("+79031112233", "Телефон, сообщение два")),
    ("ME", 1003, pdu_builder.deliver("MegaBank", "Index above 999 in the phone")),
    ("SM", 1, pdu_builder.deliver("+79998887766", "SIM card, message one")),
    ("SM", 10, pdu_builder.status_report("+79161234567", mr=42)),
)

STORES = {
    "base": BASE,
    # Seven messages in the phone memory: each phone-book name of the --alpha row gets one.
    "seven": BASE + _stored(*[
        ("ME", index, pdu_builder.deliver("+79161234567", f"Phone memory, message {word}"))
        for index, word in ((3, "three"), (4, "four"), (5, "five"), (6, "six"))]),
    # ME 1 and 2 of one sender and one TPDU length: a PDU line taken for the other's is not
    # given away by its length.
    "twins": _stored(
        ("ME", 1, pdu_builder.deliver("+79161234567", "Twin message, the first one")),
        ("ME", 2, pdu_builder.deliver("+79161234567", "Twin message, the other one")),
        ("ME", 3, pdu_builder.deliver("+79031112233", "After the twins")),
        ("SM", 1, pdu_builder.deliver("+79998887766", "SIM card, message one")),
    ),
    # One message: every command's reply is short.
    "one": _stored(("ME", 1, pdu_builder.deliver("+79161234567", "One message only"))),
    # Four-digit indexes next to the three-digit index they end with.
    "high": _stored(
        ("ME", 3, pdu_builder.deliver("+79161234567", "Index three")),
        ("ME", 1003, pdu_builder.deliver("+79161234567", "Index one thousand and three")),
        ("SM", 500, pdu_builder.deliver("+79161234567", "Index five hundred")),
        ("SM", 2500, pdu_builder.deliver("+79161234567", "Index two thousand five hundred")),
    ),
    # More than one listing keeps: 104 messages over both memories.
    "many": "\n".join(pdu_builder.generate_store(104, seed=1)) + "\n",
    # For a phone whose two memories are one (--alias): listed twice, as ME and as SM.
    "aliased": _stored(*[
        ("ME", index, pdu_builder.deliver("+79161234567", f"One memory, message {word}"))
        for index, word in ((1, "one"), (2, "two"), (3, "three"))]),
    # What the decoder cannot show whole (ME), and texts with a NUL before a message that
    # must stay visible (SM).
    "undecodable": _stored(
        ("ME", 1, _claiming_udl(pdu_builder.deliver(
            "+79161234567", ("Claims 200 septets, holds 160. " * 6)[:160]), 200)),
        ("ME", 2, (lambda hello: hello[:16] + "44" + hello[18:])(   # TP-UDHI, no header
            pdu_builder.deliver("+79161234567", "Spurious header bit"))),
        ("ME", 3, pdu_builder.deliver("+79161234567", "Пр", encoding="ucs2")[:-10]
         + "05041F044004"),   # five octets of UCS2
        ("SM", 1, pdu_builder.deliver("+79031112233", "Before\x00after", encoding="ucs2")),
        ("SM", 2, pdu_builder.deliver("+79031112233", b"Data\x00more", encoding="8bit")),
        ("SM", 3, pdu_builder.deliver("+79998887766", "After the NUL texts")),
    ),
}
ARRIVING = pdu_builder.deliver("+79160000007", "Stored while the listing ran")


def parse_store(text):
    """[(storage, index, pdu)] in listing order: phone memory, then SIM, each by index."""
    messages = []
    for line in text.splitlines():
        if line.strip() and not line.startswith("#"):
            storage, index, _, pdu = line.split(None, 3)
            messages.append((storage, int(index), pdu))
    return sorted(messages, key=lambda m: (("ME", "SM").index(m[0]), m[1]))


def hangup_inside_second_message(store):
    """A byte budget for --hangup-after-bytes that ends the first listing in the middle of its
    second PDU line."""
    first, second = [m for m in parse_store(STORES[store]) if m[0] == "ME"][:2]
    whole = len(f"\r\n+CMGL: {first[1]},1,,{pdu_builder.tpdu_length(first[2])}\r\n{first[2]}\r\n")
    header = len(f"+CMGL: {second[1]},1,,{pdu_builder.tpdu_length(second[2])}\r\n")
    return whole + header + len(second[2]) // 2


def loss_from_first_pdu(store, into_pdu):
    """--lose-bytes N for the phone memory's listing: from the middle of its first PDU line (where
    the simulator starts the loss) to the middle of the second PDU line, or else to just after
    "+CMGL: " of the second header."""
    first, second = [m for m in parse_store(STORES[store]) if m[0] == "ME"][:2]
    rest_of_first = len(first[2]) - len(first[2]) // 2 + len("\r\n")
    if not into_pdu:
        return rest_of_first + len("+CMGL: ")
    header = len(f"+CMGL: {second[1]},1,,{pdu_builder.tpdu_length(second[2])}\r\n")
    return rest_of_first + header + len(second[2]) // 2


# ---------------------------------------------------------------- the table

@dataclasses.dataclass
class Row:
    """One fault. `shown` and `deleted` name messages: "all", "none", "ME", "SM", "ME 2",
    "first 100", lists of these joined by ", ", or "all but " and such a list."""
    name: str
    step: str                  # the operation the fault hits
    options: list
    read: str                  # expected "read:" status
    delete: str                # expected "delete:" status (a report ends with one space)
    shown: str
    deleted: str
    store: str = "base"
    echo: str = "on"
    left: int = 0              # shown messages deliberately not listed for deletion
    damaged: int = 0           # printed lines that are no whole message of the store
    arrivals: int = 0          # messages the modem stores during the run
    max_seconds: Optional[float] = None   # time bound of the whole run

    @property
    def exit_code(self):
        return 0 if self.read == "OK" and "Error" not in self.delete and not self.left else 1


ALL_DELETED = "1-1:OK 1-2:OK 1-1003:OK 2-1:OK 2-10:OK "
ME_DELETED = "1-1:OK 1-2:OK 1-1003:OK "
SM_DELETED = "2-1:OK 2-10:OK "
NAMES = ["OK", "ERROR", "BOOK", "TOKEN", "OK Taxi", "Smith, John", 'Bob "the" Builder']

ROWS = [
    Row("no fault, echo on", "both", [], "OK", ALL_DELETED, "all", "all"),
    Row("no fault, echo off", "both", [], "OK", ALL_DELETED, "all", "all", echo="off"),
    # Selecting the phone memory fails at listing and at deleting alike.
    Row('silence on AT+CPMS="ME"', "ReadAllMsg", ["--silent", 'AT+CPMS="ME"'],
        "OK", SM_DELETED, "SM", "SM"),
    Row('ERROR on AT+CPMS="ME"', "ReadAllMsg", ["--fail", 'AT+CPMS="ME"'],
        "OK", SM_DELETED, "SM", "SM"),
    Row('+CMS ERROR on AT+CPMS="ME"', "ReadAllMsg", ["--fail", 'AT+CPMS="ME":cms'],
        "OK", SM_DELETED, "SM", "SM", echo="off"),
    Row('silence on AT+CPMS="SM"', "ReadAllMsg", ["--silent", 'AT+CPMS="SM"'],
        "No answer", ME_DELETED, "ME", "ME"),
    Row('ERROR on AT+CPMS="SM"', "ReadAllMsg", ["--fail", 'AT+CPMS="SM"'],
        "Error", ME_DELETED, "ME", "ME", echo="off"),
    Row('+CMS ERROR on AT+CPMS="SM"', "ReadAllMsg", ["--fail", 'AT+CPMS="SM":cms=310'],
        "Error", ME_DELETED, "ME", "ME"),
    # The phone memory's listing: 30 silent polls, about 38 s.
    Row("silence on AT+CMGL=4 (phone memory)", "ReadAllMsg", ["--silent", "AT+CMGL=4:1"],
        "OK", SM_DELETED, "SM", "SM"),
    Row("ERROR on AT+CMGL=4 (phone memory)", "ReadAllMsg", ["--fail", "AT+CMGL=4:1"],
        "OK", SM_DELETED, "SM", "SM"),
    Row("+CMS ERROR on AT+CMGL=4 (both)", "ReadAllMsg", ["--fail", "AT+CMGL=4:cms"],
        "Error", "Empty", "none", "none", echo="off"),
    Row("hang-up inside the second PDU of the listing", "both",
        ["--hangup-after-bytes", str(hangup_inside_second_message("base"))],
        "No answer", "1 1:Error ", "ME 1", "none", left=1, damaged=1),
    # A modem that stops answering stops the run: the rest is not tried, not waited for.
    Row("silence on AT+CMGD=2", "DeleteMsg", ["--silent", "AT+CMGD=2"],
        "OK", "2 10:Error ", "all", "ME 1"),
    Row("silence on AT+CMGR=1003", "DeleteMsg", ["--silent", "AT+CMGR=1003"],
        "OK", "2 10:Error ", "all", "ME 1, ME 2", max_seconds=40),
    # A read back that finds no message at the index keeps it listed, and the run goes on.
    Row("+CMS ERROR on the read back of ME 2", "DeleteMsg",
        ["--fail", "AT+CMGR=2:cms=321"], "OK", "1 2:Error 1-1003:OK " + SM_DELETED, "all",
        "all but ME 2"),
    Row("ERROR on AT+CMGD=2", "DeleteMsg", ["--fail", "AT+CMGD=2"],
        "OK", "1 2:Error 1-1003:OK 2-1:OK 2-10:OK ", "all", "all but ME 2", echo="off"),
    Row("+CMS ERROR on AT+CMGD=1003", "DeleteMsg", ["--fail", "AT+CMGD=1003:cms"],
        "OK", "1 1003:Error 2-1:OK 2-10:OK ", "all", "all but ME 1003"),
    # The second selection of a memory is the one before its deletions.
    Row('silence on AT+CPMS="ME" before deleting', "DeleteMsg",
        ["--silent", 'AT+CPMS="ME":after=1'], "OK", "1 1003:Error " + SM_DELETED, "all", "SM"),
    Row('ERROR on AT+CPMS="ME" before deleting', "DeleteMsg",
        ["--fail", 'AT+CPMS="ME":after=1'], "OK", "1 1003:Error " + SM_DELETED, "all", "SM",
        echo="off"),
    Row('+CMS ERROR on AT+CPMS="SM" before deleting', "DeleteMsg",
        ["--fail", 'AT+CPMS="SM":cms:after=1'], "OK", "2 10:Error ", "all", "ME"),
] + [
    Row(f"every reply split after byte {at}", "both", ["--split-at", str(at)],
        "OK", "1-1:OK ", "all", "all", store="one", echo="off")
    for at in range(1, len("\r\nOK\r\n"))
] + [
    Row("replies in random pieces", "both", ["--split", "--seed", "3"],
        "OK", ALL_DELETED, "all", "all"),
    Row("unsolicited lines between reply lines", "both", ["--unsolicited", "--seed", "1"],
        "OK", ALL_DELETED, "all", "all"),
    Row("unsolicited lines, echo off", "both", ["--unsolicited", "--seed", "2"],
        "OK", ALL_DELETED, "all", "all", echo="off"),
    Row("104 messages: a listing keeps the first 100", "both", [],
        "OK", "<100 items>", "first 100", "first 100", store="many", echo="off"),
    Row("indexes above 999 beside the index they end with", "both", [],
        "OK", "1-3:OK 1-1003:OK 2-500:OK 2-2500:OK ", "all", "all", store="high"),
    Row("a message stored while the listing runs", "both",
        ["--store-during-listing", f"ME:7:{ARRIVING}"], "OK", ALL_DELETED, "all", "all",
        arrivals=1),
    # A full phone: each freed index holds a new message before the next command.
    Row("every freed index refilled at once", "DeleteMsg", ["--refill"],
        "OK", ALL_DELETED, "all", "all", arrivals=5),
    # ME and SM are one memory: the SIM's listing repeats the phone's, and each message is shown
    # and deleted once; a newcomer in a freed index stays.
    Row("ME and SM one memory, a message arriving in ME 1 once deleted", "DeleteMsg",
        ["--alias", "ME=SM", "--store-during-deletion", f"ME:1:{ARRIVING}"],
        "OK", "1-1:OK 1-2:OK 1-3:OK ", "all", "all", store="aliased", arrivals=1),
    Row("ME and SM one memory, every freed index refilled", "DeleteMsg",
        ["--alias", "SM=ME", "--refill"], "OK", "1-1:OK 1-2:OK 1-3:OK ", "all", "all",
        store="aliased", arrivals=3),
    # Shown with the reason they are not whole and kept; a NUL shows as U+FFFD.
    Row("7-bit UDL 200, spurious TP-UDHI, odd UCS2 length; NUL in UCS2 and 8-bit texts",
        "ReadAllMsg", [], "OK", "2-1:OK 2-2:OK 2-3:OK ", "all", "SM", store="undecodable",
        left=3),
    # Quirks of real modems in the listing's layout and line ends.
    Row("^RSSI line in the middle of every PDU line", "ReadAllMsg", ["--urc-inside-pdu"],
        "OK", ALL_DELETED, "all", "all"),
    Row("no space after +CMGL:", "ReadAllMsg", ["--header-no-space"],
        "OK", ALL_DELETED, "all", "all", echo="off"),
    Row("header glued to the PDU line before it", "ReadAllMsg", ["--glued-headers"],
        "OK", ALL_DELETED, "all", "all"),
    Row("lines ended by CR alone", "both", ["--line-end", "cr"],
        "OK", ALL_DELETED, "all", "all", echo="off"),
    Row("lines ended by LF alone", "both", ["--line-end", "lf"],
        "OK", ALL_DELETED, "all", "all"),
    Row("LF alone, replies in random pieces", "both",
        ["--line-end", "lf", "--split", "--seed", "4"], "OK", ALL_DELETED, "all", "all"),
    Row("phone-book names: OK, ERROR, commas, quotes", "ReadAllMsg",
        [o for name in NAMES for o in ("--alpha", name)], "OK",
        "1-1:OK 1-2:OK 1-3:OK 1-4:OK 1-5:OK 1-6:OK 1-1003:OK " + SM_DELETED, "all", "all",
        store="seven", echo="off"),
    # A late reply must not be taken for the answer to the command after it.
    Row('AT+CPMS="SM" answered 3 s late', "both", ["--late", 'AT+CPMS="SM":3000:1'],
        "No answer", ME_DELETED, "ME", "ME"),
    # Later than the wait for a late reply: it comes as the answer to the next selection, of ME,
    # and AT+CPMS? names SM, so ME is not selected for its deletions either.
    Row('AT+CPMS="SM" answered 5 s late', "both", ["--late", 'AT+CPMS="SM":5000:1'],
        "No answer", "1 1003:Error ", "ME", "none"),
    Row('AT+CPMS="SM" refused after a late AT+CPMS="ME"', "ReadAllMsg",
        ["--late", 'AT+CPMS="ME":3000:1', "--fail", 'AT+CPMS="SM":1'],
        "Error", "Empty", "none", "none", echo="off"),
    Row('AT+CPMS="SM" refused after a late AT+CPMS="ME", deleting', "DeleteMsg",
        ["--late", 'AT+CPMS="ME":3000:1:after=1', "--fail", 'AT+CPMS="SM":after=1'],
        "OK", "2 10:Error ", "all", "none"),
    # NMEA sentences on the line every 100 ms.
    Row("chattering line, no command answered", "both", ["--chatter", "100", "--silent", "AT"],
        "No answer", "Empty", "none", "none", max_seconds=60),
    Row("chattering line", "both", ["--chatter", "100"], "OK", ALL_DELETED, "all", "all",
        echo="off"),
    # Bytes lost on the way (an overflowing input queue): two lines end up joined.
    Row("bytes lost from the middle of one PDU line to the middle of the next", "ReadAllMsg",
        ["--lose-bytes", str(loss_from_first_pdu("base", into_pdu=True))],
        "OK", "1-1003:OK " + SM_DELETED, "ME 1003, SM", "ME 1003, SM", left=1, damaged=1),
    Row("bytes lost up to the second index: its PDU line comes under the first header",
        "ReadAllMsg",
        ["--lose-bytes", str(loss_from_first_pdu("twins", into_pdu=False))],
        "OK", "1-3:OK 2-1:OK ", "ME 3, SM", "ME 3, SM", store="twins", left=1, damaged=1,
        echo="off"),
    # Twins: the joined line is as long as ME 1's header says and decodes as ME 2's text, but the
    # read back of ME 1 finds another PDU.
    Row("bytes lost from the middle of one twin's PDU line to the middle of the other's: ME 1's "
        "header on ME 2's text", "DeleteMsg",
        ["--lose-bytes", str(loss_from_first_pdu("twins", into_pdu=True))],
        "OK", "1 1:Error 1-3:OK 2-1:OK ", "ME 2, ME 3, SM", "ME 3, SM", store="twins"),
]


def named_messages(wanted, messages):
    """The (storage, index) pairs a `shown` or `deleted` text names, in listing order."""
    keys = [(storage, index) for storage, index, _ in messages]
    if wanted == "all":
        return keys
    if wanted == "none":
        return []
    if wanted.startswith("first "):
        return keys[:int(wanted.split()[1])]
    invert = wanted.startswith("all but ")
    named = set()
    for item in wanted.removeprefix("all but ").split(", "):
        storage, _, index = item.partition(" ")
        named |= {k for k in keys if k[0] == storage and (not index or k[1] == int(index))}
    return [k for k in keys if (k in named) != invert]


# ---------------------------------------------------------------- one run

@dataclasses.dataclass
class Outcome:
    statuses: dict
    printed: list
    exit_code: int
    deletions: list            # (storage, index, pdu) from the simulator's log
    stored_during: list
    seconds: float
    error: Optional[str] = None
    tally: Optional[tuple] = None   # (shown, listed for deletion) from standard error


def run_row(row):
    with tempfile.TemporaryDirectory(prefix="quorlin-matrix-") as work:
        store_path = os.path.join(work, "store.txt")
        log_path = os.path.join(work, "log.jsonl")
        Path(store_path).write_text(STORES[row.store], encoding="utf-8")
        sim = subprocess.Popen(
            [sys.executable, str(SIMULATOR), "--store", store_path, "--log", log_path,
             "--echo", row.echo, *row.options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            tty = sim.stdout.readline().strip()
            if not tty:
                return Outcome({}, [], -1, [], [], 0, "simulator: " + sim.stderr.read())
            started = time.monotonic()
            limit = row.max_seconds or ROW_TIMEOUT
            try:
                cli = subprocess.run([CLI, "read", "--device", tty, "--delete"],
                                     capture_output=True, timeout=limit)
            except subprocess.TimeoutExpired:
                return Outcome({}, [], -1, [], [], limit, f"quorlin read ran past {limit} s")
            seconds = time.monotonic() - started
        finally:
            if sim.poll() is None:
                sim.terminate()
            sim.wait(timeout=10)
            sim.stdout.close()
            sim.stderr.close()
        events = [json.loads(line) for line in Path(log_path).read_text().splitlines()]
        statuses, tally = {}, None
        for line in cli.stderr.decode("utf-8", "replace").split("\n"):
            line = line.split("\r")[-1]
            match = re.fullmatch(r"(open|read|delete|close): (.*)", line)
            if match:
                statuses[match.group(1)] = match.group(2)
            match = re.fullmatch(r"shown (\d+), listed for deletion (\d+)", line)
            if match:
                tally = (int(match.group(1)), int(match.group(2)))
        # quorlin decode prints a line break inside a text as a space; do the same here so the
        # two outputs compare (a text with a line feed would split; the stores hold none).
        printed = cli.stdout.decode("utf-8", "replace").replace("\r", " ").split("\n")
        return Outcome(
            statuses, [line for line in printed if line], cli.returncode,
            [(e["storage"], e["index"], e["pdu"]) for e in events if e["event"] == "delete"],
            [(e["storage"], e["index"], e["pdu"]) for e in events if e["event"] == "stored"],
            seconds,
            tally=tally)


def decoded_lines(pdus):
    out = subprocess.run([CLI, "decode", *pdus], capture_output=True, check=True)
    lines = out.stdout.decode("utf-8").split("\n")[:-1]
    assert len(lines) == len(pdus), "quorlin decode must print one line per PDU"
    return lines


# ---------------------------------------------------------------- the suite

class FaultMatrix(unittest.TestCase):
    outcomes = {}
    decoded = {}

    @classmethod
    def setUpClass(cls):
        if not os.access(CLI, os.X_OK):
            raise unittest.SkipTest(f"no quorlin binary at {CLI} (set QUORLIN_CLI)")
        for name, text in STORES.items():
            messages = parse_store(text)
            cls.decoded[name] = dict(zip([(s, i) for s, i, _ in messages],
                                         decoded_lines([p for _, _, p in messages])))
        cls.decoded_arriving = decoded_lines([ARRIVING])[0]
        with concurrent.futures.ThreadPoolExecutor(PARALLEL_ROWS) as pool:
            # The slow rows first (a hundred deletions, silences, late replies), so none waits
            # for a worker.
            slow = ("--silent", "--late", "--chatter")
            slowest_first = sorted(ROWS, key=lambda r: (
                r.store != "many", not any(o in r.options for o in slow)))
            futures = {row.name: pool.submit(run_row, row) for row in slowest_first}
            cls.outcomes = {name: future.result() for name, future in futures.items()}
        for row in ROWS:
            print(f"{cls.outcomes[row.name].seconds:6.1f} s  {row.name}", file=sys.stderr)

    def test_rows(self):
        for row in ROWS:
            with self.subTest(row.name):
                self.check_row(row, self.outcomes[row.name])

    def check_row(self, row, outcome):
        self.assertIsNone(outcome.error)
        messages = parse_store(STORES[row.store])
        decoded = self.decoded[row.store]
        self.assertEqual(len(set(decoded.values())), len(decoded), "store lines are not distinct")

        # What was shown: every printed line is a whole message of the store, but for the
        # damaged ones a row expects.
        shown = collections.Counter(outcome.printed)
        if outcome.printed == ["Empty"]:
            shown = collections.Counter()
        damaged = [line for line in shown if line not in decoded.values()]
        self.assertEqual(len(damaged), row.damaged,
                         f"printed lines that are no whole message: {damaged}")
        shown_keys = [key for key, line in decoded.items() if line in shown]
        self.assertEqual(shown_keys, named_messages(row.shown, messages))
        self.assertNotIn(self.decoded_arriving, shown, "the message stored meanwhile was shown")

        # What was deleted: only messages shown in full, and exactly those the row allows.
        for storage, index, pdu in outcome.deletions:
            self.assertIn(decoded_lines([pdu])[0], shown,
                          f"deleted {storage} {index}, which was not shown in full")
        self.assertEqual([(s, i) for s, i, _ in outcome.deletions],
                         named_messages(row.deleted, messages))
        self.assertEqual(len(outcome.stored_during), row.arrivals)
        self.assertFalse(set(outcome.stored_during) & set(outcome.deletions),
                         "a message stored during the run was deleted")

        self.assertEqual(outcome.statuses.get("open"), "OK")
        self.assertEqual(outcome.statuses.get("read"), row.read)
        if row.delete == "<100 items>":
            items = re.findall(r"([12])-(\d+):OK ", outcome.statuses.get("delete", ""))
            self.assertEqual(len(items), 100)
            self.assertEqual("".join(f"{s}-{i}:OK " for s, i in items),
                             outcome.statuses.get("delete"))
        else:
            self.assertEqual(outcome.statuses.get("delete"), row.delete)
        self.assertEqual(outcome.statuses.get("close"), "OK")
        printed = sum(shown.values())
        self.assertEqual(outcome.tally, (printed, printed - row.left),
                         "(shown, listed for deletion)")
        self.assertEqual(outcome.exit_code, row.exit_code)
        if row.max_seconds:
            self.assertLess(outcome.seconds, row.max_seconds)


def markdown():
    """The table for docs/fault-matrix.md."""
    lines = ["| Fault | Step hit | Simulator options | Echo | `read:` | `delete:` | Shown "
             "| May be deleted | Exit |",
             "|---|---|---|---|---|---|---|---|---|"]
    for row in ROWS:
        # Quoted when they hold a space, as a shell would need them (the --alpha names).
        options = " ".join(shlex.quote(o) if " " in o else o if len(o) < 40 else o[:12] + "…"
                           for o in row.options)
        options = f"`{options}`".replace("|", "\\|") if options else "–"
        store = "" if row.store == "base" else f" (store `{row.store}`)"
        bound = f", under {row.max_seconds:g} s" if row.max_seconds else ""
        delete = "100 items `s-i:OK`" if row.delete == "<100 items>" else f"`{row.delete.rstrip()}`"
        exit_code = f"{row.exit_code}" + (f" ({row.left} left)" if row.left else "")
        lines.append(f"| {row.name}{store}{bound} | {row.step} | {options} | {row.echo} "
                     f"| {row.read} | {delete} | {row.shown} | {row.deleted} | {exit_code} |")
    return "\n".join(lines)


if __name__ == "__main__":
    if sys.argv[1:] == ["--markdown"]:
        print(markdown())
    else:
        unittest.main()
