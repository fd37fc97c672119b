#!/usr/bin/env python3
"""A simulated GSM phone on a pseudo-terminal: answers AT commands and keeps an SMS store.

    python3 simulator/modem_sim.py --store simulator/samples/demo-store.txt --link /tmp/modem

The first line on standard output is the path of the terminal to open. The simulator runs
until SIGTERM or SIGINT. simulator/README.md describes the store file and every option.
"""

import argparse
import dataclasses
import datetime
import fcntl
import json
import os
import random
import re
import select
import signal
import struct
import sys
import termios
import time
from typing import Callable, Optional

from pdu_builder import deliver, deliver_parts, tpdu_length

STORAGES = ("ME", "SM", "SR")
DEFAULT_CAPACITY = {"ME": 255, "SM": 50, "SR": 20}
STAT_UNREAD, STAT_READ, STAT_ALL = 0, 1, 4

# Pieces of a --split reply follow each other within this gap, well below the 257 ms a client's
# read waits for input, so that a reply stays one run of input.
SPLIT_MAX_GAP = 0.050
SPLIT_MAX_PIECE = 48
# --split-at pauses this long at its one cut: longer than the 257 ms a client's read waits for
# input, so the client meets a read that brings nothing in the middle of the reply.
SPLIT_AT_GAP = 0.300
# Pacing writes this many bytes at a time, each when its last bit would have left the wire.
PACE_CHUNK = 32
UNSOLICITED_RATE = 0.25
UNSOLICITED_LINES = ('+CMTI: "SM",3', "^RSSI:5", "+CREG: 1", "^RSSI:17")
LINE_ENDS = {"crlf": b"\r\n", "cr": b"\r", "lf": b"\n"}
# --urc-inside-pdu puts this between the two halves of every PDU line, as some Huawei modems do.
URC_INSIDE_PDU = "^RSSI:19"
CHATTER_LINE = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"
# Chatter is left out while the terminal holds this much that nobody read: a pty master write
# blocks once the slave's buffers are full, and the modem would stop answering.
CHATTER_BACKLOG = 4096
# After a hang-up the simulator waits this long at most for the client to read what was
# already sent: closing the master discards whatever the slave side still holds.
HANGUP_DRAIN_TIMEOUT = 30.0

# --replay: a line of quorlin's trace, "<ms> ms <direction> <escaped text>", and its escapes.
TRACE_LINE = re.compile(r"(?:^| )(\d+) ms (>>|<<|==)(?: (.*))?$")
TRACE_ESCAPE = re.compile(r"\\\\|\\r|\\n|\^Z|\^\[")
TRACE_UNESCAPED = {"\\\\": "\\", "\\r": "\r", "\\n": "\n", "^Z": "\x1a", "^[": "\x1b"}
# A trace may hold a long time-out; replayed, no chunk waits longer than this after the one before.
REPLAY_MAX_DELAY = 10.0
# Options that still mean something when a trace is replayed.
REPLAY_OPTIONS = ("replay", "link", "log")

# --refill stores messages from this sender, each text naming its place and number.
REFILL_SENDER = "+79160000099"
# --arrive-every sends message N from this number plus N, each text naming its number.
ARRIVAL_SENDER_BASE = 79161000000
ARRIVAL_MEMORIES = ("SM", "ME")
# TP-MTI of an SMS-STATUS-REPORT: announced with +CDSI rather than +CMTI.
MTI_STATUS_REPORT = 2

CMS_INVALID_INDEX = 321
CMS_NOT_ALLOWED = 302
CMS_INVALID_PDU = 304

# PDU entry after AT+CMGS ends with Ctrl-Z (send) or ESC (cancel).
CTRL_Z, ESC = 0x1A, 0x1B
# Replayed, what the client writes is cut as its commands in a trace end: a command line at CR, a
# PDU at Ctrl-Z, a cancel at ESC.
REPLAY_COMMAND_ENDS = (13, CTRL_Z, ESC)
PROMPT_STYLES = ("space", "nospace", "unsolicited", "blank")
PROMPT_URC = "+CREG: 1"

IDENTITY = {
    "+CGMI": "QSIM",
    "+CGMM": "QSIM-900 simulated GSM modem",
    "+CGMR": "1.0.0",
    "+CGSN": "356938035643809",
}
SERVICE_CENTRE = '"+79168999100",145'
CHARSETS = ("IRA", "GSM", "UCS2")


class StoreError(Exception):
    pass


class Shutdown(Exception):
    pass


class HangUp(Exception):
    pass


class Unplugged(Exception):
    """A --hangup-at time came: the terminal goes away for a while and comes back."""


class CommandError(Exception):
    """Ends a command with ERROR, or with +CMS ERROR: <cms> when cms is given."""

    def __init__(self, cms=None):
        super().__init__(cms)
        self.cms = cms


@dataclasses.dataclass
class Message:
    storage: str
    index: int
    stat: int
    pdu: str


def parse_message(storage, index, stat, pdu, where):
    storage = storage.upper()
    if storage not in STORAGES:
        raise StoreError(f"{where}: storage {storage!r} is not ME, SM or SR")
    if not index.isdigit() or int(index) > 65535:
        raise StoreError(f"{where}: index {index!r} is not a number from 0 to 65535")
    if not stat.isdigit() or int(stat) > 3:
        raise StoreError(f"{where}: stat {stat!r} is not 0, 1, 2 or 3")
    digits = pdu.replace(" ", "")
    if not digits or len(digits) % 2 or not re.fullmatch(r"[0-9A-Fa-f]+", digits):
        raise StoreError(f"{where}: the PDU is not an even number of hexadecimal digits")
    return Message(storage, int(index), int(stat), pdu)


class MessageStore:
    """The messages of both memories, keyed by (memory, index). With an alias two storage names
    are one memory: a message keeps the name it was stored under, and either name reaches it."""

    def __init__(self, messages=(), aliases=None, capacity=None):
        self.messages = {}
        self.aliases = aliases or {}
        self.capacity = {**DEFAULT_CAPACITY, **(capacity or {})}
        for msg in messages:
            self.add(msg)

    def memory(self, storage):
        return self.aliases.get(storage, storage)

    @classmethod
    def load(cls, path, aliases=None, capacity=None):
        """Read a store file: one message a line, `<storage> <index> <stat> <pdu>`."""
        store = cls(aliases=aliases, capacity=capacity)
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                fields = line.split(None, 3)
                where = f"{path}:{number}"
                if len(fields) != 4:
                    raise StoreError(f"{where}: expected <storage> <index> <stat> <pdu>")
                msg = parse_message(*fields, where)
                if store.get(msg.storage, msg.index):
                    raise StoreError(f"{where}: {msg.storage} index {msg.index} appears twice")
                store.add(msg)
        return store

    def save(self, path):
        lines = ["# Messages left in the simulated modem: <storage> <index> <stat> <pdu>"]
        lines += [f"{m.storage} {m.index} {m.stat} {m.pdu}" for m in self.in_order()]
        temporary = f"{path}.tmp{os.getpid()}"
        with open(temporary, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(temporary, path)

    def add(self, msg):
        self.messages[(self.memory(msg.storage), msg.index)] = msg

    def get(self, storage, index):
        return self.messages.get((self.memory(storage), index))

    def remove(self, storage, index):
        return self.messages.pop((self.memory(storage), index), None)

    def in_order(self, storage=None):
        wanted = storage and self.memory(storage)
        return [self.messages[key] for key in sorted(self.messages, key=lambda k: (
            STORAGES.index(k[0]), k[1])) if wanted in (None, key[0])]

    def used(self, storage):
        return len(self.in_order(storage))

    def total(self, storage):
        indexes = [m.index for m in self.in_order(storage)]
        return max([self.capacity[self.memory(storage)]] + indexes)

    def full(self, storage):
        return self.used(storage) >= self.capacity[self.memory(storage)]


class EventLog:
    """JSON lines with a CLOCK_MONOTONIC time stamp (comparable with time.monotonic())."""

    def __init__(self, path):
        self.file = open(path, "w", encoding="utf-8") if path else None

    def write(self, event, **fields):
        if self.file:
            record = {"t": round(time.monotonic(), 6), "event": event, **fields}
            self.file.write(json.dumps(record, ensure_ascii=False) + "\n")
            self.file.flush()


class SerialLine:
    """The modem's transmit side: paced like a UART, optionally cut into random pieces.

    A budget, once set, ends the transmission with HangUp when more bytes than it allows
    are to be written; the bytes up to the budget still go out.
    """

    def __init__(self, fd, baud=0, split=False, rng=None, split_at=0):
        self.fd = fd
        self.baud = baud
        self.split = split
        self.rng = rng or random.Random(0)
        self.line_free_at = 0.0
        self.budget = None
        self.split_at = split_at
        self.reply_bytes = 0

    def start_reply(self):
        """A command arrived: what follows is its output, cut once by --split-at."""
        self.reply_bytes = 0

    def write(self, data):
        cut = False
        if self.budget is not None:
            cut = len(data) > self.budget
            data = data[:self.budget]
            self.budget -= len(data)
        at = self.split_at - self.reply_bytes
        self.reply_bytes += len(data)
        if 0 < at < len(data) or (at == 0 and self.split_at and data):
            parts = [data[:at], data[at:]]   # the cut may fall between two writes
        else:
            parts = [data]
        for number, part in enumerate(parts):
            if number:
                time.sleep(SPLIT_AT_GAP)
            self._send(part)
        if cut:
            raise HangUp()

    def _send(self, data):
        pieces = self._pieces(data) if self.split else [data]
        for number, piece in enumerate(pieces):
            if number:
                time.sleep(self.rng.uniform(0, SPLIT_MAX_GAP))
            self._paced(piece)

    def _pieces(self, data):
        pieces = []
        while data:
            size = self.rng.randint(1, SPLIT_MAX_PIECE)
            pieces.append(data[:size])
            data = data[size:]
        return pieces

    def _paced(self, data):
        if not self.baud:
            self._write_all(data)
            return
        for start in range(0, len(data), PACE_CHUNK):
            chunk = data[start:start + PACE_CHUNK]
            begin = max(time.monotonic(), self.line_free_at)
            self.line_free_at = begin + len(chunk) * 10 / self.baud
            delay = self.line_free_at - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            self._write_all(chunk)

    def _write_all(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.fd, view):]


