"""Black-box tests of the simulated modem: a subprocess on a pty, driven like a client would.

Run: python3 -m unittest discover -s simulator/tests
"""

import json
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

SIMULATOR_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SIMULATOR_DIR))

import modem_sim  # noqa: E402
import pdu_builder  # noqa: E402

FINAL = re.compile(rb"\r\n(OK|ERROR|\+CMS ERROR: \d+)\r\n")
URC = re.compile(rb'\r\n(\+CMTI: "SM",\d+|\^RSSI:\d+|\+CREG: \d)\r\n')

# Published PDUs with their TPDU lengths: peer projects' test vectors.
HOW_ARE_YOU = "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07"  # 30
SIPGATE = "0791447758100650040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9"  # 27
SUBMIT = "0011000B916407281553F80000AA0AE8329BFD4697D9EC37"  # 23
HELLOHELLO = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"  # 28
REPORT = "0006040D91945152991136F00160124130340A0160124130940A00"  # 26

STORE = f"""# test store
ME 1 1 {HOW_ARE_YOU}
ME 2 0 {SIPGATE}

ME 1005 3 {SUBMIT}
SM 1 0 {HELLOHELLO}
SM 10 1 {REPORT}
"""

ME_LISTING = (f"\r\n+CMGL: 1,1,,30\r\n{HOW_ARE_YOU}\r\n+CMGL: 2,0,,27\r\n{SIPGATE}\r\n"
              f"+CMGL: 1005,3,,23\r\n{SUBMIT}\r\n\r\nOK\r\n").encode()
SM_LISTING = (f"\r\n+CMGL: 1,0,,28\r\n{HELLOHELLO}\r\n+CMGL: 10,1,,26\r\n{REPORT}\r\n"
              f"\r\nOK\r\n").encode()

# Parts to send: a concatenated message for the modem's service centre, one naming its own.
PARTS = pdu_builder.submit_parts("+79161234567", "Meeting moved to Friday. " * 8, ref=9)
WITH_SCA = pdu_builder.submit("+79161234567", "Hi", sca="+79168999100", validity=167)
PROMPT = b"\r\n> "


def typed(pdu, length=None, end=b"\x1a"):
    """AT+CMGS with the length of pdu (or another), then pdu and the byte that ends it."""
    length = pdu_builder.tpdu_length(pdu) if length is None else length
    return f"AT+CMGS={length}\r{pdu}".encode() + end


def sent(reference):
    return f"\r\n+CMGS: {reference}\r\n\r\nOK\r\n".encode()


