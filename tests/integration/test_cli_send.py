"""quorlin send: its options and where its text comes from, through --dry-run, which opens no
port; the PDUs it prints are read back by quorlin decode."""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = os.environ.get("QUORLIN_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
CLI = os.environ.get("QUORLIN_CLI", os.path.join(ROOT, "build", "linux", "cli", "quorlin"))


def send(args, stdin=b""):
    return subprocess.run([CLI, "send", *args], input=stdin, capture_output=True)


def read_back(pdus):
    """The messages `quorlin decode --join --json` makes of the PDUs."""
    out = subprocess.run([CLI, "decode", "--join", "--json"], input="\n".join(pdus).encode(),
                         capture_output=True, check=True).stdout.decode()
    return [json.loads(line) for line in out.splitlines()]


def send_through_modem(sim_options, args):
    """`quorlin send` against a simulated modem started with `sim_options`; the run, the parts
    the modem's log shows sent, and the seconds it took."""
    with tempfile.TemporaryDirectory(prefix="quorlin-send-") as work:
        log = Path(work, "log.jsonl")
        sim = subprocess.Popen([sys.executable, os.path.join(ROOT, "simulator", "modem_sim.py"),
                                "--log", str(log), "--first-reference", "17", *sim_options],
                               stdout=subprocess.PIPE, text=True)
        try:
            tty = sim.stdout.readline().strip()
            started = time.monotonic()
            run = subprocess.run([CLI, "send", "--device", tty, *args], capture_output=True,
                                 timeout=120)
            seconds = time.monotonic() - started
        finally:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdout.close()
        events = [json.loads(line) for line in log.read_text().splitlines()]
        return run, [e["pdu"] for e in events if e["event"] == "sent"], seconds


class SendCommand(unittest.TestCase):
    def test_each_part_once_and_a_stop_that_says_why(self):
        text = "word " * 70  # three 7-bit parts
        # (simulator options, exit status, standard output, parts the modem sent, seconds)
        table = [
            (["--prompt-style", "unsolicited"], 0,
             "sent 3 parts to +79161234567: references 17 18 19", 3, 10),
            (["--refuse-send", "330:after=1"], 1,
             "sent 1 part of 3 to +79161234567: references 17; stopped: part 2 refused: "
             "+CMS ERROR: 330 (SMSC address unknown)", 1, 10),
            (["--no-prompt=1:after=2"], 1,
             "sent 2 parts of 3 to +79161234567: references 17 18; stopped: no prompt for part 3 "
             "within 10 s: cancelled, not sent", 2, 20),
            (["--fail", "AT+CMGF=0"], 1, "sent 0 parts of 3 to +79161234567; stopped: the modem "
             "did not take PDU mode (AT+CMGF=0: Error)", 0, 10),
            # The second part went, but no answer came: it is never written again.
            (["--send-silent=1:after=1"], 1,
             "sent 1 part of 3 to +79161234567: references 17; stopped: no answer: part 2 may "
             "or may not have been sent", 2, 75),
            # The same when the device goes (unplugged): said at once.
            (["--hangup-on-send", "2"], 1,
             "sent 1 part of 3 to +79161234567: references 17; stopped: no answer: part 2 may "
             "or may not have been sent", 2, 10),
        ]
        for sim_options, status, line, sent, bound in table:
            with self.subTest(sim_options=sim_options):
                run, pdus, seconds = send_through_modem(sim_options,
                                                        ["--to", "+79161234567", text])
                self.assertEqual(run.returncode, status)
                self.assertEqual(run.stdout.decode().splitlines(), [line])
                self.assertEqual(len(pdus), sent)
                self.assertEqual(len(set(pdus)), sent, "a part written twice")
                self.assertLess(seconds, bound)
                if status == 0:
                    self.assertEqual([m["text"] for m in read_back(pdus)], [text])

    def test_a_redacted_trace_sends_the_real_text_and_shows_only_fillers(self):
        text = "Привет Маша, встречаемся у Ольги " * 3  # two UCS2 parts
        run, pdus, _ = send_through_modem([], ["--to", "+79161234567", "--smsc", "+79168999100",
                                               "--trace", "--redact", text])
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        self.assertEqual([m["text"] for m in read_back(pdus)], [text])
        trace = run.stderr.decode()
        for secret in ("79161234567", "9761214365F7", "79168999100", "Маша", "041F0440"):
            self.assertNotIn(secret, trace)
        written = [line.split(" >> ", 1)[1].removesuffix("^Z") for line in trace.splitlines()
                   if " ms >> " in line and line.endswith("^Z")]
        self.assertEqual([len(pdu) for pdu in written], [len(pdu) for pdu in pdus])
        shown = read_back(written)
        self.assertEqual([m["text"] for m in shown], ["x" * len(text)])

    def test_usage_errors(self):
        # (arguments, standard input, what the first line of standard error says); the
        # encoder's own refusals stand in its unit table, one of each kind is enough here.
        table = [
            (["--dry-run", "--to", "+7916"], b"", "the text is empty"),
            (["--dry-run", "--to", "+7916"], b"\n", "the text is empty"),
            (["--dry-run", "--to", "+7916"], b"caf\xe9\n", "not valid UTF-8"),
            (["--dry-run", "--to", "+7916", b"\xff".decode("utf-8", "surrogateescape")], b"",
             "not valid UTF-8"),
            (["--dry-run", "--to", "+7916", "x" * (153 * 255 + 1)], b"", "more than 255 parts"),
            (["--dry-run", "--to", "+7916ABC", "hi"], b"", "--to needs"),
            (["--dry-run", "hi"], b"", "--to needs"),
            (["--dry-run", "--to", "+7916", "--smsc", "centre", "hi"], b"", "--smsc needs"),
            (["--dry-run", "--to", "+7916", "--validity", "0", "hi"], b"", "--validity needs"),
            (["--dry-run", "--to", "+7916", "--validity", "1.5", "hi"], b"", "--validity needs"),
            (["--to", "+7916", "hi"], b"", "--device needs"),
            (["--dry-run", "--to", "+7916", "--redact", "hi"], b"", "--redact needs --trace"),
            (["--device", "/dev/null", "--speed", "0", "--to", "+7916", "hi"], b"",
             "--speed needs"),
            (["--dry-run", "--to", "+7916", "--colour", "hi"], b"", "unknown option"),
            (["--dry-run", "--to", "+7916", "hi", "--report"], b"", "--report stands in"),
            (["--dry-run", "--to"], b"", "--to needs a value"),
        ]
        for args, stdin, message in table:
            with self.subTest(args=[a[:20] for a in args], stdin=stdin):
                run = send(args, stdin)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertEqual(run.stdout, b"")
                self.assertIn(message, run.stderr.decode("utf-8", "replace").splitlines()[0])

    def test_the_text_from_arguments_or_standard_input(self):
        # (words after the options, standard input, the text sent)
        table = [
            (["Hello,", "world"], b"", "Hello, world"),
            (["--", "-5", "degrees", "--report"], b"", "-5 degrees --report"),
            ([], "Привет, мир 😀\n".encode(), "Привет, мир 😀"),
            ([], b"two\r\nlines\r\n", "two\r\nlines"),
            ([], b"one line end kept\n\n", "one line end kept\n"),
            ([], b"no line end", "no line end"),
        ]
        for words, stdin, text in table:
            with self.subTest(words=words, stdin=stdin):
                run = send(["--dry-run", "--to", "+79161234567", *words], stdin)
                self.assertEqual(run.returncode, 0, run.stderr)
                (message,) = read_back(run.stdout.decode().splitlines())
                self.assertEqual(message["text"], text)

    def test_dry_run_reads_back_whole(self):
        text = "Long text with € and [brackets] " * 20
        run = send(["--dry-run", "--to", "89161234567", "--report", "--validity", "48", text])
        self.assertEqual(run.returncode, 0, run.stderr)
        pdus = run.stdout.decode().splitlines()
        self.assertEqual(len(pdus), 5)  # 700 septets, 153 to a part
        (message,) = read_back(pdus)
        self.assertEqual((message["kind"], message["address"], message["address_type"],
                          message["coding"], message["parts"], message["text"]),
                         ("submit", "+89161234567", 0x81, "gsm7", 5, text))
        as_json = send(["--dry-run", "--json", "--to", "89161234567", "--report", "--validity",
                        "48", text])
        records = [json.loads(line) for line in as_json.stdout.decode().splitlines()]
        self.assertEqual([(r["part"], r["total"]) for r in records], [(i, 5) for i in range(1, 6)])
        self.assertEqual([r["length"] for r in records], [len(r["pdu"]) // 2 - 1 for r in records])


if __name__ == "__main__":
    unittest.main()
