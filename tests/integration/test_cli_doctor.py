"""quorlin doctor against the simulated modem: a healthy phone passes every check; each
unhealthy one is named with its next step and the run exits 1; nothing on the modem changes."""
import contextlib
import grp
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

STORE = "".join(f"SM {index} 1 {pdu_builder.deliver('+79161234567', f'text {index}')}\n"
                for index in range(1, 4))


NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]


@contextlib.contextmanager
def held(tty):
    """Another program with the port open: this test's own process."""
    with open(tty, "rb+", buffering=0):
        yield []


@contextlib.contextmanager
def closed_to_nobody(tty):
    """A device of the dialout group, opened by a user outside it."""
    os.chown(tty, 0, grp.getgrnam("dialout").gr_gid)
    os.chmod(tty, 0o660)
    yield NOBODY


def doctor(*sim_options, doctor_options=(), around=None):
    """Runs quorlin doctor against a simulator started with `sim_options` (and a store of three
    messages in SM), inside `around(tty)` when given, which yields a prefix for the command;
    returns the run and the commands the simulator received."""
    with tempfile.TemporaryDirectory(prefix="quorlin-doctor-") as work:
        store, log = Path(work, "store.txt"), Path(work, "log.jsonl")
        store.write_text(STORE, encoding="utf-8")
        sim = subprocess.Popen([sys.executable, str(ROOT / "simulator/modem_sim.py"), "--store",
                                str(store), "--log", str(log), *sim_options],
                               stdout=subprocess.PIPE, text=True)
        try:
            tty = sim.stdout.readline().strip()
            with (around or (lambda _: contextlib.nullcontext([])))(tty) as prefix:
                run = subprocess.run([*prefix, CLI, "doctor", "--device", tty, *doctor_options],
                                     capture_output=True, text=True, timeout=60)
        finally:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdout.close()
        events = [json.loads(line) for line in log.read_text().splitlines()]
        return run, [e["line"] for e in events if e["event"] == "command"]


class DoctorTests(unittest.TestCase):
    def test_a_healthy_modem_passes_every_check(self):
        run, commands = doctor()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        checks = [line.split(":")[0] for line in run.stdout.splitlines()]
        self.assertEqual(checks, ["port", "AT", "PDU mode", "SIM", "registered", "signal",
                                  "memories", "service centre"])
        self.assertNotIn("\u2014", run.stdout)
        self.assertIn("memories: SM 3/50, ME 0/255, SR 0/20", run.stdout)
        # Memories selected to count them are put back as they were found.
        self.assertEqual(commands[-2], 'AT+CPMS="SM","SM","SM"')
        self.assertFalse([c for c in commands if c.startswith(("AT+CMGD", "AT+CPIN="))])

    def test_each_problem_is_named_with_its_next_step(self):
        table = [
            (("--pin", "SIM PIN"), "SIM: PIN needed \u2014 enter the PIN"),
            (("--creg", "3"), "registered: registration denied \u2014"),
            (("--creg", "0"), "registered: not registered, not searching \u2014"),
            (("--csq", "99"), "signal: unknown (+CSQ: 99,99) \u2014"),
            (("--capacity", "SM=3"), "memories: SM 3/3 full, ME 0/255, SR 0/20 \u2014 delete"),
            (("--csca", ""), "service centre: not set \u2014 needed for sending"),
            (("--pin", "ERROR:10"), "SIM: not inserted \u2014 insert a SIM card"),
            (("--answer-speed", "115200"), "AT: answers at 115200 \u2014 use --speed 115200"),
        ]
        for options, line in table:
            with self.subTest(options=options):
                run, _ = doctor(*options)
                self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                self.assertIn(line, run.stdout)
                problems = [entry for entry in run.stdout.splitlines() if "\u2014" in entry]
                self.assertEqual(len(problems), 1, run.stdout)

    def test_a_port_it_cannot_use_is_not_written_to(self):
        if os.geteuid() != 0:
            self.skipTest("changing the device's owner and running as nobody needs root")
        table = [
            (held, f"port: held by {os.getpid()} (python"),
            (closed_to_nobody, 'Permission denied: add the user to the "dialout" group'),
        ]
        for around, line in table:
            with self.subTest(around=around.__name__):
                run, commands = doctor(around=around)
                self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                self.assertIn(line, run.stdout)
                self.assertEqual(run.stdout.count("not checked"), 7)
                self.assertEqual(commands, [])

    def test_json_gives_one_object_a_check(self):
        run, _ = doctor("--pin", "SIM PUK", doctor_options=("--json",))
        self.assertEqual(run.returncode, 1)
        objects = [json.loads(line) for line in run.stdout.splitlines()]
        self.assertEqual(len(objects), 8)
        self.assertEqual(list(objects[3]), ["check", "ok", "verdict", "next"])
        self.assertEqual((objects[3]["check"], objects[3]["ok"], objects[3]["verdict"]),
                         ("SIM", False, "PUK needed"))
        self.assertTrue(all(o["ok"] for i, o in enumerate(objects) if i != 3))

    def test_a_silent_modem_ends_every_check_in_bounded_time(self):
        run, _ = doctor("--silent", "AT")
        self.assertEqual(run.returncode, 1)
        self.assertIn("AT: no answer at any usual speed", run.stdout)
        self.assertEqual(run.stdout.count("not checked"), 6)


if __name__ == "__main__":
    unittest.main()