@dataclasses.dataclass
class Segment:
    """One line of a reply. kind: info, header, pdu, final, prompt, or event (made when
    reached).

    `lead` puts a line end before the line too (a reply's first line, the final result);
    `end` is False for a PDU line glued to the next header."""
    kind: str
    text: str = ""
    lead: bool = False
    end: bool = True
    make: Optional[Callable[[], str]] = None


def info_reply(*lines):
    segments = [Segment("info", line, lead=i == 0) for i, line in enumerate(lines)]
    return segments + [Segment("final", "OK", lead=True)]


def error_reply(cms=None):
    return [Segment("final", "ERROR" if cms is None else f"+CMS ERROR: {cms}", lead=True)]


def command_matches(line, command):
    """True when line is command, or continues after it with other than a letter or digit:
    AT+CMGD=2 matches AT+CMGD=2 and AT+CMGD=2,0 but not AT+CMGD=21."""
    line, command = line.strip().upper(), command.strip().upper()
    if not line.startswith(command):
        return False
    rest = line[len(command):]
    return not rest or not rest[0].isalnum()


@dataclasses.dataclass
class Failure:
    command: str
    cms: Optional[int] = None        # None answers ERROR
    remaining: Optional[int] = None  # None fails every time
    silent: bool = False             # no answer at all instead of an error
    skip: int = 0                    # matching commands still answered normally first
    late: float = 0                  # seconds until a normal answer, busy meanwhile


def take_fault(faults):
    """The first of these faults (all matching one command or part) that takes it, if any;
    every one of them counts it."""
    chosen = None
    for fault in faults:
        if fault.skip:
            fault.skip -= 1
        elif fault.remaining != 0 and chosen is None:
            chosen = fault
            if fault.remaining is not None:
                fault.remaining -= 1
    return chosen


def take_counts(parts):
    """Pops the trailing [:COUNT][:after=K] of a fault option: (COUNT or None, K)."""
    skip = 0
    if len(parts) > 1 and re.fullmatch(r"after=\d+", parts[-1].strip().lower()):
        skip = int(parts.pop().split("=")[1])
    remaining = int(parts.pop()) if len(parts) > 1 and parts[-1].isdigit() else None
    return remaining, skip


def parse_silence(option):
    """CMD[:COUNT][:after=K]"""
    parts = option.split(":")
    remaining, skip = take_counts(parts)
    return Failure(":".join(parts), remaining=remaining, silent=True, skip=skip)


def parse_failure(option):
    """CMD[:error|:cms|:cms=N][:COUNT][:after=K]"""
    parts = option.split(":")
    remaining, skip = take_counts(parts)
    cms = None
    if len(parts) > 1:
        kind = re.fullmatch(r"(error)|cms(?:=(\d+))?", parts[-1].strip().lower())
        if kind:
            parts.pop()
            if not kind.group(1):
                cms = int(kind.group(2) or CMS_INVALID_INDEX)
    command = ":".join(parts)
    if not command.upper().startswith("AT"):
        raise ValueError(f"--fail {option!r}: the command must start with AT")
    return Failure(command, cms, remaining, skip=skip)


def parse_late(option):
    """CMD:MS[:COUNT][:after=K]"""
    match = re.fullmatch(r"(AT.*?):(\d+)(?::(\d+))?(?::after=(\d+))?", option, re.IGNORECASE)
    if not match:
        raise ValueError(f"--late {option!r}: expected CMD:MS[:COUNT][:after=K], CMD with AT")
    command, ms, count, skip = match.groups()
    return Failure(command, remaining=None if count is None else int(count),
                   skip=int(skip or 0), late=int(ms) / 1000)


def parse_send_fault(option, name, valued):
    """N[:COUNT][:after=K], or [COUNT][:after=K] when the option takes no value: (N or None,
    COUNT, K). A fault on sent parts takes one part unless COUNT says more."""
    fields = [f for f in option.split(":") if f]
    skip = 0
    if fields and re.fullmatch(r"after=\d+", fields[-1].lower()):
        skip = int(fields.pop().split("=")[1])
    if not all(f.isdigit() for f in fields) or not valued <= len(fields) <= valued + 1:
        grammar = "N[:COUNT][:after=K]" if valued else "[COUNT][:after=K]"
        raise ValueError(f"{name} {option!r}: expected {grammar}")
    value = int(fields.pop(0)) if valued else None
    return value, int(fields[0]) if fields else 1, skip


def parse_arrival(option, name):
    """SM:<index>:<pdu> for the option `name`; the new message is unread."""
    fields = option.split(":", 2)
    if len(fields) != 3:
        raise ValueError(f"{name} {option!r}: expected STORAGE:INDEX:PDU")
    try:
        return parse_message(fields[0], fields[1], "0", fields[2], name)
    except StoreError as err:
        raise ValueError(str(err)) from err


@dataclasses.dataclass
class Arrival:
    """A message the network delivers at a time: stored in the first free index of its
    storage (None: the --arrival-memory, or SR for a status report)."""
    due: float                      # seconds after start-up
    storage: Optional[str]
    pdu: str


def is_status_report(pdu):
    digits = pdu.replace(" ", "")
    first = 2 + 2 * int(digits[:2], 16)
    return len(digits) > first + 1 and int(digits[first:first + 2], 16) & 3 == MTI_STATUS_REPORT


def parse_arrival_file(path):
    """Lines `<seconds> [<storage>] <pdu>`, # comments and blank lines ignored."""
    arrivals = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            where = f"{path}:{number}"
            fields = line.split(None, 2)
            try:
                due = float(fields[0])
            except ValueError:
                due = -1
            if len(fields) < 2 or not 0 <= due < float("inf"):
                raise StoreError(f"{where}: expected <seconds> [<storage>] <pdu>")
            storage = None
            if fields[1].upper() in STORAGES and len(fields) == 3:
                storage, pdu = fields[1].upper(), fields[2]
            else:
                pdu = line.split(None, 1)[1]
            msg = parse_message(storage or "SM", "0", "0", pdu, where)
            arrivals.append(Arrival(due, storage, msg.pdu))
    return arrivals


