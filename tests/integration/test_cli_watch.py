"""quorlin watch against the simulated modem: every stored message reaches the spool once, is
deleted only after its file is there, and a restart deletes what the journal names without
handing it on again."""
import json
import os
import random
import resource
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(os.environ.get("QUORLIN_ROOT", Path(__file__).resolve().parents[2]))
CLI = os.environ.get("QUORLIN_CLI", str(ROOT / "build/linux/cli/quorlin"))
sys.path.insert(0, str(ROOT / "simulator"))

import pdu_builder  # noqa: E402

TEXTS = (("ME", 1, "one"), ("ME", 2, "two"), ("SM", 4, "four"))
LATE = pdu_builder.deliver("+79165550000", "arrived while listing")


def store_of(texts):
    return "".join(f"{storage} {index} 1 {pdu_builder.deliver('+79161234567', text)}\n"
                   for storage, index, text in texts)


class Watch:
    """The simulator on `store`, and quorlin watch spooling from it into `spool` (or, without
    `spool`, handing on to its standard output)."""

    def __init__(self, work, store, *sim_options, spool=True, preexec_fn=None):
        self.work = Path(work)
        self.spool = self.work / "spool"
        self.spool.mkdir(exist_ok=True)
        self.log = self.work / f"log-{time.monotonic_ns()}.jsonl"
        store_path = self.work / "store.txt"
        store_path.write_text(store, encoding="utf-8")
        self.sim = subprocess.Popen([sys.executable, str(ROOT / "simulator/modem_sim.py"),
                                     "--store", str(store_path), "--log", str(self.log),
                                     *sim_options], stdout=subprocess.PIPE, text=True)
        tty = self.sim.stdout.readline().strip()
        hand_off = ["--spool", str(self.spool)] if spool else []
        self.watch = subprocess.Popen([CLI, "watch", "--device", tty, *hand_off, "--state",
                                       str(self.work / "state.journal"), "--poll", "1"],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                      preexec_fn=preexec_fn)

    def wait_for(self, condition, limit=60):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline and not condition():
            time.sleep(0.1)
        return condition()

    def spooled(self):
        return [json.loads(p.read_text(encoding="utf-8")) for p in self.spool.glob("*.json")]

    def events(self, kind):
        if not self.log.exists():
            return []
        return [e for e in map(json.loads, self.log.read_text().splitlines())
                if e["event"] == kind]

    def stop(self):
        self.watch.send_signal(signal.SIGTERM)
        out, err = self.watch.communicate(timeout=30)
        self.sim.terminate()
        self.sim.wait(timeout=10)
        self.sim.stdout.close()
        return self.watch.returncode, out, err


