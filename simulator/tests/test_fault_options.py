"""The simulated modem's options for placing a fault exactly: a count and a number of commands
answered normally first (--fail, --silent), and one cut at a chosen byte (--split-at).

Run: python3 -m unittest discover -s simulator/tests
"""

import errno
import os
import select
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_modem_sim import (FINAL, ME_LISTING, PARTS, PROMPT, SimTestCase, sent,  # noqa: E402
                            typed)


def read_pieces(sim, quiet=0.6, gap=0.15):
    """[(seconds since the call, bytes)] until the final result code, or nothing for `quiet`
    seconds; bytes that follow each other within `gap` are one piece: the output between two
    pauses of the modem."""
    pieces, out, start = [], b"", time.monotonic()
    while not FINAL.search(out):
        if not select.select([sim.fd], [], [], quiet)[0]:
            break
        data = os.read(sim.fd, 4096)
        now = time.monotonic() - start
        if pieces and now - pieces[-1][0] < gap:
            pieces[-1] = (now, pieces[-1][1] + data)
        else:
            pieces.append((now, data))
        out += data
    return pieces


class FaultPlacementTests(SimTestCase):
    def test_fault_takes_only_the_chosen_commands(self):
        # (options, what the first four AT+CPMS="ME" get: reply kind or None for silence)
        table = [
            (["--fail", 'AT+CPMS="ME":error:1:after=2'], ["OK", "OK", "ERROR", "OK"]),
            (["--fail", 'AT+CPMS="ME":cms:after=1'], ["OK", "+CMS", "+CMS", "+CMS"]),
            (["--fail", 'AT+CPMS="ME":2'], ["ERROR", "ERROR", "OK", "OK"]),
            (["--silent", 'AT+CPMS="ME":1:after=1'], ["OK", None, "OK", "OK"]),
            (["--silent", 'AT+CPMS="ME":2'], [None, None, "OK", "OK"]),
            (["--silent", 'AT+CPMS="ME"'], [None, None, None, None]),
            # A silence and a failure on one command: each counts every matching command.
            (["--silent", 'AT+CPMS="ME":1', "--fail", 'AT+CPMS="ME":1:after=2'],
             [None, "OK", "ERROR", "OK"]),
        ]
        for options, expected in table:
            with self.subTest(options=options):
                sim = self.start(*options)
                got = []
                for _ in expected:
                    sim.send('AT+CPMS="ME"')
                    reply = b"".join(data for _, data in read_pieces(sim, quiet=0.4))
                    match = FINAL.search(reply)
                    got.append(match.group(1).decode().split(" ")[0].replace("ERROR:", "")
                               if match else None)
                self.assertEqual(got, expected)
                self.assertTrue(sim.command("AT").endswith(b"\r\nOK\r\n"),
                                "the modem did not live on after its faults")

    def test_silence_ignores_the_command(self):
        sim = self.start("--silent", "AT+CMGD=2:1", "--log", "log.jsonl")
        sim.command('AT+CPMS="ME"')
        sim.send("AT+CMGD=2")
        self.assertEqual(read_pieces(sim, quiet=0.3), [])
        self.assertTrue(sim.command("AT+CMGD=2").endswith(b"\r\nOK\r\n"))
        deletes = [e for e in sim.log() if e["event"] == "delete"]
        self.assertEqual([(e["storage"], e["index"]) for e in deletes], [("ME", 2)])

    def test_split_at_cuts_each_output_once_at_that_byte(self):
        for echo, command, output in (
                ("off", "AT", b"\r\nOK\r\n"),
                ("on", "AT+CMGD=1", b"AT+CMGD=1\r\r\nOK\r\n")):
            for at in range(1, len(output)):
                with self.subTest(echo=echo, at=at):
                    sim = self.start("--split-at", str(at), echo=echo)
                    sim.send(command)
                    pieces = read_pieces(sim)
                    self.assertEqual([data for _, data in pieces], [output[:at], output[at:]])
                    sim.stop()

    def test_split_at_leaves_short_output_whole_and_cuts_listings_too(self):
        sim = self.start("--split-at", "6")
        sim.send("AT")
        self.assertEqual([data for _, data in read_pieces(sim)], [b"\r\nOK\r\n"])
        sim.command('AT+CPMS="ME"')
        sim.send("AT+CMGL=4")
        pieces = read_pieces(sim)
        self.assertEqual(pieces[0][1], b"\r\n+CMG")
        self.assertIn(b"+CMGL: 1005,", b"".join(data for _, data in pieces))