def arrival_text(number, parts):
    """A text that is exactly `parts` messages long, naming its number."""
    text = f"Arrival {number} from +{ARRIVAL_SENDER_BASE + number}"
    if parts > 1:
        filler = f" part of a long message {number}."
        while len(text) < 153 * (parts - 1) + 40:
            text += filler
        text = text[:153 * (parts - 1) + 40]
    return text


def parse_arrive_every(option):
    """SECONDS:COUNT[:parts=N]: COUNT messages, one every SECONDS, each of N parts."""
    match = re.fullmatch(r"(\d+(?:\.\d*)?|\.\d+):(\d+)(?::parts=(\d+))?", option.strip())
    if not match or float(match.group(1)) <= 0:
        raise ValueError(f"--arrive-every {option!r}: expected SECONDS:COUNT[:parts=N], "
                         f"SECONDS above 0")
    every, count, parts = float(match.group(1)), int(match.group(2)), int(match.group(3) or 1)
    if not 1 <= parts <= 255:
        raise ValueError(f"--arrive-every {option!r}: parts from 1 to 255")
    arrivals = []
    # Stamped when they arrive, as the network does: a reader's release of incomplete messages
    # by age must see them as new.
    start = datetime.datetime.now(datetime.timezone.utc).astimezone().replace(microsecond=0)
    for number in range(1, count + 1):
        sender = f"+{ARRIVAL_SENDER_BASE + number}"
        stamp = start + datetime.timedelta(seconds=every * number)
        pdus = deliver_parts(sender, arrival_text(number, parts), ref=number % 256,
                             timestamp=stamp)
        arrivals += [Arrival(every * number, None, pdu) for pdu in pdus]
    return arrivals


def parse_seconds_list(texts, name):
    """[5.0, 12.5] from ["5", "12.5"] or ["5,12.5"]."""
    times = []
    for text in texts:
        for field in text.split(","):
            try:
                seconds = float(field)
            except ValueError:
                seconds = -1
            if not 0 <= seconds < float("inf"):
                raise ValueError(f"{name} {text!r}: expected seconds, or a list of them "
                                 f"separated by commas")
            times.append(seconds)
    return sorted(times)


def parse_alias(option):
    """ME=SM: {"ME": "SM"}, the first name reaching the second's memory; None: {}."""
    if option is None:
        return {}
    names = [n.strip().upper() for n in option.split("=")]
    if len(names) != 2 or names[0] == names[1] or any(n not in STORAGES for n in names):
        raise ValueError(f"--alias {option!r}: expected ME=SM or SM=ME")
    return {names[0]: names[1]}


