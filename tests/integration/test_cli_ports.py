"""quorlin ports with the simulated modem's terminal linked into a device folder of the test's
own (--dev): listed, found free, and with --probe named by its AT+CGMI and AT+CGMM answers."""
import grp
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(os.environ.get("QUORLIN_ROOT", Path(__file__).resolve().parents[2]))
CLI = os.environ.get("QUORLIN_CLI", str(ROOT / "build/linux/cli/quorlin"))
sys.path.insert(0, str(ROOT / "simulator"))

from modem_sim import IDENTITY  # noqa: E402


def ports(dev, *options, prefix=()):
    return subprocess.run([*prefix, CLI, "ports", "--dev", str(dev), *options],
                          capture_output=True, text=True, timeout=30)


class PortsCommand(unittest.TestCase):
    def setUp(self):
        work = tempfile.TemporaryDirectory(prefix="quorlin-ports-")
        self.addCleanup(work.cleanup)
        self.dev = Path(work.name)
        self.sim = subprocess.Popen([sys.executable, str(ROOT / "simulator/modem_sim.py"),
                                     "--link", str(self.dev / "ttyUSB7")],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.stop)
        self.tty = self.sim.stdout.readline().strip()

    def stop(self):
        self.sim.terminate()
        self.sim.wait(timeout=10)
        self.sim.stdout.close()

    def test_listing_by_kind_of_name(self):
        (self.dev / "ttyS3").touch()  # no driver behind it
        (self.dev / "tty0").touch()
        cases = (((), f"{self.dev}/ttyUSB7  free"),
                 (("--json",), None))
        for options, expected in cases:
            with self.subTest(options=options):
                started = time.monotonic()
                run = ports(self.dev, *options)
                self.assertLess(time.monotonic() - started, 1.0)
                self.assertEqual(run.returncode, 0, run.stderr)
                lines = run.stdout.splitlines()
                self.assertEqual(len(lines), 1, run.stdout)
                if expected:
                    self.assertEqual(lines[0], expected)
                else:
                    line = json.loads(lines[0])
                    self.assertEqual((line["path"], line["status"], line["accessible"]),
                                     (f"{self.dev}/ttyUSB7", "free", True))

    def test_probe_names_the_modem(self):
        for options in (("--probe",), ("--probe", "--json")):
            with self.subTest(options=options):
                run = ports(self.dev, *options)
                self.assertEqual(run.returncode, 0, run.stderr)
                if "--json" in options:
                    modem = json.loads(run.stdout)["modem"]
                    self.assertEqual((modem["maker"], modem["model"], modem["speed"]),
                                     (IDENTITY["+CGMI"], IDENTITY["+CGMM"], 115200))
                else:
                    self.assertEqual(run.stdout.strip(),
                                     f"{self.dev}/ttyUSB7  free  modem at 115200: "
                                     f"{IDENTITY['+CGMI']} {IDENTITY['+CGMM']}")

    def test_held_port_is_not_probed(self):
        with open(self.dev / "ttyUSB7", "rb+", buffering=0):
            run = ports(self.dev, "--probe")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn(f"held by {os.getpid()}", run.stdout)
        self.assertNotIn("modem at", run.stdout)

    def test_device_closed_to_this_user_names_its_group(self):
        if os.geteuid() != 0:
            self.skipTest("changing the device's owner and running as nobody needs root")
        os.chown(self.tty, 0, grp.getgrnam("dialout").gr_gid)
        os.chmod(self.tty, 0o660)
        os.chmod(self.dev, 0o755)
        run = ports(self.dev, "--probe",
                    prefix=("setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.strip(),
                         f"{self.dev}/ttyUSB7  no permission: join group dialout")

    def test_no_devices(self):
        run = ports(self.dev / "empty")
        self.assertEqual((run.returncode, run.stdout), (0, "no serial ports found\n"))


if __name__ == "__main__":
    unittest.main()