class SendFaultTests(SimTestCase):
    def test_send_faults_take_the_chosen_parts(self):
        one, two = map(typed, PARTS)
        ok = b"\r\nOK\r\n"
        self.check_sends([
            (["--refuse-send", "500:after=1"], [(one, PROMPT + sent(0)),
              (two, PROMPT + b"\r\n+CMS ERROR: 500\r\n"), (two, PROMPT + sent(1))],
             [(0, True), (1, True)]),
            # Sent unanswered, its reference used; the client's ESC costs it no command.
            (["--send-silent=after=1"], [(one, PROMPT + sent(0)), (two, PROMPT),
              (b"\x1bAT\r", ok), (two, PROMPT + sent(2))], [(0, True), (1, False), (2, True)]),
            (["--no-prompt", "1:after=1"], [(one, PROMPT + sent(0)),
              (typed(PARTS[1], end=b"\x1b"), ok), (two, PROMPT + sent(1))], [(0, True), (1, True)]),
            # Refused before the prompt: the PDU is no PDU then.
            (["--fail", "AT+CMGS:cms=500"],
             [(typed(PARTS[0], end=b""), b"\r\n+CMS ERROR: 500\r\n")], []),
        ])

    def test_hangup_once_a_part_is_typed(self):
        sim = self.start("--hangup-on-send", "1", "--log", "log.jsonl")
        os.write(sim.fd, typed(PARTS[0]))
        self.assertEqual(os.read(sim.fd, 100), PROMPT)
        self.assertEqual(sim.proc.wait(timeout=10), 0)
        self.assertEqual([(e["event"], e.get("answered")) for e in sim.log()[1:]],
                         [("sent", False), ("hangup", None)])


class UnplugTests(SimTestCase):
    def test_after_a_hangup_the_link_leads_to_the_same_store(self):
        with tempfile.TemporaryDirectory() as tmp:
            link = os.path.join(tmp, "modem")
            sim = self.start("--link", link, "--hangup-at", "0.5", "--hangup-for", "1",
                             "--arrive-every", "1:1", "--log", "log.jsonl")
            sim.close()
            sim.tty = link
            sim.open()
            sim.command("AT+CNMI=2,1,0,0,0")
            sim.command('AT+CPMS="ME"')
            self.assertTrue(select.select([sim.fd], [], [], 10)[0], "no hang-up")
            self.assertEqual(os.read(sim.fd, 100), b"", "a hung-up terminal reads end-of-file")
            with self.assertRaises(OSError) as raised:
                sim.send("AT")
            self.assertEqual(raised.exception.errno, errno.EIO)
            sim.close()
            deadline = time.monotonic() + 10
            while sim.fd is None:
                try:
                    sim.open()   # the link is gone, or leads nowhere yet
                except OSError:
                    self.assertLess(time.monotonic(), deadline, "the link did not come back")
                    time.sleep(0.05)
            # As after power-up: nothing announced, SM selected; the arrival meanwhile is kept.
            self.assertEqual(sim.command("AT+CNMI?"), b"\r\n+CNMI: 0,0,0,0,0\r\n\r\nOK\r\n")
            self.assertIn(b"\r\n+CMGL: 2,0,,", sim.command("AT+CMGL=4"))
            sim.command('AT+CPMS="ME"')
            self.assertEqual(sim.command("AT+CMGL=4"), ME_LISTING)
            sim.close()
            sim.open()
            self.assertEqual(sim.command("AT"), b"\r\nOK\r\n")
            log = sim.log()
            self.assertEqual([e["event"] for e in log if e["event"] in ("unplugged", "plugged")],
                             ["unplugged", "plugged"])
            self.assertEqual([e.get("because") for e in log if e["event"] == "stored"],
                             ["hung up"])
            self.assertEqual(sim.stop(), 0)
            self.assertFalse(os.path.lexists(link))


class PeerClientTests(SimTestCase):
    def test_what_gammu_asks_while_it_finds_out_the_phone(self):
        sim = self.start()
        # (command, a line the reply must hold, or None when only the final result counts)
        table = [("AT+CHUP=?", None, b"OK"), ("AT+CHUP", None, b"OK"),
                 ("AT+CMEE=1", None, b"OK"), ("AT+CSCS=?", b'+CSCS: ("IRA","GSM","UCS2")', b"OK"),
                 ("AT+CGMI", b"QSIM", b"OK"), ("AT+CPMS=?", b'+CPMS: ("ME","SM","SR")', b"OK"),
                 ("AT+CFUN=1", None, b"OK"),
                 # Vendor commands a generic phone does not know.
                 ("AT+MODE=2", None, b"ERROR"), ("AT$TSSPCSW=?", None, b"ERROR")]
        for command, line, final in table:
            with self.subTest(command=command):
                reply = sim.command(command)
                self.assertEqual(FINAL.search(reply).group(1), final)
                if line:
                    self.assertIn(line, reply)


if __name__ == "__main__":
    unittest.main()