class Modem:
    """The command interpreter: one received line in, the reply written to the line."""

    def __init__(self, store, line, options, log):
        self.store = store
        self.line = line
        self.log = log
        self.options = options
        self.save_path = options.save_store
        self.initial_echo = options.echo == "on"
        self.latency = options.latency / 1000
        self.unsolicited = options.unsolicited
        # Silences first: a command both silenced and failed gets no answer.
        self.faults = ([parse_silence(s) for s in options.silent]
                       + [parse_late(s) for s in options.late]
                       + [parse_failure(s) for s in options.fail])
        self.eol = LINE_ENDS[options.line_end]
        self.urc_inside_pdu = options.urc_inside_pdu
        self.header_no_space = options.header_no_space
        self.glued_headers = options.glued_headers
        self.alpha = options.alpha
        self.busy = None            # (due time, what to do then) of a late answer
        self.chatter = options.chatter / 1000
        self.next_chatter = time.monotonic() + self.chatter if self.chatter else None
        self.unread = lambda: 0     # bytes the terminal holds unread; main() knows the slave
        self.lose_bytes, self.lose_after = options.lose_bytes or (0, 0)
        self.listings = 0
        self.reply_loss = 0
        self.hangup_after = options.hangup_after_bytes
        self.arrivals = [parse_arrival(s, "--store-during-listing")
                         for s in options.store_during_listing]
        for msg in self.arrivals:
            if store.get(msg.storage, msg.index):
                raise ValueError(f"--store-during-listing: {msg.storage} index {msg.index} "
                                 f"is already in the store")
        self.deletion_arrivals = [parse_arrival(s, "--store-during-deletion")
                                  for s in options.store_during_deletion]
        self.refill = options.refill
        self.garbled = {(g.split(":")[0].upper(), int(g.split(":")[1])) for g in options.garble}
        self.refills = 0
        self.rng = line.rng
        self.reply_budget = None
        self.after_reply = None
        self.memories = ["SM", "SM", "SM"]
        self.splitter = LineSplitter()
        self.entry = None           # the PDU being typed after an AT+CMGS prompt
        self.entry_length = 0       # the <length> AT+CMGS announced for it
        self.reference = options.first_reference
        self.parts = 0              # PDUs taken for sending
        self.prompt_style = options.prompt_style
        self.prompt_faults = []
        for option in options.no_prompt:
            _, count, skip = parse_send_fault(option, "--no-prompt", False)
            self.prompt_faults.append(Failure("AT+CMGS", remaining=count, skip=skip))
        # As with commands, silences first; then refusals, then late answers.
        self.send_faults = []
        for option in options.send_silent:
            _, count, skip = parse_send_fault(option, "--send-silent", False)
            self.send_faults.append(Failure("AT+CMGS", remaining=count, silent=True, skip=skip))
        for option in options.refuse_send:
            cms, count, skip = parse_send_fault(option, "--refuse-send", True)
            self.send_faults.append(Failure("AT+CMGS", cms, count, skip=skip))
        for option in options.send_late:
            ms, count, skip = parse_send_fault(option, "--send-late", True)
            self.send_faults.append(Failure("AT+CMGS", remaining=count, skip=skip, late=ms / 1000))
        self.hangup_on_send = options.hangup_on_send
        # The times of arrivals and hang-ups count from here.
        self.started = time.monotonic()
        self.arrival_memory = options.arrival_memory
        self.schedule = sorted(options.timed_arrivals, key=lambda a: a.due)
        self.drop_rate = options.drop_notifications
        self.drop_rng = random.Random(options.seed)
        self.announcements = []     # lines waiting for the end of PDU entry
        self.replying = False
        self.hangups = [self.started + t for t in options.hangup_at]
        self.connected = True
        self.sent_file = None
        if options.save_sent:
            self.sent_file = open(options.save_sent, "w", encoding="utf-8")
            self.sent_file.write("# Parts the simulated modem sent: SENT <reference> 3 <pdu>\n")
            self.sent_file.flush()
        self.reset()

    def reset(self):
        self.echo = self.initial_echo
        self.pdu_mode = True
        self.cmee = 0
        self.charset = "IRA"
        self.cnmi = "0,0,0,0,0"
        self.csdh = 0
        self.cfun = 1

    def power_up(self):
        """Back after a hang-up, as a phone after power-up: settings as at start, every memory
        SM, nothing half received; the store and the counters of faults and references stay.
        Hang-up times that passed meanwhile are dropped."""
        self.reset()
        self.memories = ["SM", "SM", "SM"]
        self.splitter = LineSplitter()
        self.entry = None
        self.busy = None
        self.after_reply = None
        self.announcements = []
        self.hangups = [t for t in self.hangups if t > time.monotonic()]
        self.connected = True

    def changed(self):
        if self.save_path:
            self.store.save(self.save_path)

    # ------------------------------------------------------------ dispatch

    def receive(self, data):
        """Bytes from the line: command lines, or after AT+CMGS the PDU up to Ctrl-Z or ESC."""
        speed = self.options.answer_speed and line_speed(self.line.fd)
        if speed and speed != self.options.answer_speed:
            # Both sides' bits are misread at another speed: the command is lost, noise answers.
            self.log.write("wrong speed", speed=speed, received=len(data))
            self.line.write(bytes((0xF8, 0x00, 0xE0, 0x80))[:len(data)])
            return
        while data:
            if self.entry is not None:
                data = self.enter(data)
                continue
            raw, data = self.splitter.take(data)
            if raw is not None:
                self.handle(raw)

    def handle(self, raw):
        """Answer one command line (bytes without its terminator)."""
        text = raw.decode("latin-1")
        if not text.strip():
            return
        if self.busy:
            self.log.write("command", line=text, dropped=True)
            return
        self.log.write("command", line=text)
        self.line.start_reply()
        if self.echo:
            self.line.write(raw + b"\r")
        if not text.strip().upper().startswith("AT"):
            return
        failure = self.fault_for(text)
        if failure and failure.silent:
            return
        if failure and failure.late:
            self.busy = (time.monotonic() + failure.late, lambda: self.answer(text))
            return
        self.answer(text, failure)

    def answer(self, text, failure=None):
        if failure:
            reply = error_reply(failure.cms)
        else:
            try:
                reply = self.execute(text.strip())
            except CommandError as err:
                reply = error_reply(err.cms)
        self.respond(reply)

    def respond(self, reply):
        if self.latency:
            time.sleep(self.latency)
        self.transmit(reply)

    def tick(self):
        """Between commands: a hang-up that is due, a late answer that is due, then chatter
        and arrivals that are due. Without a terminal, arrivals only."""
        if not self.connected:
            self.arrivals_due()
            return
        self.check_hangup()
        if self.busy and time.monotonic() >= self.busy[0]:
            action, self.busy = self.busy[1], None
            action()
        self.chat(self.line.write)
        self.announce(self.line.write)

    def wait_time(self):
        """How long the main loop may wait for input before tick() has work."""
        due = [t for t in (self.busy and self.busy[0], self.next_chatter) if t]
        due += [self.started + a.due for a in self.schedule[:1]]
        if self.connected:
            due += self.hangups[:1]
        return max(0.0, min([1.0] + [t - time.monotonic() for t in due]))

    def check_hangup(self):
        if self.hangups and time.monotonic() >= self.hangups[0]:
            self.hangups.pop(0)
            self.connected = False
            raise Unplugged()

    def arrivals_due(self):
        now = time.monotonic()
        while self.schedule and self.started + self.schedule[0].due <= now:
            self._arrive_timed(self.schedule.pop(0))

    def announce(self, write):
        """Stores the messages that are due and writes their announcements, unless a PDU is
        being typed: then they wait for its end."""
        self.arrivals_due()
        if self.entry is None:
            while self.announcements:
                write(self.frame(self.announcements.pop(0)))

    def _arrive_timed(self, arrival):
        """Stores a timed arrival in the first free index and queues its announcement, as
        AT+CNMI asks: +CMTI for <mt> 1, +CDSI for a status report with <ds> 2."""
        report = is_status_report(arrival.pdu)
        storage = arrival.storage or ("SR" if report else self.arrival_memory)
        index = next(i for i in range(1, 65537) if not self.store.get(storage, i))
        if self.store.full(storage):
            self.log.write("rejected", storage=storage, index=index, pdu=arrival.pdu)
            if self.connected:
                self.announcements.append(f'^SMMEMFULL: "{storage}"')
            return
        self.store.add(Message(storage, index, STAT_UNREAD, arrival.pdu))
        self.changed()
        fields = (self.cnmi.split(",") + ["0"] * 5)[:5]
        wanted = fields[3] == "2" if report else fields[1] == "1"
        because = None
        if not wanted:
            because = "cnmi"
        elif not self.connected:
            because = "hung up"
        elif self.drop_rate and self.drop_rng.random() < self.drop_rate:
            because = "dropped"
        elif not self.replying and self.unread() > CHATTER_BACKLOG:
            # A reply blocks until the client reads on; a line between commands need not.
            because = "backlog"
        self.log.write("stored", storage=storage, index=index, pdu=arrival.pdu,
                       announced=because is None, **({"because": because} if because else {}))
        if because is None:
            self.announcements.append(f'{"+CDSI" if report else "+CMTI"}: "{storage}",{index}')

    def chat(self, write):
        now = time.monotonic()
        if self.next_chatter is None or now < self.next_chatter:
            return
        self.next_chatter = now + self.chatter
        if self.unread() <= CHATTER_BACKLOG:
            write(self.frame(CHATTER_LINE))

    def frame(self, text, lead=True, end=True):
        """The one place where lines get their line ends (the echo aside)."""
        return ((self.eol if lead else b"") + text.encode("latin-1")
                + (self.eol if end else b""))

    def fault_for(self, text):
        """The fault that takes this command, if any; every matching fault counts it."""
        return take_fault([f for f in self.faults if command_matches(text, f.command)])

    def transmit(self, reply):
        budget, self.reply_budget = self.reply_budget, None
        self.line.budget = budget
        self.replying = True
        try:
            self.emit(reply)
        finally:
            self.line.budget = None
            self.replying = False
        after, self.after_reply = self.after_reply, None
        if after:
            after()

    def execute(self, command):
        body = command[2:]
        upper = body.upper()
        if upper == "":
            return info_reply()
        if upper == "Z":
            self.reset()
            return info_reply()
        if upper in ("E0", "E1"):
            self.echo = upper == "E1"
            return info_reply()
        if upper in ("I", "I0"):
            return info_reply(IDENTITY["+CGMI"], IDENTITY["+CGMM"],
                              "Revision: " + IDENTITY["+CGMR"])
        match = re.fullmatch(r"(\+[A-Z]+)(=\?|\?|=(.*))?", body, re.IGNORECASE | re.DOTALL)
        if not match:
            raise CommandError()
        name = match.group(1).upper()
        suffix = match.group(2) or ""
        kind = {"": "exec", "=?": "test", "?": "read"}.get(suffix, "set")
        handler = getattr(self, "cmd_" + name[1:].lower(), None)
        if handler is None:
            if name in IDENTITY and kind in ("exec", "test"):
                return info_reply(IDENTITY[name]) if kind == "exec" else info_reply()
            raise CommandError()
        return handler(kind, (match.group(3) or "").strip())

    def emit(self, segments):
        """Write a reply, with unsolicited lines and chatter between its segments when enabled.

        In a listing, one unsolicited line always comes between the first +CMGL header and its
        PDU line. A --lose-bytes loss starts in the middle of the first PDU line."""
        first_pdu_done = False
        sent = 0
        lost = None   # (start, end) offsets of the reply's bytes that are never sent

        def send(data):
            nonlocal sent
            kept = data
            if lost:
                kept = data[:max(0, lost[0] - sent)] + data[max(0, lost[1] - sent):]
            sent += len(data)
            self.line.write(kept)

        loss, self.reply_loss = self.reply_loss, 0
        for number, segment in enumerate(segments):
            if self.unsolicited and number:
                forced = segment.kind == "pdu" and not first_pdu_done
                if forced or self.rng.random() < UNSOLICITED_RATE:
                    send(self.frame(self.rng.choice(UNSOLICITED_LINES)))
            self.check_hangup()
            self.chat(send)
            self.announce(send)
            text = segment.make() if segment.make else segment.text
            if segment.kind == "pdu" and not first_pdu_done:
                first_pdu_done = True
                if loss:
                    lost = (sent + len(text) // 2, sent + len(text) // 2 + loss)
            if segment.kind == "pdu" and self.urc_inside_pdu:
                half = len(text) // 2
                send(self.frame(text[:half], lead=False, end=False) + self.frame(URC_INSIDE_PDU)
                     + self.frame(text[half:], lead=False, end=segment.end))
            else:
                send(self.frame(text, segment.lead, segment.end))

    # ------------------------------------------------------------ settings

    @staticmethod
    def _flag(args, allowed):
        if args not in allowed:
            raise CommandError()
        return int(args)

    def cmd_cmgf(self, kind, args):
        if kind == "set":
            self.pdu_mode = self._flag(args, ("0", "1")) == 0
            return info_reply()
        if kind == "read":
            return info_reply(f"+CMGF: {0 if self.pdu_mode else 1}")
        if kind == "test":
            return info_reply("+CMGF: (0,1)")
        raise CommandError()

    def cmd_cmee(self, kind, args):
        if kind == "set":
            self.cmee = self._flag(args, ("0", "1", "2"))
            return info_reply()
        if kind == "read":
            return info_reply(f"+CMEE: {self.cmee}")
        if kind == "test":
            return info_reply("+CMEE: (0-2)")
        raise CommandError()

    def cmd_cscs(self, kind, args):
        if kind == "set":
            charset = args.strip('"').upper()
            if charset not in CHARSETS:
                raise CommandError()
            self.charset = charset
            return info_reply()
        if kind == "read":
            return info_reply(f'+CSCS: "{self.charset}"')
        if kind == "test":
            return info_reply("+CSCS: (" + ",".join(f'"{c}"' for c in CHARSETS) + ")")
        raise CommandError()

    def cmd_cfun(self, kind, args):
        if kind == "set":
            self.cfun = self._flag(args.split(",")[0], ("0", "1", "4"))
            return info_reply()
        if kind == "read":
            return info_reply(f"+CFUN: {self.cfun}")
        if kind == "test":
            return info_reply("+CFUN: (0,1,4),(0-1)")
        raise CommandError()

    def cmd_chup(self, kind, args):
        """Hang up a call: there is never one, so there is nothing to do. Clients such as
        gammu probe for it with AT+CHUP=? while they find out what the phone can do."""
        if kind in ("exec", "test"):
            return info_reply()
        raise CommandError()

    def cmd_cpin(self, kind, args):
        if kind == "read" and self.options.pin.startswith("ERROR:"):
            return [Segment("final", f"+CME ERROR: {self.options.pin[6:]}", lead=True)]
        if kind == "read":
            return info_reply(f"+CPIN: {self.options.pin}")
        if kind == "test":
            return info_reply()
        raise CommandError()

    def cmd_creg(self, kind, args):
        """+CREG: <n>,<stat>; <n> 0: the modem announces no change of registration."""
        if kind == "read":
            return info_reply(f"+CREG: 0,{self.options.creg}")
        if kind == "test":
            return info_reply("+CREG: (0-2)")
        if kind == "set" and args in ("0", "1", "2"):
            return info_reply()
        raise CommandError()

    def cmd_csq(self, kind, args):
        if kind == "exec":
            return info_reply(f"+CSQ: {self.options.csq},99")
        if kind == "test":
            return info_reply("+CSQ: (0-31,99),(0-7,99)")
        raise CommandError()

    def cmd_csca(self, kind, args):
        if kind == "read":
            number = SERVICE_CENTRE if self.options.csca is None else f'"{self.options.csca}",129'
            return info_reply(f"+CSCA: {number}")
        if kind in ("set", "test"):
            return info_reply()
        raise CommandError()

    def cmd_cnmi(self, kind, args):
        if kind == "set":
            if not re.fullmatch(r"\d(,\d){0,4}", args):
                raise CommandError()
            self.cnmi = args
            return info_reply()
        if kind == "read":
            return info_reply(f"+CNMI: {self.cnmi}")
        if kind == "test":
            return info_reply("+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)")
        raise CommandError()

    def cmd_csdh(self, kind, args):
        if kind in ("set", "exec"):
            self.csdh = self._flag(args or "0", ("0", "1"))
            return info_reply()
        if kind == "read":
            return info_reply(f"+CSDH: {self.csdh}")
        if kind == "test":
            return info_reply("+CSDH: (0,1)")
        raise CommandError()

    # ------------------------------------------------------------ message storage

    def _usage(self, memories):
        return ",".join(f"{self.store.used(m)},{self.store.total(m)}" for m in memories)

    def cmd_cpms(self, kind, args):
        """+CPMS=<mem1>[,<mem2>[,<mem3>]]: mem1 is the memory read and deleted from."""
        if kind == "set":
            names = [a.strip().strip('"').upper() for a in args.split(",")]
            if not 1 <= len(names) <= 3 or any(n not in STORAGES for n in names):
                raise CommandError(CMS_NOT_ALLOWED)
            self.memories[:len(names)] = names
            return info_reply(f"+CPMS: {self._usage(self.memories)}")
        if kind == "read":
            return info_reply("+CPMS: " + ",".join(
                f'"{m}",{self._usage([m])}' for m in self.memories))
        if kind == "test":
            options = "(" + ",".join(f'"{s}"' for s in STORAGES) + ")"
            return info_reply(f"+CPMS: {options},{options},{options}")
        raise CommandError()

    def _index(self, text):
        if not text.strip().isdigit():
            raise CommandError(CMS_INVALID_INDEX)
        return int(text)

    def cmd_cmgl(self, kind, args):
        """+CMGL: <index>,<stat>,[<alpha>],<length> CR LF <pdu>, one pair per message."""
        if kind == "test":
            return info_reply("+CMGL: (0-4)")
        if kind == "read" or not self.pdu_mode:
            raise CommandError()
        wanted = self._flag(args or "0", ("0", "1", "2", "3", "4"))
        storage = self.memories[0]
        listed = [m for m in self.store.in_order(storage) if wanted in (STAT_ALL, m.stat)]
        segments = []
        space = "" if self.header_no_space else " "
        for number, msg in enumerate(listed):
            alpha = f'"{self.alpha[number % len(self.alpha)]}"' if self.alpha else ""
            header = f"+CMGL:{space}{msg.index},{msg.stat},{alpha},{tpdu_length(msg.pdu)}"
            glued = self.glued_headers and number + 1 < len(listed)
            pdu = msg.pdu
            if (storage, msg.index) in self.garbled:
                pdu = pdu[:len(pdu) // 2] + "G" + pdu[len(pdu) // 2 + 1:]
            segments += [Segment("header", header, lead=number == 0),
                         Segment("pdu", pdu, end=not glued)]
        arrival = next((a for a in self.arrivals if a.storage == storage), None)
        if arrival:
            self.arrivals.remove(arrival)
            event = Segment("event", lead=True, make=lambda: self._arrive(arrival))
            segments.insert(2 if segments else 0, event)
        segments.append(Segment("final", "OK", lead=True))
        self.reply_budget, self.hangup_after = self.hangup_after, None
        self.listings += 1
        if self.listings == self.lose_after + 1:
            self.reply_loss = self.lose_bytes
        self.after_reply = lambda: self._mark_read(listed)
        return segments

    def _mark_read(self, messages):
        newly_read = [m for m in messages if m.stat == STAT_UNREAD]
        for msg in newly_read:
            msg.stat = STAT_READ
        if newly_read:
            self.changed()

    def _arrive(self, msg):
        # A full memory takes nothing more: the network keeps the message, and the phone says so.
        if self.store.full(msg.storage):
            self.log.write("rejected", storage=msg.storage, index=msg.index, pdu=msg.pdu)
            return f'^SMMEMFULL: "{msg.storage}"'
        self.store.add(msg)
        self.log.write("stored", storage=msg.storage, index=msg.index, pdu=msg.pdu)
        self.changed()
        return f'+CMTI: "{msg.storage}",{msg.index}'

    def _arrivals_after_delete(self, freed):
        """The messages that come in right after a delete: a refill of each freed place, and
        each --store-during-deletion message whose place is free now."""
        arriving = []
        if self.refill:
            for msg in freed:
                self.refills += 1
                text = f"Refill {self.refills}, stored at {msg.storage} {msg.index}"
                arriving.append(Message(msg.storage, msg.index, STAT_UNREAD,
                                        deliver(REFILL_SENDER, text)))
        for msg in list(self.deletion_arrivals):
            taken = any(self.store.memory(a.storage) == self.store.memory(msg.storage)
                        and a.index == msg.index for a in arriving)
            if not taken and not self.store.get(msg.storage, msg.index):
                self.deletion_arrivals.remove(msg)
                arriving.append(msg)
        return [Segment("event", lead=True, make=lambda m=m: self._arrive(m)) for m in arriving]

    # ------------------------------------------------------------ sending

    def cmd_cmgs(self, kind, args):
        """+CMGS=<length> in PDU mode: the prompt, then the PDU is typed (see enter())."""
        if kind == "test":
            return info_reply()
        if kind != "set" or not self.pdu_mode or not args.isdigit():
            raise CommandError()
        self.entry = bytearray()
        self.entry_length = int(args)
        if take_fault(self.prompt_faults):
            return []
        prompt = Segment("prompt", ">" if self.prompt_style == "nospace" else "> ",
                         lead=True, end=False)
        before = {"unsolicited": [Segment("info", PROMPT_URC, lead=True)],
                  "blank": [Segment("info", "", lead=True, end=False)]}
        return before.get(self.prompt_style, []) + [prompt]

    def enter(self, data):
        """Takes typed PDU bytes, echoed as they come, up to Ctrl-Z or ESC (neither echoed);
        returns the bytes after that end. The LF of a CR LF that ended AT+CMGS is no part of
        the PDU."""
        if not self.entry and self.splitter.after_cr and data[:1] == b"\n":
            data = data[1:]
        self.splitter.after_cr = False
        ends = [at for at in (data.find(CTRL_Z), data.find(ESC)) if at >= 0]
        end = min(ends, default=len(data))
        if self.echo and end:
            self.line.write(data[:end])
        self.entry += data[:end]
        if end == len(data):
            return b""
        typed, self.entry = self.entry.decode("latin-1"), None
        self.line.start_reply()
        if data[end] == ESC:
            self.log.write("cancelled", pdu=typed)
            self.respond(info_reply())
        else:
            self.take_part(typed)
        return data[end + 1:]

    def valid_part(self, pdu):
        """An SMS-SUBMIT in hexadecimal whose TPDU has the length AT+CMGS announced."""
        if not re.fullmatch(r"([0-9A-Fa-f]{2})+", pdu):
            return False
        tpdu = len(pdu) // 2 - 1 - int(pdu[:2], 16)
        return tpdu == self.entry_length and tpdu > 0 and int(pdu[-2 * tpdu:][:2], 16) & 3 == 1

    def take_part(self, pdu):
        if not self.valid_part(pdu):
            self.log.write("refused", pdu=pdu, error=CMS_INVALID_PDU)
            self.respond(error_reply(CMS_INVALID_PDU))
            return
        self.parts += 1
        hangup = self.parts == self.hangup_on_send
        fault = None if hangup else take_fault(self.send_faults)
        if fault and fault.cms is not None:
            self.log.write("refused", pdu=pdu, error=fault.cms)
            self.respond(error_reply(fault.cms))
            return
        reference, self.reference = self.reference, (self.reference + 1) % 256
        answered = not hangup and not (fault and fault.silent)
        self.log.write("sent", pdu=pdu, reference=reference, answered=answered)
        if self.sent_file:
            self.sent_file.write(f"SENT {reference} 3 {pdu}\n")
            self.sent_file.flush()
        if hangup:
            raise HangUp()
        reply = info_reply(f"+CMGS: {reference}")
        if fault and fault.late:
            self.busy = (time.monotonic() + fault.late, lambda: self.transmit(reply))
        elif answered:
            self.respond(reply)

    def cmd_cmgr(self, kind, args):
        """+CMGR: <stat>,[<alpha>],<length> CR LF <pdu>"""
        if kind == "test":
            return info_reply()
        if kind != "set" or not self.pdu_mode:
            raise CommandError()
        msg = self.store.get(self.memories[0], self._index(args))
        if msg is None:
            raise CommandError(CMS_INVALID_INDEX)
        reply = info_reply(f"+CMGR: {msg.stat},,{tpdu_length(msg.pdu)}", msg.pdu)
        if msg.stat == STAT_UNREAD:
            msg.stat = STAT_READ
            self.changed()
        return reply

    def cmd_cmgd(self, kind, args):
        """+CMGD=<index>[,<delflag>]; delflag 1 to 4 deletes read, read and sent, all but
        unread, or all messages of the memory, whatever the index."""
        storage = self.memories[0]
        if kind == "test":
            indexes = ",".join(str(m.index) for m in self.store.in_order(storage))
            return info_reply(f"+CMGD: ({indexes}),(0-4)")
        if kind != "set":
            raise CommandError()
        index_text, _, flag_text = args.partition(",")
        flag = self._flag(flag_text.strip() or "0", ("0", "1", "2", "3", "4"))
        if flag:
            doomed_stats = {1: {1}, 2: {1, 3}, 3: {1, 2, 3}, 4: {0, 1, 2, 3}}[flag]
            doomed = [m for m in self.store.in_order(storage) if m.stat in doomed_stats]
        else:
            msg = self.store.get(storage, self._index(index_text))
            if msg is None:
                raise CommandError(CMS_INVALID_INDEX)
            doomed = [msg]
        for msg in doomed:
            self.store.remove(msg.storage, msg.index)
            self.log.write("delete", storage=msg.storage, index=msg.index, stat=msg.stat,
                           pdu=msg.pdu)
        if doomed:
            self.changed()
        # Newcomers are announced after the final result, as a phone does once it is free.
        return info_reply() + (self._arrivals_after_delete(doomed) if doomed else [])


# ---------------------------------------------------------------- replay of a trace

@dataclasses.dataclass
class Step:
    """A command of a trace, and what the modem sent after it: (seconds after it, bytes)."""
    command: bytes
    received: list


def trace_bytes(text):
    """The bytes an escaped trace text stands for."""
    return b"".join(map(client_bytes, TRACE_ESCAPE.sub(lambda m: TRACE_UNESCAPED[m.group()], text)))


def client_bytes(char):
    """The client reads and writes code page 1251; what that cannot hold (U+FFFD, put for a
    control character the trace could not show) stays UTF-8."""
    try:
        return char.encode("cp1251")
    except UnicodeEncodeError:
        return char.encode("utf-8")


def parse_trace(text):
    """(steps, bytes received before the first command) of quorlin's --trace output. Lines that
    are not trace lines are skipped, and so is a progress line before a trace line: it starts
    with a raw CR (CR in the dialogue shows as \\r)."""
    steps, before, started = [], 0, 0
    for physical in text.split("\n"):
        match = TRACE_LINE.search(physical.removesuffix("\r").rsplit("\r", 1)[-1])
        if not match or match.group(2) == "==":
            continue
        ms, direction, shown = int(match.group(1)), match.group(2), match.group(3) or ""
        if direction == ">>":
            steps.append(Step(trace_bytes(shown), []))
            started = ms
        elif steps:
            steps[-1].received.append(((ms - started) / 1000, trace_bytes(shown)))
        else:
            before += len(trace_bytes(shown))
    return steps, before


def load_trace(path):
    with open(path, encoding="utf-8", newline="") as f:
        steps, before = parse_trace(f.read())
    if not steps:
        raise ValueError(f"--replay {path}: no command (a '>>' line) in it")
    return steps, before


class Replay:
    """Plays a trace back: each command the client writes is compared with the next one of the
    trace and, when it is the same, answered with what the modem sent then, at the same times.
    Anything else gets ERROR and the trace waits for the command it expects."""

    def __init__(self, steps, dropped, line, log):
        self.steps = steps
        self.line = line
        self.log = log
        # Bytes before the first command came from before the client; they are left out.
        log.write("replay", steps=len(steps), dropped=dropped)
        self.done = 0               # steps matched
        self.mismatched = 0
        self.beyond = 0             # commands after the last step
        self.typed = bytearray()    # the start of the client's next command
        self.outgoing = []          # (due time, bytes) of the step being answered

    def receive(self, data):
        for byte in data:
            self.typed.append(byte)
            if byte in REPLAY_COMMAND_ENDS:
                command, self.typed = bytes(self.typed), bytearray()
                self.handle(command)

    def handle(self, command):
        # In the trace the client had all of the last answer before it wrote again.
        self.flush()
        event = {"line": command.decode("latin-1"), "step": self.done + 1}
        if self.done == len(self.steps):
            self.beyond += 1
            self.log.write("command", **event, matched=False, beyond=True)
            self.line.write(b"\r\nERROR\r\n")
            return
        step = self.steps[self.done]
        if command != step.command:
            self.mismatched += 1
            self.log.write("command", **event, matched=False,
                           expected=step.command.decode("latin-1"))
            self.line.write(b"\r\nERROR\r\n")
            return
        self.log.write("command", **event, matched=True)
        self.done += 1
        due, previous = time.monotonic(), 0.0
        for offset, data in step.received:
            due += min(max(0.0, offset - previous), REPLAY_MAX_DELAY)
            previous = offset
            self.outgoing.append((due, data))
        self.tick()

    def flush(self):
        for _, data in self.outgoing:
            self.line.write(data)
        self.outgoing = []

    def tick(self):
        while self.outgoing and self.outgoing[0][0] <= time.monotonic():
            self.line.write(self.outgoing.pop(0)[1])

    def wait_time(self):
        due = [t - time.monotonic() for t, _ in self.outgoing[:1]]
        return max(0.0, min([1.0] + due))

    def finish(self):
        complete = self.done == len(self.steps) and not self.mismatched and not self.beyond
        self.log.write("replayed", steps=len(self.steps), replayed=self.done,
                       mismatched=self.mismatched, beyond=self.beyond, complete=complete)


# ---------------------------------------------------------------- terminal and main loop

SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if re.fullmatch(r"B[0-9]+", name)}


def line_speed(fd):
    """The speed the client set on the terminal, in baud (the master sees the slave's settings)."""
    return SPEEDS.get(termios.tcgetattr(fd)[5], 0)


def make_raw(fd):
    """cfmakeraw(3): no echo, no line editing, no translation, 8 data bits."""
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP
               | termios.INLCR | termios.IGNCR | termios.ICRNL | termios.IXON)
    oflag &= ~termios.OPOST
    lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
    cflag = (cflag & ~(termios.CSIZE | termios.PARENB)) | termios.CS8
    cc[termios.VMIN], cc[termios.VTIME] = 1, 0
    termios.tcsetattr(fd, termios.TCSANOW, [iflag, oflag, cflag, lflag, ispeed, ospeed, cc])


