"""quorlin read against the simulated modem: nothing is deleted that did not reach the output,
and the count of shown and listed messages ends standard error."""
import json
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(os.environ.get("QUORLIN_ROOT", Path(__file__).resolve().parents[2]))
CLI = os.environ.get("QUORLIN_CLI", str(ROOT / "build/linux/cli/quorlin"))
sys.path.insert(0, str(ROOT / "simulator"))

import pdu_builder  # noqa: E402

STORE = "".join(f"{storage} {index} 1 {pdu_builder.deliver('+79161234567', text)}\n"
                for storage, index, text in (("ME", 1, "one"), ("ME", 2, "two"), ("SM", 4, "four")))


def read_with_delete(stdout, *options):
    """Runs `quorlin read --delete` with standard output going to `stdout`; returns the run and
    the deletions in the simulator's log."""
    with tempfile.TemporaryDirectory(prefix="quorlin-read-") as work:
        store, log = Path(work, "store.txt"), Path(work, "log.jsonl")
        store.write_text(STORE, encoding="utf-8")
        sim = subprocess.Popen([sys.executable, str(ROOT / "simulator/modem_sim.py"), "--store",
                                str(store), "--log", str(log)], stdout=subprocess.PIPE, text=True)
        try:
            tty = sim.stdout.readline().strip()
            run = subprocess.run([CLI, "read", "--device", tty, "--delete", *options], stdout=stdout,
                                 stderr=subprocess.PIPE, timeout=60)
        finally:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdout.close()
        events = [json.loads(line) for line in log.read_text().splitlines()]
        return run, [e for e in events if e["event"] == "delete"]


class ReadCommand(unittest.TestCase):
    def test_usage_errors(self):
        for args in (["--speed", ""], ["--speed", "abc"], ["--speed", "0"],
                     ["--speed", "12345678"], ["--device", ""]):
            with self.subTest(args=args):
                full = ["--device", "/dev/null", *args] if args[0] == "--speed" else args
                run = subprocess.run([CLI, "read", *full], capture_output=True)
                self.assertEqual(run.returncode, 2)
                self.assertIn(b"usage:", run.stderr)

    def test_a_port_that_cannot_be_opened_says_why(self):
        run = subprocess.run([CLI, "read", "--device", "/nonexistent/tty"], capture_output=True)
        self.assertEqual(run.returncode, 1)
        self.assertIn("open: Error. Port /nonexistent/tty  19200,n,8,1 (No such file or directory)",
                      run.stderr.decode())

    def test_trace_shows_the_dialogue_in_order(self):
        run, _ = read_with_delete(subprocess.PIPE, "--trace")
        written = [line.split(">> ", 1)[1] for line in run.stderr.decode().splitlines()
                   if " ms >> " in line]
        self.assertEqual(written[:4], ['AT+CPMS="ME"\\r', "AT+CMGL=4\\r", 'AT+CPMS="SM"\\r',
                                       "AT+CMGL=4\\r"])
        self.assertIn(" ms << ", run.stderr.decode())
        self.assertIn(" ms == OK", run.stderr.decode())

    def test_every_message_shown_and_deleted(self):
        run, deletions = read_with_delete(subprocess.PIPE)
        self.assertEqual(run.returncode, 0)
        self.assertEqual(len(run.stdout.decode().splitlines()), 3)
        self.assertEqual(len(deletions), 3)
        self.assertEqual(run.stderr.decode().splitlines()[-1], "shown 3, listed for deletion 3")

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full on this system")
    def test_nothing_deleted_when_the_output_cannot_be_written(self):
        with open("/dev/full", "wb") as full:
            run, deletions = read_with_delete(full)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(deletions, [])
        self.assertIn(b"nothing is deleted", run.stderr)


if __name__ == "__main__":
    unittest.main()