class WatchTest(unittest.TestCase):
    def test_every_message_once_in_the_spool_and_deleted_after_it(self):
        with tempfile.TemporaryDirectory(prefix="quorlin-watch-") as work:
            watch = Watch(work, store_of(TEXTS), "--store-during-listing", f"SM:9:{LATE}")
            texts = sorted([t for _, _, t in TEXTS] + ["arrived while listing"])
            self.assertTrue(watch.wait_for(lambda: len(watch.spooled()) == len(texts)))
            self.assertTrue(watch.wait_for(lambda: len(watch.events("delete")) == len(texts)))
            code, out, err = watch.stop()
            self.assertEqual(code, 0, err)
            self.assertEqual(out, "")
            spooled = watch.spooled()
            self.assertEqual(sorted(m["text"] for m in spooled), texts)
            for message in spooled:
                self.assertEqual(Path(watch.spool, message["id"] + ".json").exists(), True)
            self.assertEqual([p.name for p in watch.spool.iterdir() if p.suffix != ".json"], [])
            # Each deleted place held a message that was in the spool by then.
            spooled_places = {(m["storage"], m["index"]) for m in spooled}
            for delete in watch.events("delete"):
                self.assertIn((delete.get("storage"), delete.get("index")), spooled_places,
                              delete)
            journal = Path(work, "state.journal").read_text().split()
            self.assertEqual(sorted(journal[0::2]), sorted(m["id"] for m in spooled))

    def test_restart_deletes_what_was_handed_on_without_handing_it_on_again(self):
        with tempfile.TemporaryDirectory(prefix="quorlin-watch-") as work:
            first = Watch(work, store_of(TEXTS[:1]))
            self.assertTrue(first.wait_for(lambda: len(first.events("delete")) == 1))
            self.assertEqual(first.stop()[0], 0)
            (handed_on,) = first.spooled()
            Path(first.spool, handed_on["id"] + ".json").unlink()
            # The same message is back on the modem (a delete the modem lost), and a new one.
            second = Watch(work, store_of([TEXTS[0], TEXTS[2]]))
            self.assertTrue(second.wait_for(lambda: len(second.events("delete")) == 2))
            code, _, err = second.stop()
            self.assertEqual(code, 0, err)
            self.assertEqual([m["text"] for m in second.spooled()], ["four"])

    def test_a_journal_that_cannot_grow_hands_on_nothing_twice(self):
        # A file-size limit lets the journal hold one line (44 bytes): the first message is
        # recorded and deleted; the others are handed on once each and stay on the modem.
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (60, 60))

        with tempfile.TemporaryDirectory(prefix="quorlin-watch-") as work:
            watch = Watch(work, store_of(TEXTS), spool=False, preexec_fn=small_files)
            self.assertTrue(watch.wait_for(lambda: len(watch.events("delete")) == 1))
            time.sleep(3)  # three more reads at --poll 1
            code, out, err = watch.stop()
            self.assertEqual(code, 0, err)
            self.assertEqual(sorted(json.loads(line)["text"] for line in out.splitlines()),
                             sorted(t for _, _, t in TEXTS), err)
            self.assertEqual(len(watch.events("delete")), 1)
            self.assertIn("cannot add", err)
            journal = Path(work, "state.journal").read_text()
            self.assertEqual(len(journal.splitlines()), 1, "a line cut short stays behind")

    def test_chaos_ends_with_every_message_once_and_the_store_empty(self):
        # 16 messages of one part and 5 of two arrive over about 8 s; a third of the
        # announcements are lost, the modem hangs up once, and the watcher is killed twice.
        rng = random.Random(7)
        with tempfile.TemporaryDirectory(prefix="quorlin-chaos-") as work:
            work = Path(work)
            spool, link, log = work / "spool", work / "modem", work / "log.jsonl"
            spool.mkdir()
            sim = subprocess.Popen(
                [sys.executable, str(ROOT / "simulator/modem_sim.py"), "--link", str(link),
                 "--log", str(log), "--arrive-every", "0.5:16", "--arrive-every", "1.6:5:parts=2",
                 "--drop-notifications", "0.33", "--seed", "3", "--hangup-at", "4.5",
                 "--hangup-for", "1"], stdout=subprocess.PIPE, text=True)
            sim.stdout.readline()
            command = [CLI, "watch", "--device", str(link), "--join", "--spool", str(spool),
                       "--state", str(work / "state.journal"), "--poll", "1"]

            def events(kind):
                return [e for e in map(json.loads, log.read_text().splitlines())
                        if e["event"] == kind]

            def spooled():
                return [json.loads(f.read_text(encoding="utf-8")) for f in spool.glob("*.json")]

            try:
                for _ in range(2):
                    watch = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                             stderr=subprocess.DEVNULL)
                    time.sleep(rng.uniform(1.5, 4))
                    watch.kill()
                    watch.wait()
                watch = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.PIPE, text=True)
                deadline = time.monotonic() + 120
                while time.monotonic() < deadline and not (
                        len(spooled()) == 21 and
                        len(events("delete")) == len(events("stored"))):
                    time.sleep(0.2)
                watch.send_signal(signal.SIGTERM)
                _, err = watch.communicate(timeout=30)
            finally:
                sim.terminate()
                sim.wait(timeout=10)
                sim.stdout.close()
            messages = spooled()
            self.assertEqual(len(messages), 21, err)
            self.assertEqual(len({m["text"] for m in messages}), 21, "a message spooled twice")
            self.assertEqual(len(events("stored")), 26)
            self.assertEqual(sorted((e["storage"], e["index"], e["pdu"]) for e in events("delete")),
                             sorted((e["storage"], e["index"], e["pdu"]) for e in events("stored")))
            self.assertEqual(watch.returncode, 0, err)

    def test_usage_errors(self):
        with tempfile.TemporaryDirectory(prefix="quorlin-watch-") as work:
            # (arguments after --device, what standard error says)
            table = [(["--spool", str(Path(work, "missing"))], "--spool needs a folder"),
                     (["--redact"], "--redact needs --trace"),
                     (["--bogus"], "unknown option '--bogus'")]
            for args, message in table:
                with self.subTest(args=args):
                    run = subprocess.run([CLI, "watch", "--device", "/dev/null", *args],
                                         capture_output=True, text=True, timeout=30)
                    self.assertEqual(run.returncode, 2)
                    self.assertIn(message, run.stderr)


if __name__ == "__main__":
    unittest.main()