def pending_input(fd):
    """Bytes the slave side holds that no client has read yet."""
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]


class LineSplitter:
    """Cuts the received bytes into command lines ended by CR, CR LF or LF. Ctrl-Z and ESC
    are dropped: they end PDU entry, and a client unsure whether it is still in one sends
    them before its next command."""

    def __init__(self):
        self.pending = bytearray()
        self.after_cr = False

    def take(self, data):
        """(the first line that ends in data, or None; the bytes after its end)."""
        for at, byte in enumerate(data):
            ended = byte == 13 or (byte == 10 and not self.after_cr)
            if not ended and byte not in (10, CTRL_Z, ESC):
                self.pending.append(byte)
            self.after_cr = byte == 13
            if ended:
                line = bytes(self.pending)
                self.pending.clear()
                return line, data[at + 1:]
        return None, b""


def make_link(link, target):
    if os.path.lexists(link) and not os.path.islink(link):
        raise OSError(f"--link {link}: exists and is not a symbolic link")
    temporary = f"{link}.tmp{os.getpid()}"
    os.symlink(target, temporary)
    os.replace(temporary, link)


def remove_link(link, target):
    try:
        if os.readlink(link) == target:
            os.unlink(link)
    except OSError:
        pass


def wait_for_drain(slave):
    """Give the client the time to read what was sent before the line goes dead."""
    settle = time.monotonic() + 0.1
    deadline = time.monotonic() + HANGUP_DRAIN_TIMEOUT
    while time.monotonic() < deadline:
        if pending_input(slave) == 0 and time.monotonic() >= settle:
            return
        time.sleep(0.02)


