"""quorlin send: its options and where its text comes from, through --dry-run, which opens no
port; the PDUs it prints are read back by quorlin decode."""
import json
import os
import subprocess
import unittest

ROOT = os.environ.get("QUORLIN_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
CLI = os.environ.get("QUORLIN_CLI", os.path.join(ROOT, "build", "linux", "cli", "quorlin"))


def send(args, stdin=b""):
    return subprocess.run([CLI, "send", *args], input=stdin, capture_output=True)


def read_back(pdus):
    """The messages `quorlin decode --join --json` makes of the PDUs."""
    out = subprocess.run([CLI, "decode", "--join", "--json"], input="\n".join(pdus).encode(),
                         capture_output=True, check=True).stdout.decode()
    return [json.loads(line) for line in out.splitlines()]


class SendCommand(unittest.TestCase):
    def test_usage_errors(self):
        # (arguments, standard input, what the first line of standard error says)
        table = [
            (["--dry-run", "--to", "+7916"], b"", "the text is empty"),
            (["--dry-run", "--to", "+7916"], b"\n", "the text is empty"),
            (["--dry-run", "--to", "+7916"], b"caf\xe9\n", "not valid UTF-8"),
            (["--dry-run", "--to", "+7916", b"\xff".decode("utf-8", "surrogateescape")], b"",
             "not valid UTF-8"),
            (["--dry-run", "--to", "+7916", "x" * (153 * 255 + 1)], b"", "more than 255 parts"),
            (["--dry-run", "--to", "+7916", "Ж" * (67 * 255 + 1)], b"", "more than 255 parts"),
            (["--dry-run", "--to", "+7916ABC", "hi"], b"", "--to needs"),
            (["--dry-run", "--to", "+" + "1" * 21, "hi"], b"", "--to needs"),
            (["--dry-run", "hi"], b"", "--to needs"),
            (["--dry-run", "--to", "+7916", "--smsc", "centre", "hi"], b"", "--smsc needs"),
            (["--dry-run", "--to", "+7916", "--validity", "0", "hi"], b"", "--validity needs"),
            (["--dry-run", "--to", "+7916", "--validity", "10585", "hi"], b"",
             "--validity needs"),
            (["--dry-run", "--to", "+7916", "--validity", "1.5", "hi"], b"", "--validity needs"),
            (["--to", "+7916", "hi"], b"", "--device needs"),
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