class Sim:
    """One simulator process and one open client descriptor on its terminal."""

    def __init__(self, *options, store=STORE, echo="off"):
        """store None: no store nor echo option (a replay takes neither)."""
        self.dir = tempfile.TemporaryDirectory()
        self.store_path = self.path("store.txt")
        Path(self.store_path).write_text(store or "", encoding="utf-8")
        modem = [] if store is None else ["--store", self.store_path, "--echo", echo]
        self.proc = subprocess.Popen(
            [sys.executable, str(SIMULATOR_DIR / "modem_sim.py"), *modem, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.dir.name)
        self.tty = self.proc.stdout.readline().decode().strip()
        if not self.tty:
            raise AssertionError("simulator did not start: " + self.proc.stderr.read().decode())
        self.fd = None
        self.open()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def open(self):
        self.fd = os.open(self.tty, os.O_RDWR | os.O_NOCTTY)
        modem_sim.make_raw(self.fd)

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def send(self, command, end=b"\r"):
        os.write(self.fd, command.encode() + end)

    def read_for(self, seconds):
        out, deadline = b"", time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            if select.select([self.fd], [], [], left)[0]:
                out += os.read(self.fd, 4096)
        return out

    def reply(self, timeout=5.0):
        """Everything up to and including the final result code."""
        out, deadline = b"", time.monotonic() + timeout
        while not FINAL.search(out):
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no final result code in {out!r}")
            if select.select([self.fd], [], [], left)[0]:
                out += os.read(self.fd, 4096)
        return out

    def command(self, command):
        self.send(command)
        return self.reply()

    def stop(self, sig=signal.SIGTERM):
        self.close()
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        code = self.proc.wait(timeout=10)
        self.proc.stdout.close()
        self.proc.stderr.close()
        self.dir.cleanup()
        return code

    def log(self):
        with open(self.path("log.jsonl"), encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    def saved(self):
        lines = Path(self.path("saved.txt")).read_text(encoding="utf-8").splitlines()
        return [tuple(line.split()) for line in lines if line and not line.startswith("#")]


class SimTestCase(unittest.TestCase):
    def start(self, *options, **kwargs):
        sim = Sim(*options, **kwargs)
        self.addCleanup(sim.stop)
        return sim

    def check_sends(self, table):
        """Rows of (options, [(bytes typed, what the modem answers)], (reference, answered) of
        each part logged as sent)."""
        for options, steps, logged in table:
            with self.subTest(options=options):
                sim = self.start(*options, "--log", "log.jsonl")
                for data, answer in steps:
                    os.write(sim.fd, data)
                    self.assertEqual(sim.read_for(0.3), answer)
                self.assertEqual([(e["reference"], e["answered"]) for e in sim.log()
                                  if e["event"] == "sent"], logged)
                sim.stop()


class CommandReplyTests(SimTestCase):
    def test_replies_to_the_commands_a_client_sends(self):
        sim = self.start()
        table = [
            ("AT", b"\r\nOK\r\n"),
            ("at", b"\r\nOK\r\n"),
            ("AT+CMGF=0", b"\r\nOK\r\n"),
            ("AT+CMGF?", b"\r\n+CMGF: 0\r\n\r\nOK\r\n"),
            ("AT+CMGF=?", b"\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"),
            ("AT+CMGF=2", b"\r\nERROR\r\n"),
            ("AT+CMEE=1", b"\r\nOK\r\n"),
            ("AT+CSCS=?", b'\r\n+CSCS: ("IRA","GSM","UCS2")\r\n\r\nOK\r\n'),
            ('AT+CSCS="UCS2"', b"\r\nOK\r\n"),
            ("AT+CSCS?", b'\r\n+CSCS: "UCS2"\r\n\r\nOK\r\n'),
            ('AT+CSCS="KOI8-R"', b"\r\nERROR\r\n"),
            ("AT+CPIN?", b"\r\n+CPIN: READY\r\n\r\nOK\r\n"),
            ("AT+CFUN=1", b"\r\nOK\r\n"),
            ("AT+CFUN?", b"\r\n+CFUN: 1\r\n\r\nOK\r\n"),
            ("AT+CSCA?", b'\r\n+CSCA: "+79168999100",145\r\n\r\nOK\r\n'),
            ("AT+CNMI=2,1,0,0,0", b"\r\nOK\r\n"),
            ("AT+CNMI?", b"\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n"),
            ("AT+CSDH=1", b"\r\nOK\r\n"),
            ("AT+CPMS=?", b'\r\n+CPMS: ("ME","SM","SR"),("ME","SM","SR"),("ME","SM","SR")\r\n\r\nOK\r\n'),
            ('AT+CPMS="ME"', b"\r\n+CPMS: 3,1005,2,50,2,50\r\n\r\nOK\r\n"),
            ('AT+CPMS="SM","ME","ME"', b"\r\n+CPMS: 2,50,3,1005,3,1005\r\n\r\nOK\r\n"),
            ("AT+CPMS?", b'\r\n+CPMS: "SM",2,50,"ME",3,1005,"ME",3,1005\r\n\r\nOK\r\n'),
            ('AT+CPMS="MT"', b"\r\n+CMS ERROR: 302\r\n"),
            ("AT+CMGR=10", f"\r\n+CMGR: 1,,26\r\n{REPORT}\r\n\r\nOK\r\n".encode()),
            ("AT+CMGR=11", b"\r\n+CMS ERROR: 321\r\n"),
            ("AT+CMGL=?", b"\r\n+CMGL: (0-4)\r\n\r\nOK\r\n"),
            ("AT+CMGL=5", b"\r\nERROR\r\n"),
            ("AT+CSQ", b"\r\n+CSQ: 21,99\r\n\r\nOK\r\n"),
            ("AT+CREG?", b"\r\n+CREG: 0,1\r\n\r\nOK\r\n"),
            ("ATD123;", b"\r\nERROR\r\n"),
        ]
        for command, expected in table:
            with self.subTest(command=command):
                self.assertEqual(sim.command(command), expected)
        for command in ("AT+CGMI", "AT+CGMM", "AT+CGMR", "AT+CGSN", "ATI"):
            with self.subTest(command=command):
                self.assertRegex(sim.command(command), rb"^\r\n\S.*\r\n(.+\r\n)*\r\nOK\r\n$")

    def test_options_that_play_an_unhealthy_phone(self):
        table = [
            (("--pin", "SIM PIN"), "AT+CPIN?", b"\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"),
            (("--creg", "3"), "AT+CREG?", b"\r\n+CREG: 0,3\r\n\r\nOK\r\n"),
            (("--csq", "99"), "AT+CSQ", b"\r\n+CSQ: 99,99\r\n\r\nOK\r\n"),
            (("--csca", ""), "AT+CSCA?", b'\r\n+CSCA: "",129\r\n\r\nOK\r\n'),
        ]
        for options, command, expected in table:
            with self.subTest(options=options):
                sim = self.start(*options)
                self.assertEqual(sim.command(command), expected)
                sim.stop()

    def test_every_line_ending_ends_one_command(self):
        sim = self.start()
        for ending in (b"\r", b"\r\n", b"\n"):
            with self.subTest(ending=ending):
                sim.send("AT", ending)
                self.assertEqual(sim.reply(), b"\r\nOK\r\n")
                self.assertEqual(sim.read_for(0.2), b"", "one command answered twice")
        sim.send("AT\rAT+CMGF?\nAT", b"\r\n")
        self.assertEqual(sim.read_for(0.5), b"\r\nOK\r\n\r\n+CMGF: 0\r\n\r\nOK\r\n\r\nOK\r\n")

    def test_line_without_at_prefix_is_ignored(self):
        sim = self.start()
        sim.send("hello")
        self.assertEqual(sim.read_for(0.3), b"")
        self.assertEqual(sim.command("AT"), b"\r\nOK\r\n")

    def test_echo_follows_ate_and_atz(self):
        # The echo is the line as received plus CR, sent in the echo state at its arrival.
        sequences = {
            "on": [("AT+CMGF?", b"AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n"),
                   ("ATE0", b"ATE0\r\r\nOK\r\n"),
                   ("AT", b"\r\nOK\r\n"),
                   ("ATZ", b"\r\nOK\r\n"),
                   ("AT", b"AT\r\r\nOK\r\n")],
            "off": [("AT+CMGF?", b"\r\n+CMGF: 0\r\n\r\nOK\r\n"),
                    ("ATE1", b"\r\nOK\r\n"),
                    ("AT", b"AT\r\r\nOK\r\n"),
                    ("ATZ", b"ATZ\r\r\nOK\r\n"),
                    ("AT", b"\r\nOK\r\n")],
        }
        for initial, steps in sequences.items():
            sim = self.start(echo=initial)
            for number, (command, expected) in enumerate(steps):
                with self.subTest(echo=initial, step=number, command=command):
                    self.assertEqual(sim.command(command), expected)


class ListingTests(SimTestCase):
    def test_listing_of_each_memory_in_index_order(self):
        sim = self.start()
        sim.command('AT+CPMS="ME"')
        self.assertEqual(sim.command("AT+CMGL=4"), ME_LISTING)
        sim.command('AT+CPMS="SM"')
        self.assertEqual(sim.command("AT+CMGL=4"), SM_LISTING)

    def test_status_filter_and_reading_marks_unread_as_read(self):
        sim = self.start("--save-store", "saved.txt")
        sim.command('AT+CPMS="ME"')
        self.assertEqual(sim.command("AT+CMGL=0"),
                         f"\r\n+CMGL: 2,0,,27\r\n{SIPGATE}\r\n\r\nOK\r\n".encode())
        self.assertEqual(sim.command("AT+CMGL=0"), b"\r\nOK\r\n")
        self.assertIn(b"+CMGL: 2,1,,27", sim.command("AT+CMGL=1"))
        self.assertIn(b"+CMGL: 1005,3,,23", sim.command("AT+CMGL=3"))
        self.assertEqual(sim.command("AT+CMGL=2"), b"\r\nOK\r\n")
        sim.command('AT+CPMS="SM"')
        self.assertTrue(sim.command("AT+CMGR=1").startswith(b"\r\n+CMGR: 0,,28\r\n"))
        self.assertTrue(sim.command("AT+CMGR=1").startswith(b"\r\n+CMGR: 1,,28\r\n"))
        self.assertIn(("SM", "1", "1", HELLOHELLO), sim.saved())

    def test_text_mode_refuses_listing_and_reading(self):
        sim = self.start()
        sim.command("AT+CMGF=1")
        for command in ("AT+CMGL=4", 'AT+CMGL="ALL"', "AT+CMGR=1"):
            with self.subTest(command=command):
                self.assertEqual(sim.command(command), b"\r\nERROR\r\n")

    def test_empty_memory_lists_only_ok(self):
        sim = self.start(store="")
        self.assertEqual(sim.command('AT+CPMS="ME"'), b"\r\n+CPMS: 0,255,0,50,0,50\r\n\r\nOK\r\n")
        self.assertEqual(sim.command("AT+CMGL=4"), b"\r\nOK\r\n")


class DeleteTests(SimTestCase):
    def test_delete_acts_on_the_selected_memory_only_and_is_logged(self):
        sim = self.start("--log", "log.jsonl", "--save-store", "saved.txt")
        before = time.monotonic()
        sim.command('AT+CPMS="SM"')
        self.assertEqual(sim.command("AT+CMGD=1"), b"\r\nOK\r\n")
        for bad in ("AT+CMGD=1", "AT+CMGD=0", "AT+CMGD=x", "AT+CMGD="):
            with self.subTest(command=bad):
                self.assertEqual(sim.command(bad), b"\r\n+CMS ERROR: 321\r\n")
        after = time.monotonic()
        saved = sim.saved()
        self.assertNotIn(("SM", "1", "0", HELLOHELLO), saved)
        self.assertIn(("ME", "1", "1", HOW_ARE_YOU), saved, "ME 1 must survive SM 1's deletion")
        log = sim.log()
        deletions = [e for e in log if e["event"] == "delete"]
        self.assertEqual(deletions, [{"t": deletions[0]["t"], "event": "delete", "storage": "SM",
                                      "index": 1, "stat": 0, "pdu": HELLOHELLO}])
        commands = [e for e in log if e["event"] == "command"]
        self.assertEqual([e["line"] for e in commands],
                         ['AT+CPMS="SM"', "AT+CMGD=1", "AT+CMGD=1", "AT+CMGD=0", "AT+CMGD=x",
                          "AT+CMGD="])
        times = [e["t"] for e in commands]
        self.assertEqual(times, sorted(times))
        self.assertTrue(before <= times[0] and times[-1] <= after, "time stamps not monotonic")

    def test_delete_flags_choose_messages_by_status(self):
        sim = self.start("--save-store", "saved.txt")
        sim.command('AT+CPMS="ME"')
        self.assertEqual(sim.command("AT+CMGD=0,1"), b"\r\nOK\r\n")   # read ones: ME 1
        self.assertEqual(sorted(k[1] for k in sim.saved() if k[0] == "ME"), ["1005", "2"])
        self.assertEqual(sim.command("AT+CMGD=0,4"), b"\r\nOK\r\n")
        self.assertEqual([k[0] for k in sim.saved()], ["SM", "SM"])


class SendTests(SimTestCase):
    def test_parts_typed_after_the_prompt(self):
        one, two = map(typed, PARTS)
        refused, ok = PROMPT + b"\r\n+CMS ERROR: 304\r\n", b"\r\nOK\r\n"
        self.check_sends([
            ([], [(one, PROMPT + sent(0)), (two, PROMPT + sent(1)),
                  (typed(WITH_SCA), PROMPT + sent(2))], [(0, True), (1, True), (2, True)]),
            # A wrong length, an SMS-DELIVER, ESC: nothing sent, no reference used.
            (["--first-reference", "255"],
             [(typed(PARTS[0], 23), refused), (typed(HOW_ARE_YOU), refused),
              (typed(PARTS[0], end=b"\x1b"), PROMPT + ok), (one, PROMPT + sent(255)),
              (two, PROMPT + sent(0))], [(255, True), (0, True)]),
            (["--prompt-style", "nospace"], [(one, b"\r\n>" + sent(0))], [(0, True)]),
            (["--prompt-style", "blank"], [(one, b"\r\n" + PROMPT + sent(0))], [(0, True)]),
            (["--prompt-style", "unsolicited"], [(one, b"\r\n+CREG: 1\r\n" + PROMPT + sent(0))],
             [(0, True)]),
            (["--echo", "on"], [(one, one[:-1].replace(b"\r", b"\r" + PROMPT) + sent(0))],
             [(0, True)]),
            ([], [(b"AT+CMGS=?\rAT+CMGS\rAT+CMGF=1\r", ok + b"\r\nERROR\r\n" + ok),
                  (one, b"\r\nERROR\r\n")], []),
        ])


class DeviceTests(SimTestCase):
    def test_client_can_close_and_reopen_the_terminal(self):
        sim = self.start()
        for _ in range(5):
            sim.close()
            sim.open()
            self.assertEqual(sim.command("AT"), b"\r\nOK\r\n")

    def test_link_made_and_removed_on_either_signal(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                with tempfile.TemporaryDirectory() as tmp:
                    link = os.path.join(tmp, "modem")
                    sim = Sim("--link", link)
                    self.assertEqual(os.readlink(link), sim.tty)
                    self.assertEqual(sim.stop(sig), 0)
                    self.assertFalse(os.path.lexists(link))

    def test_bad_store_or_option_stops_at_start_with_the_reason(self):
        cases = [
            ("XX 1 0 00", [], "storage"),
            ("ME one 0 00", [], "index"),
            ("ME 1 7 00", [], "stat"),
            ("ME 1 0 0G", [], "hexadecimal"),
            ("ME 1 0", [], "expected"),
            ("ME 1 0 00\nME 1 1 00", [], "twice"),
            ("ME 1 0 00", ["--fail", "CMGD"], "AT"),
            ("SM 7 0 00", ["--store-during-listing", "SM:7:00"], "already"),
            ("ME 1 0 00", ["--late", "AT+CMGD"], "CMD:MS"),
            ("ME 1 0 00", ["--lose-bytes", "5:later"], "N[:after=K]"),
            ("ME 1 0 00", ["--alpha", "Åsa"], "ASCII"),
            ("ME 1 0 00", ["--alias", "ME=MT"], "ME=SM"),
            ("ME 1 0 00\nSM 1 0 00", ["--alias", "SM=ME"], "twice"),
            ("ME 1 0 00", ["--store-during-deletion", "ME:1"], "STORAGE:INDEX:PDU"),
            ("ME 1 0 00", ["--capacity", "MT=5"], "--capacity"),
            ("ME 1 0 00", ["--capacity", "SM=-1"], "--capacity"),
            ("ME 1 0 00", ["--refuse-send", "after=2"], "N[:COUNT][:after=K]"),
            ("ME 1 0 00", ["--first-reference", "256"], "0 to 255"),
            ("ME 1 0 00", ["--arrive", "{store}"], "<seconds> [<storage>] <pdu>"),
            ("ME 1 0 00", ["--arrive-every", "0:3"], "SECONDS:COUNT[:parts=N]"),
            ("ME 1 0 00", ["--drop-notifications", "1.5"], "probability"),
            ("ME 1 0 00", ["--hangup-at", "5"], "--link"),
            ("ME 1 0 00", ["--replay", "{store}"], "--replay cannot be combined with --store"),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            store = os.path.join(tmp, "store.txt")
            for text, options, reason in cases:
                with self.subTest(store=text, options=options):
                    Path(store).write_text(text + "\n")
                    done = subprocess.run(
                        [sys.executable, str(SIMULATOR_DIR / "modem_sim.py"), "--store", store,
                         *(o.replace("{store}", store) for o in options)],
                        capture_output=True, text=True, timeout=10)
                    self.assertEqual(done.returncode, 2)
                    self.assertEqual(done.stdout, "")
                    self.assertIn(reason, done.stderr)


class FaultTests(SimTestCase):
    def test_fail_answers_the_matching_command_with_an_error(self):
        sim = self.start("--fail", "AT+CMGD=1", "--fail", 'AT+CPMS="SM":cms:1',
                         "--fail", "AT+CMGL:cms=500", "--save-store", "saved.txt",
                         store=STORE + f"ME 10 1 {HOW_ARE_YOU}\n")
        self.assertEqual(sim.command('AT+CPMS="ME"')[:9], b"\r\n+CPMS: ")
        for _ in range(2):
            self.assertEqual(sim.command("AT+CMGD=1"), b"\r\nERROR\r\n")
        self.assertIn(("ME", "1", "1", HOW_ARE_YOU), sim.saved())
        self.assertEqual(sim.command("AT+CMGD=10"), b"\r\nOK\r\n", "AT+CMGD=1 is not a prefix")
        self.assertEqual(sim.command("AT+CMGL=4"), b"\r\n+CMS ERROR: 500\r\n")
        self.assertEqual(sim.command('AT+CPMS="SM"'), b"\r\n+CMS ERROR: 321\r\n")
        self.assertIn(b'"ME"', sim.command("AT+CPMS?"), "a failed selection changed memory")
        self.assertEqual(sim.command('AT+CPMS="SM"')[:9], b"\r\n+CPMS: ", "failed twice")

    def test_silent_command_gets_no_reply_but_the_modem_lives_on(self):
        for echo, expected in (("off", b""), ("on", b"AT+CMGL=4\r")):
            with self.subTest(echo=echo):
                sim = self.start("--silent", "AT+CMGL", echo=echo)
                sim.send("AT+CMGL=4")
                self.assertEqual(sim.read_for(1.0), expected)
                self.assertTrue(sim.command("AT").endswith(b"\r\nOK\r\n"))

    def test_hangup_mid_listing(self):
        with tempfile.TemporaryDirectory() as tmp:
            link = os.path.join(tmp, "modem")
            sim = self.start("--hangup-after-bytes", "100", "--link", link, "--log", "log.jsonl")
            sim.command('AT+CPMS="ME"')
            sim.send("AT+CMGL=4")
            received, deadline = b"", time.monotonic() + 10
            while time.monotonic() < deadline:
                if not select.select([sim.fd], [], [], 1.0)[0]:
                    continue
                try:
                    data = os.read(sim.fd, 4096)
                except OSError:
                    break
                if not data:
                    break
                received += data
            self.assertEqual(received, ME_LISTING[:100])
            self.assertEqual(sim.proc.wait(timeout=5), 0)
            self.assertFalse(os.path.lexists(link))
            self.assertEqual(sim.log()[-1]["event"], "hangup")


class StoreDuringListingTests(SimTestCase):
    NEW = pdu_builder.deliver("+79161234567", "New arrival")

    def test_arrival_is_announced_but_not_listed(self):
        sim = self.start("--store-during-listing", f"SM:7:{self.NEW}", "--save-store", "saved.txt",
                         "--log", "log.jsonl")
        sim.command('AT+CPMS="ME"')
        self.assertEqual(sim.command("AT+CMGL=4"), ME_LISTING, "arrived during the ME listing")
        sim.command('AT+CPMS="SM"')
        first_entry = SM_LISTING.index(b"+CMGL: 10")
        expected = (SM_LISTING[:first_entry] + b'\r\n+CMTI: "SM",7\r\n'
                    + SM_LISTING[first_entry:])
        self.assertEqual(sim.command("AT+CMGL=4"), expected)
        self.assertIn(("SM", "7", "0", self.NEW), sim.saved())
        self.assertIn(f"+CMGL: 7,0,,{pdu_builder.tpdu_length(self.NEW)}\r\n{self.NEW}".encode(),
                      sim.command("AT+CMGL=4"))
        stored = [e for e in sim.log() if e["event"] == "stored"]
        self.assertEqual([(e["storage"], e["index"]) for e in stored], [("SM", 7)])


class OneMemoryAndRefillTests(SimTestCase):
    NEW = pdu_builder.deliver("+79161234567", "New arrival")
    ALIASED = f"ME 1 1 {HOW_ARE_YOU}\nME 2 0 {SIPGATE}\nSM 10 1 {REPORT}\n"

    def test_aliased_names_list_and_delete_one_memory(self):
        sim = self.start("--alias", "ME=SM", "--log", "log.jsonl", store=self.ALIASED)
        listing = (f"\r\n+CMGL: 1,1,,30\r\n{HOW_ARE_YOU}\r\n+CMGL: 2,0,,27\r\n{SIPGATE}\r\n"
                   f"+CMGL: 10,1,,26\r\n{REPORT}\r\n\r\nOK\r\n").encode()
        self.assertEqual(sim.command('AT+CPMS="ME"'), b"\r\n+CPMS: 3,50,3,50,3,50\r\n\r\nOK\r\n")
        self.assertEqual(sim.command("AT+CMGL=4"), listing)
        sim.command('AT+CPMS="SM"')
        self.assertEqual(sim.command("AT+CMGL=4"), listing.replace(b"2,0,", b"2,1,"))
        self.assertEqual(sim.command("AT+CMGD=2"), b"\r\nOK\r\n")
        sim.command('AT+CPMS="ME"')
        self.assertEqual(sim.command("AT+CMGR=2"), b"\r\n+CMS ERROR: 321\r\n")
        deletes = [(e["storage"], e["index"]) for e in sim.log() if e["event"] == "delete"]
        self.assertEqual(deletes, [("ME", 2)], "the log names the place it was stored under")

    def test_a_full_memory_rejects_what_arrives(self):
        sim = self.start("--capacity", "SM=2", "--store-during-deletion", f"SM:3:{self.NEW}",
                         "--log", "log.jsonl",
                         store=f"ME 1 1 {HOW_ARE_YOU}\nSM 1 1 {HELLOHELLO}\nSM 2 1 {HELLOHELLO}\n")
        self.assertEqual(sim.command('AT+CPMS="SM"'), b"\r\n+CPMS: 2,2,2,2,2,2\r\n\r\nOK\r\n")
        sim.send('AT+CPMS="ME"')
        sim.read_for(0.3)
        sim.send("AT+CMGD=1")
        self.assertEqual(sim.read_for(0.3), b'\r\nOK\r\n\r\n^SMMEMFULL: "SM"\r\n')
        self.assertEqual([(e["event"], e["storage"], e["index"]) for e in sim.log()
                          if e["event"] in ("rejected", "stored")], [("rejected", "SM", 3)])

    def test_a_freed_place_gets_its_newcomer_right_after_the_delete(self):
        refills = [pdu_builder.deliver("+79160000099", f"Refill {n}, stored at ME {n}")
                   for n in (1, 2)]
        # (options, store, what AT+CMGD=1 then AT+CMGD=2 on ME answer, the deletions and
        # arrivals logged: (storage, index), with the PDU of an arrival)
        table = [
            (["--refill"], STORE,
             [b'\r\nOK\r\n\r\n+CMTI: "ME",1\r\n', b'\r\nOK\r\n\r\n+CMTI: "ME",2\r\n'],
             [("ME", 1), ("ME", 1, refills[0]), ("ME", 2), ("ME", 2, refills[1])]),
            # Its place taken at first: it comes once the second delete frees it.
            (["--store-during-deletion", f"ME:2:{self.NEW}"], STORE,
             [b"\r\nOK\r\n", b'\r\nOK\r\n\r\n+CMTI: "ME",2\r\n'],
             [("ME", 1), ("ME", 2), ("ME", 2, self.NEW)]),
            # A free place: the first delete brings it; SM 1 is ME 1 of one memory.
            (["--store-during-deletion", f"SM:1:{self.NEW}", "--alias", "SM=ME"], self.ALIASED,
             [b'\r\nOK\r\n\r\n+CMTI: "SM",1\r\n', b"\r\nOK\r\n"],
             [("ME", 1), ("SM", 1, self.NEW), ("ME", 2)]),
        ]
        for options, store, answers, events in table:
            with self.subTest(options=options):
                sim = self.start(*options, "--log", "log.jsonl", store=store)
                sim.command('AT+CPMS="ME"')
                for index, answer in zip((1, 2), answers):
                    sim.send(f"AT+CMGD={index}")
                    self.assertEqual(sim.read_for(0.3), answer)
                self.assertEqual([(e["storage"], e["index"]) + (
                    (e["pdu"],) if e["event"] == "stored" else ()) for e in sim.log()
                    if e["event"] in ("delete", "stored")], events)
                arrived = [e for e in events if len(e) == 3][-1]
                self.assertIn(f"{arrived[2]}\r\n".encode(), sim.command(f"AT+CMGR={arrived[1]}"))
                sim.stop()


class TimedArrivalTests(SimTestCase):
    NEW = pdu_builder.deliver("+79161234567", "New arrival")
    ARRIVES = 0.6   # seconds after start-up: AT+CNMI is answered long before

    def start_with_arrivals(self, lines, *options, **kwargs):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, "arrivals.txt")
        Path(path).write_text("# test arrivals\n" + "".join(f"{self.ARRIVES} {line}\n"
                                                              for line in lines))
        return self.start("--arrive", path, "--log", "log.jsonl", *options, **kwargs)

    def test_arrivals_are_stored_in_the_first_free_index_and_announced_as_cnmi_asks(self):
        report = pdu_builder.status_report("+79161234567", mr=42)
        # (options, AT+CNMI or None, arrivals, what the line brings unasked, the arrivals
        # logged: (event, storage, index, announced))
        table = [
            ([], "2,1,0,0,0", [self.NEW], b'\r\n+CMTI: "SM",2\r\n', [("stored", "SM", 2, True)]),
            ([], None, [self.NEW], b"", [("stored", "SM", 2, False)]),
            # Routing straight to the terminal (+CMT) is not simulated: stored, not announced.
            ([], "2,2,0,0,0", [self.NEW], b"", [("stored", "SM", 2, False)]),
            (["--arrival-memory", "ME"], "1,1", [self.NEW, f"SM {self.NEW}"],
             b'\r\n+CMTI: "ME",3\r\n\r\n+CMTI: "SM",2\r\n',
             [("stored", "ME", 3, True), ("stored", "SM", 2, True)]),
            ([], "2,1,0,2,0", [report], b'\r\n+CDSI: "SR",1\r\n', [("stored", "SR", 1, True)]),
            ([], "2,1,0,0,0", [report], b"", [("stored", "SR", 1, False)]),
            (["--capacity", "SM=3"], "2,1,0,0,0", [self.NEW, self.NEW],
             b'\r\n+CMTI: "SM",2\r\n\r\n^SMMEMFULL: "SM"\r\n',
             [("stored", "SM", 2, True), ("rejected", "SM", 3, None)]),
            (["--drop-notifications", "1"], "2,1,0,2,0", [self.NEW, report], b"",
             [("stored", "SM", 2, False), ("stored", "SR", 1, False)]),
        ]
        for options, cnmi, arrivals, expected, logged in table:
            with self.subTest(options=options, cnmi=cnmi, arrivals=len(arrivals)):
                sim = self.start_with_arrivals(arrivals, *options)
                if cnmi:
                    self.assertEqual(sim.command(f"AT+CNMI={cnmi}"), b"\r\nOK\r\n")
                self.assertEqual(sim.read_for(self.ARRIVES + 0.6), expected)
                self.assertEqual([(e["event"], e["storage"], e["index"], e.get("announced"))
                                  for e in sim.log() if e["event"] in ("stored", "rejected")],
                                 logged)
                for _, storage, index, _ in (e for e in logged if e[0] == "stored"):
                    sim.command(f'AT+CPMS="{storage}"')
                    self.assertRegex(sim.command(f"AT+CMGR={index}"), rb"^\r\n\+CMGR: 0,,")
                sim.stop()

    def test_announcements_come_between_reply_lines_only(self):
        # A listing at 2400 baud takes about a second; messages arrive all through it.
        sim = self.start("--baud", "2400", "--arrive-every", "0.1:15")
        sim.command("AT+CNMI=2,1,0,0,0")
        sim.command('AT+CPMS="ME"')
        listing = sim.command("AT+CMGL=4")
        announced = re.compile(rb'\r\n\+CMTI: "SM",\d+\r\n')
        self.assertEqual(announced.sub(b"", listing), ME_LISTING)
        self.assertTrue(announced.search(listing[:-len(b"\r\nOK\r\n")]))

    def test_every_arrival_of_a_series_is_its_own_message(self):
        sim = self.start("--arrive-every", "0.05:3:parts=2", "--log", "log.jsonl", store="")
        sim.read_for(0.6)
        stored = [e["pdu"] for e in sim.log() if e["event"] == "stored"]
        self.assertEqual(len(stored), 6)
        self.assertEqual(len(set(p[:60] for p in stored[::2])), 3, "senders not distinct")


class LineBehaviourTests(SimTestCase):
    """Timing and framing of what a real serial line delivers."""

    @staticmethod
    def timed_reply(sim, command):
        """(reply, [(arrival time, bytes)]) with times relative to the write."""
        chunks, out = [], b""
        start = time.monotonic()
        sim.send(command)
        while not FINAL.search(out):
            if not select.select([sim.fd], [], [], 5.0)[0]:
                raise AssertionError(f"no final result code in {out!r}")
            data = os.read(sim.fd, 4096)
            chunks.append((time.monotonic() - start, data))
            out += data
        return out, chunks

    def test_latency_delays_the_reply_but_not_the_echo(self):
        sim = self.start("--latency", "300", echo="on")
        reply, chunks = self.timed_reply(sim, "AT")
        self.assertEqual(reply, b"AT\r\r\nOK\r\n")
        self.assertEqual(chunks[0][1], b"AT\r", "the echo waited for the latency")
        ok_at = next(t for t, data in chunks if b"OK" in data)
        self.assertGreaterEqual(ok_at - chunks[0][0], 0.28)

    def test_pacing_takes_roughly_the_time_of_the_line(self):
        for baud, count in ((19200, 20), (115200, 100)):
            with self.subTest(baud=baud):
                store = "\n".join(pdu_builder.generate_store(count, seed=2)) + "\n"
                sim = self.start("--baud", str(baud), store=store)
                sim.command('AT+CPMS="ME"')
                reply, chunks = self.timed_reply(sim, "AT+CMGL=4")
                expected = len(reply) * 10 / baud
                elapsed = chunks[-1][0]
                self.assertGreater(len(chunks), 2)
                self.assertGreater(elapsed, expected * 0.8)
                self.assertLess(elapsed, expected * 2 + 0.3)

    def test_split_reply_arrives_in_pieces_with_short_gaps(self):
        sim = self.start("--split", "--seed", "4")
        sim.command('AT+CPMS="ME"')
        reply, chunks = self.timed_reply(sim, "AT+CMGL=4")
        self.assertEqual(reply, ME_LISTING)
        self.assertGreater(len(chunks), 3)
        gaps = [b[0] - a[0] for a, b in zip(chunks, chunks[1:])]
        self.assertLess(max(gaps), 0.2, "a gap this long ends a client's read")

    def test_unsolicited_lines_come_only_between_reply_lines(self):
        sim = self.start("--unsolicited", "--seed", "1")
        sim.command('AT+CPMS="ME"')
        expected = ME_LISTING
        for _ in range(3):
            listing = sim.command("AT+CMGL=4")
            self.assertEqual(URC.sub(b"", listing), expected)
            expected = ME_LISTING.replace(b"+CMGL: 2,0,", b"+CMGL: 2,1,")   # now read
            header = b"+CMGL: 1,1,,30\r\n"
            self.assertTrue(URC.match(listing, listing.index(header) + len(header)),
                            "no unsolicited line between the first header and its PDU")
            self.assertEqual(sim.read_for(0.2), b"", "unsolicited line after the final OK")
        inserted = 0
        for _ in range(10):
            reply = sim.command("ATI")
            self.assertTrue(reply.endswith(b"\r\nOK\r\n"))
            inserted += len(URC.findall(reply))
        self.assertGreater(inserted, 0)


class ReplayTests(SimTestCase):
    TRACE = ("open: OK\n"
             "       0 ms << +CREG: 1\\r\\n\n"
             "       2 ms >> AT+CMGS=23\\r\n"
             "      10 ms << \\r\\n> \n"
             "      12 ms >> 0011000B91^Z\n"
             "      40 ms << \\r\\n+CMGS: 0\\r\\n\\r\\nOK\\r\\n\n"
             "      41 ms == OK\n"
             "\rreceived 1024 bytes\r      50 ms >> AT+CMGL=4\\r\n"
             "      60 ms << +CMGL: 1,1\n"
             "     460 ms << ,,23\\r\\n\n"
             "     470 ms << \\\\r \u041f\ufffd\\r\\n\n")
    STEPS = [(b"AT+CMGS=23\r", [(0.008, b"\r\n> ")]),
             (b"0011000B91\x1a", [(0.028, b"\r\n+CMGS: 0\r\n\r\nOK\r\n")]),
             (b"AT+CMGL=4\r", [(0.01, b"+CMGL: 1,1"), (0.41, b",,23\r\n"),
                               (0.42, b"\\r \xcf\xef\xbf\xbd\r\n")])]

    def test_a_trace_reads_back_into_the_bytes_it_shows(self):
        # (trace, steps as (command, [(seconds after it, bytes)]), bytes before the first)
        table = [
            (self.TRACE, self.STEPS, 10),
            ("   5 ms >> ^[\n   9 ms >> AT\\r\r\n", [(b"\x1b", []), (b"AT\r", [])], 0),
        ]
        for trace, steps, before in table:
            with self.subTest(trace=trace):
                parsed, dropped = modem_sim.parse_trace(trace)
                self.assertEqual([(s.command, s.received) for s in parsed], steps)
                self.assertEqual(dropped, before)

    def test_the_trace_answers_its_commands_in_order_and_nothing_else(self):
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        trace = Path(work.name, "trace.txt")
        trace.write_text(self.TRACE, encoding="utf-8")
        sim = self.start("--replay", str(trace), "--log", "log.jsonl", store=None)
        table = [
            (b"AT+CMGL=4\r", b"\r\nERROR\r\n"),        # not the next step: it stays
            (b"AT+CMGS=23\r", b"\r\n> "),
            (b"0011000B91\x1a", b"\r\n+CMGS: 0\r\n\r\nOK\r\n"),
            (b"AT+CMGL=4\r", b"+CMGL: 1,1"),           # the rest 400 ms later
            (b"", b",,23\r\n\\r \xcf\xef\xbf\xbd\r\n"),
            (b"AT\r", b"\r\nERROR\r\n"),              # beyond the trace
        ]
        for written, answer in table:
            with self.subTest(written=written):
                os.write(sim.fd, written)
                self.assertEqual(sim.read_for(0.3), answer)
        sim.proc.send_signal(signal.SIGTERM)
        sim.proc.wait(timeout=10)
        log = sim.log()
        self.assertEqual([(e["step"], e["matched"]) for e in log if e["event"] == "command"],
                         [(1, False), (1, True), (2, True), (3, True), (4, False)])
        self.assertEqual(log[-1], {**log[-1], "event": "replayed", "steps": 3, "replayed": 3,
                                   "mismatched": 1, "beyond": 1, "complete": False})


if __name__ == "__main__":
    unittest.main()