def serve(modem, master):
    while True:
        readable, _, _ = select.select([master], [], [], modem.wait_time())
        if readable:
            modem.receive(os.read(master, 4096))
        modem.tick()


def parse_args(argv):
    p = argparse.ArgumentParser(description="Simulated GSM modem on a pseudo-terminal.")
    p.add_argument("--store", metavar="FILE", help="messages at start-up (default: none)")
    p.add_argument("--save-store", metavar="FILE",
                   help="write the store back to FILE at start and after every change")
    p.add_argument("--link", metavar="PATH", help="symbolic link to the terminal, removed on exit")
    p.add_argument("--echo", choices=("on", "off"), default="on",
                   help="echo state after power-up and ATZ (default on)")
    p.add_argument("--latency", type=float, default=0, metavar="MS",
                   help="delay before each reply (after the echo)")
    p.add_argument("--answer-speed", type=int, default=0, metavar="N",
                   help="answer only a client that set the line to N baud; others get noise")
    p.add_argument("--baud", type=int, default=0, metavar="N",
                   help="pace output at N baud, 10 bit times a byte (default: unpaced)")
    p.add_argument("--split", action="store_true",
                   help="write output in random pieces with random gaps below 50 ms")
    p.add_argument("--seed", type=int, default=0, help="seed for --split and --unsolicited")
    p.add_argument("--unsolicited", action="store_true",
                   help="put unsolicited result codes between reply lines")
    p.add_argument("--fail", action="append", default=[],
                   metavar="CMD[:error|:cms[=N]][:COUNT][:after=K]",
                   help="answer CMD with ERROR or +CMS ERROR (321 unless =N), COUNT times or "
                        "always, after answering the first K normally")
    p.add_argument("--silent", action="append", default=[], metavar="CMD[:COUNT][:after=K]",
                   help="do not answer CMD, COUNT times or always, after answering the first K")
    p.add_argument("--split-at", type=int, default=0, metavar="N",
                   help="cut each command's output once, after its N-th byte, by a 300 ms pause")
    p.add_argument("--hangup-after-bytes", type=int, metavar="N",
                   help="hang up after N bytes of the first listing's reply")
    p.add_argument("--store-during-listing", action="append", default=[],
                   metavar="STORAGE:INDEX:PDU",
                   help="store this message during the first listing of its storage")
    p.add_argument("--store-during-deletion", action="append", default=[],
                   metavar="STORAGE:INDEX:PDU",
                   help="store this message right after the first AT+CMGD that leaves its "
                        "place free")
    p.add_argument("--refill", action="store_true",
                   help="a full phone: each place AT+CMGD frees gets a new message at once")
    p.add_argument("--garble", action="append", default=[], metavar="STORAGE:INDEX",
                   help="one digit of this message's PDU arrives garbled in every listing")
    p.add_argument("--capacity", action="append", default=[], metavar="STORAGE=N",
                   help="room for N messages in the memory (ME 255, SM 50, SR 20); a message "
                        "arriving when it is full is rejected")
    p.add_argument("--alias", metavar="ME=SM",
                   help="the two storage names are one memory")
    p.add_argument("--urc-inside-pdu", action="store_true",
                   help=f"put {URC_INSIDE_PDU} in the middle of every listed PDU line")
    p.add_argument("--header-no-space", action="store_true",
                   help="listing headers without the space after the colon: +CMGL:1,1,,23")
    p.add_argument("--glued-headers", action="store_true",
                   help="no line break between a listed PDU line and the next header")
    p.add_argument("--line-end", choices=tuple(LINE_ENDS), default="crlf",
                   help="line end of everything but the echo (default crlf)")
    p.add_argument("--alpha", action="append", default=[], metavar="NAME",
                   help="phone-book names for the listing headers, given in turn")
    p.add_argument("--late", action="append", default=[], metavar="CMD:MS[:COUNT][:after=K]",
                   help="answer CMD only MS ms later, dropping other commands meanwhile")
    p.add_argument("--chatter", type=int, default=0, metavar="MS",
                   help="an NMEA line between the modem's lines every MS ms")
    p.add_argument("--lose-bytes", metavar="N[:after=K]",
                   help="never send N bytes of the first listing (after K listings), "
                        "from the middle of its first PDU line")
    p.add_argument("--first-reference", type=int, default=0, metavar="N",
                   help="message reference of the first part sent (0 to 255, default 0)")
    p.add_argument("--save-sent", metavar="FILE",
                   help="write every part sent to FILE, one line each: SENT <reference> 3 <pdu>")
    p.add_argument("--prompt-style", choices=PROMPT_STYLES, default="space",
                   help="the AT+CMGS prompt: '> ' (default), '>' without the space, or '> ' "
                        "after an unsolicited line or after a blank line")
    p.add_argument("--no-prompt", action="append", default=[], nargs="?", const="",
                   metavar="[COUNT][:after=K]",
                   help="no prompt after AT+CMGS (once, or COUNT times) after K prompts")
    p.add_argument("--refuse-send", action="append", default=[], metavar="N[:COUNT][:after=K]",
                   help="answer a part (or COUNT parts) with +CMS ERROR: N after K parts taken")
    p.add_argument("--send-late", action="append", default=[], metavar="MS[:COUNT][:after=K]",
                   help="answer a part (or COUNT parts) MS ms after its Ctrl-Z, after K parts")
    p.add_argument("--send-silent", action="append", default=[], nargs="?", const="",
                   metavar="[COUNT][:after=K]",
                   help="send a part (or COUNT parts) without answering, after K parts")
    p.add_argument("--hangup-on-send", type=int, metavar="K",
                   help="hang up once the K-th part is typed, before answering it")
    p.add_argument("--arrival-memory", choices=ARRIVAL_MEMORIES, default="SM",
                   type=str.upper, help="memory new messages are stored in (default SM)")
    p.add_argument("--arrive", action="append", default=[], metavar="FILE",
                   help="messages arriving at their times: lines <seconds> [<storage>] <pdu>")
    p.add_argument("--arrive-every", action="append", default=[],
                   metavar="SECONDS:COUNT[:parts=N]",
                   help="COUNT messages (of N parts each), one every SECONDS")
    p.add_argument("--drop-notifications", type=float, default=0, metavar="P",
                   help="chance (0 to 1) that a message arriving is stored unannounced")
    p.add_argument("--hangup-at", action="append", default=[], metavar="SECONDS[,SECONDS...]",
                   help="the terminal goes away at these times after start-up and comes back "
                        "as a new one --hangup-for seconds later; needs --link")
    p.add_argument("--hangup-for", type=float, default=2.0, metavar="SECONDS",
                   help="how long a --hangup-at lasts (default 2)")
    p.add_argument("--pin", default="READY", metavar="CODE",
                   help="what AT+CPIN? answers: READY (default), SIM PIN, SIM PUK, ...; "
                        "ERROR:N for +CME ERROR: N (10: no SIM)")
    p.add_argument("--creg", type=int, default=1, choices=range(6), metavar="STAT",
                   help="the <stat> AT+CREG? answers: 1 home (default), 5 roaming, 0, 2, 3, 4")
    p.add_argument("--csq", type=int, default=21, metavar="RSSI",
                   help="the <rssi> AT+CSQ answers, 0 to 31 or 99; default 21")
    p.add_argument("--csca", metavar="NUMBER",
                   help="the service-centre number AT+CSCA? answers; empty: none set")
    p.add_argument("--log", metavar="FILE", help="JSON lines of commands and deletions")
    p.add_argument("--replay", metavar="TRACE",
                   help="answer as the modem in this trace of quorlin read --trace did; only "
                        "--link and --log go with it")
    args = p.parse_args(argv)
    if args.replay:
        extra = [a.option_strings[0] for a in p._actions if a.option_strings
                 and a.dest not in REPLAY_OPTIONS and getattr(args, a.dest, a.default) != a.default]
        if extra:
            p.error(f"--replay cannot be combined with {', '.join(extra)}")
    if not 0 <= args.drop_notifications <= 1:
        p.error("--drop-notifications: expected a probability from 0 to 1")
    if not 0 <= args.hangup_for < float("inf"):
        p.error("--hangup-for: expected seconds, 0 or more")
    try:
        args.hangup_at = parse_seconds_list(args.hangup_at, "--hangup-at")
    except ValueError as err:
        p.error(str(err))
    if args.hangup_at and not args.link:
        p.error("--hangup-at needs --link: the terminal comes back under another name")
    if args.chatter < 0:
        p.error("--chatter cannot be negative")
    for place in args.garble:
        if not re.fullmatch(r"(ME|SM|SR):\d{1,5}", place, re.IGNORECASE):
            p.error(f"--garble {place!r}: expected STORAGE:INDEX")
    if args.lose_bytes is not None:
        match = re.fullmatch(r"(\d+)(?::after=(\d+))?", args.lose_bytes)
        if not match:
            p.error("--lose-bytes: expected N[:after=K]")
        args.lose_bytes = (int(match.group(1)), int(match.group(2) or 0))
    for name in args.alpha:
        if not name.isprintable() or not name.isascii():
            p.error(f"--alpha {name!r}: printable ASCII only")
    if args.baud < 0 or args.latency < 0:
        p.error("--baud and --latency cannot be negative")
    if args.split_at < 0:
        p.error("--split-at cannot be negative")
    if args.hangup_after_bytes is not None and args.hangup_after_bytes < 0:
        p.error("--hangup-after-bytes cannot be negative")
    if not 0 <= args.first_reference <= 255:
        p.error("--first-reference: expected 0 to 255")
    if args.hangup_on_send is not None and args.hangup_on_send < 1:
        p.error("--hangup-on-send: expected a part number from 1")
    return args


def parse_capacity(texts):
    """{"SM": 20} from ["SM=20"]."""
    capacity = {}
    for text in texts:
        match = re.fullmatch(r"([A-Za-z]{2})=(\d{1,5})", text)
        if not match or match.group(1).upper() not in STORAGES:
            raise ValueError(f"--capacity {text!r}: expected ME, SM or SR, '=' and a number")
        capacity[match.group(1).upper()] = int(match.group(2))
    return capacity


def open_terminal():
    """(master, slave, path) of a new raw pseudo-terminal. The simulator keeps the slave
    descriptor open while the terminal lives: without it, reads on the master fail with EIO
    whenever no client has the terminal open."""
    master, slave = os.openpty()
    make_raw(slave)
    return master, slave, os.ttyname(slave)


class Terminal:
    """The terminal main() owns: gone during a hang-up, then a new one under the link."""

    def __init__(self, link):
        self.link = link
        self.master, self.slave, self.path = open_terminal()

    def close(self):
        if self.master is not None:
            os.close(self.master)
            os.close(self.slave)
            self.master = self.slave = None
            if self.link:
                remove_link(self.link, self.path)

    def reopen(self):
        self.master, self.slave, self.path = open_terminal()
        if self.link:
            make_link(self.link, self.path)


def unplug(modem, terminal, seconds):
    """A USB modem that re-enumerates: the terminal and its link vanish at once (whatever the
    client did not read is lost), messages still arrive, unannounced; after `seconds` a new
    terminal and link, and the modem as after power-up with the same store."""
    modem.log.write("unplugged", path=terminal.path)
    terminal.close()
    back = time.monotonic() + seconds
    while (left := back - time.monotonic()) > 0:
        time.sleep(min(left, modem.wait_time()))
        modem.tick()
    terminal.reopen()
    modem.line.fd = terminal.master
    modem.power_up()
    modem.log.write("plugged", path=terminal.path)


def main(argv=None):
    args = parse_args(argv)
    try:
        aliases = parse_alias(args.alias)
        capacity = parse_capacity(args.capacity)
        args.timed_arrivals = [a for path in args.arrive for a in parse_arrival_file(path)]
        args.timed_arrivals += [a for o in args.arrive_every for a in parse_arrive_every(o)]
        store = (MessageStore.load(args.store, aliases, capacity) if args.store
                 else MessageStore(aliases=aliases, capacity=capacity))
        steps, dropped = load_trace(args.replay) if args.replay else (None, 0)
    except (OSError, StoreError, ValueError) as err:
        print(f"modem_sim: {err}", file=sys.stderr)
        return 2

    def stop(signum, frame):
        raise Shutdown()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGHUP, stop)

    terminal = Terminal(args.link)
    line = SerialLine(terminal.master, args.baud, args.split, random.Random(args.seed),
                      args.split_at)
    try:
        modem = (Replay(steps, dropped, line, EventLog(args.log)) if args.replay
                 else Modem(store, line, args, EventLog(args.log)))
        modem.unread = lambda: pending_input(terminal.slave)
        if args.link:
            make_link(args.link, terminal.path)
    except (OSError, ValueError) as err:
        print(f"modem_sim: {err}", file=sys.stderr)
        terminal.close()
        return 2
    try:
        if not args.replay:
            modem.changed()
        print(terminal.path, flush=True)
        while True:
            try:
                serve(modem, terminal.master)
            except Unplugged:
                unplug(modem, terminal, args.hangup_for)
                continue
            except HangUp:
                modem.log.write("hangup")
                wait_for_drain(terminal.slave)
            break
    except Shutdown:
        pass
    finally:
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        terminal.close()
        if args.replay:
            modem.finish()
    return 0


if __name__ == "__main__":
    sys.exit(main())
