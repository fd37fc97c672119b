"""quorlin read against the simulated modem: nothing is deleted that did not reach the output,
and the count of shown and listed messages ends standard error."""
import datetime
import json
import os
import random
import shutil
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


def multipart_store(seed=5):
    """30 messages, 12 of them in 2 to 4 parts stored out of order among the others; the last
    part of one of them (from +79160000011) is missing. Returns the store text and the texts of
    the complete messages."""
    rng = random.Random(seed)
    slots, complete = [], []
    for number in range(30):
        if number < 12:
            count = 2 + number % 3  # parts; 152 seven-bit characters fit in each
            text = (f"long {number} " + "word " * 200)[:152 * (count - 1) + 40]
            parts = pdu_builder.deliver_parts(f"+7916000{number:04d}", text, ref=number + 1,
                                              ref16=number % 2 == 1)
            assert len(parts) == count
            if number == 11:
                parts = parts[:-1]
            else:
                complete.append(text)
            slots += parts
        else:
            text = f"single {number} " + "w" * rng.randrange(5, 60)
            slots.append(pdu_builder.deliver(f"+7903000{number:04d}", text))
            complete.append(text)
    rng.shuffle(slots)
    places = [("ME" if at % 2 == 0 else "SM", at + 1) for at in range(len(slots))]
    store = "".join(f"{s} {i} 1 {pdu}\n" for (s, i), pdu in zip(places, slots))
    return store, complete


def read_with_delete(stdout, *options, store=None):
    """Runs `quorlin read --delete` with standard output going to `stdout`; returns the run and
    the deletions in the simulator's log."""
    with tempfile.TemporaryDirectory(prefix="quorlin-read-") as work:
        store_path = Path(work, "store.txt")
        store_path.write_text(store or STORE, encoding="utf-8")
        run, events = read_against(["--store", str(store_path)], ["--delete", *options], stdout)
        return run, [e for e in events if e["event"] == "delete"]


def read_against(simulator_options, options, stdout=subprocess.PIPE):
    """Runs `quorlin read` against the simulator started with these options; returns the run and
    the simulator's log."""
    with tempfile.TemporaryDirectory(prefix="quorlin-read-") as work:
        log = Path(work, "log.jsonl")
        sim = subprocess.Popen([sys.executable, str(ROOT / "simulator/modem_sim.py"),
                                *simulator_options, "--log", str(log)], stdout=subprocess.PIPE,
                               text=True)
        try:
            tty = sim.stdout.readline().strip()
            run = subprocess.run([CLI, "read", "--device", tty, *options], stdout=stdout,
                                 stderr=subprocess.PIPE, timeout=60)
        finally:
            sim.terminate()
            sim.wait(timeout=10)
            sim.stdout.close()
        return run, [json.loads(line) for line in log.read_text().splitlines()]


def small_store():
    """An 18-slot SIM holding 15 messages: eight whole ones, a message in two parts, one that
    arrived whole but cannot be decoded (SM 11), one damaged on the line every time (SM 12), and
    three parts of two incomplete messages from two senders sharing reference 9, an hour old.
    Returns the store text and the texts of the incomplete messages once released."""
    hour_ago = datetime.datetime.now(datetime.timezone(datetime.timedelta(hours=3))) - \
        datetime.timedelta(hours=1)
    hello = pdu_builder.deliver("+79161234567", "Hello")
    slots = [pdu_builder.deliver("+7916111000" + str(n), f"whole {n}") for n in range(8)]
    slots += pdu_builder.deliver_parts("+79162222222", "two " * 50, ref=5)
    slots += [hello[:16] + "44" + hello[18:], hello]
    anna = pdu_builder.deliver_parts("+79163333333", "anna " * 70, ref=9, timestamp=hour_ago)
    bank = pdu_builder.deliver_parts("+79164444444", "bank " * 40, ref=9, timestamp=hour_ago)
    slots += anna[:2] + bank[:1]
    assert len(anna) == 3 and len(bank) == 2
    store = "".join(f"SM {index} 1 {pdu}\n" for index, pdu in enumerate(slots, 1))
    return store, {"+79163333333": ("anna " * 70)[:306] + "[part 3 of 3 missing]",
                   "+79164444444": ("bank " * 40)[:153] + "[part 2 of 2 missing]"}


def read_twice(store, first, second, hours_later):
    """`quorlin read` with the `first` options, then, with the simulator restarted on what was left
    and the clock `hours_later`, with the `second`; the runs and the simulator's logs."""
    with tempfile.TemporaryDirectory(prefix="quorlin-twice-") as work:
        store_path = Path(work, "store.txt")
        store_path.write_text(store, encoding="utf-8")
        outcome = []
        for options, clock in ((first, []), (second, hours_later)):
            log = Path(work, "log.jsonl")
            sim = subprocess.Popen(
                [sys.executable, str(ROOT / "simulator/modem_sim.py"), "--store", str(store_path),
                 "--save-store", str(store_path), "--capacity", "SM=18", "--garble", "SM:12",
                 "--log", str(log)], stdout=subprocess.PIPE, text=True)
            try:
                tty = sim.stdout.readline().strip()
                env = dict(os.environ, FAKETIME_DONT_FAKE_MONOTONIC="1",
                           ASAN_OPTIONS="verify_asan_link_order=0")
                run = subprocess.run([*clock, CLI, "read", "--device", tty, *options],
                                     capture_output=True, timeout=60, env=env)
            finally:
                sim.terminate()
                sim.wait(timeout=10)
                sim.stdout.close()
            outcome.append((run, [json.loads(line) for line in log.read_text().splitlines()]))
        return outcome


class ReadCommand(unittest.TestCase):
    def test_usage_errors(self):
        for args in (["--speed", ""], ["--speed", "abc"], ["--speed", "0"],
                     ["--speed", "12345678"], ["--device", ""],
                     ["--join", "--release-after", "-1"], ["--join", "--release-after", "1.5"],
                     ["--release-after", "5"], ["--stores", "ME,XX"], ["--stores", "SM,SM"],
                     ["--stores", "BM"], ["--stores", ""], ["--redact"]):
            with self.subTest(args=args):
                full = ["--device", "/dev/null", *args] if args[0] != "--device" else args
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

    def test_a_redacted_trace_holds_no_number_nor_text_and_its_pdus_decode(self):
        numbers = ["+79161234567", "+4915780001234", "+79165550011", "+79168999100"]
        texts = ["Meet Olga at Baker Street", "Привет Маша", "Code 4711 for login",
                 "Natasha and the garden " * 8]
        pdus = [pdu_builder.deliver(numbers[0], texts[0]),
                pdu_builder.deliver(numbers[1], texts[1]),
                pdu_builder.deliver("MyBank", texts[2]),
                *pdu_builder.deliver_parts(numbers[2], texts[3], ref=7),
                pdu_builder.deliver(numbers[0], texts[2].encode(), encoding="8bit")]
        store = "".join(f"ME {index} 1 {pdu}\n" for index, pdu in enumerate(pdus, 1))
        run, _ = read_with_delete(subprocess.PIPE, "--trace", "--redact", store=store)
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        self.assertIn(texts[0], run.stdout.decode())
        trace = run.stderr.decode()
        swapped = [pdu_builder.semi_octets(n.lstrip("+")).hex().upper() for n in numbers]
        for secret in [n.lstrip("+") for n in numbers] + swapped + ["MyBank"] + texts:
            self.assertNotIn(secret, trace)
        received = [line.split(" << ", 1)[1].replace("\\r", "").replace("\\n", "")
                    for line in trace.splitlines() if " ms << " in line]
        redacted = [line for line in received if len(line) > 20 and
                    all(c in "0123456789ABCDEF" for c in line)]
        # The listing, then each message read again before it is deleted.
        self.assertEqual(len(redacted), 2 * len(pdus))
        redacted = redacted[:len(pdus)]
        self.assertEqual([len(pdu) for pdu in redacted], [len(pdu) for pdu in pdus])
        decoded = subprocess.run([CLI, "decode", *redacted], capture_output=True, text=True,
                                 check=True).stdout.splitlines()
        self.assertEqual(len(decoded), len(pdus))
        for line in decoded:
            self.assertNotIn("undecodable", line)
            self.assertTrue(set(line.split("\t")[2]) <= {"x"}, line)

    def test_a_redacted_trace_replayed_gives_the_same_dialogue_with_fillers(self):
        texts = ["Meet Olga at Baker Street", "Привет Маша", "Natasha and the garden " * 8]
        pdus = [pdu_builder.deliver("+79161234567", texts[0]),
                pdu_builder.deliver("+79161234567", texts[1]),
                *pdu_builder.deliver_parts("+79165550011", texts[2], ref=7)]
        store = "".join(f"ME {index} 1 {pdu}\n" for index, pdu in enumerate(pdus, 1))
        recorded, _ = read_with_delete(subprocess.PIPE, "--trace", "--redact", store=store)
        self.assertEqual(recorded.returncode, 0, recorded.stderr.decode())
        trace = recorded.stderr.decode()
        # The numbers, their semi-octets as in a PDU, the texts, and the ends of the PDUs' texts.
        secrets = ["79161234567", "9761214365", "79165550011"] + texts + [p[-16:] for p in pdus]
        for secret in secrets:
            self.assertNotIn(secret, trace)
        with tempfile.TemporaryDirectory(prefix="quorlin-trace-") as work:
            trace_path = Path(work, "trace.txt")
            trace_path.write_bytes(recorded.stderr)
            run, log = read_against(["--replay", str(trace_path)], ["--delete"])
        self.assertEqual(run.returncode, 0, run.stderr.decode())
        shown = run.stdout.decode().splitlines()
        self.assertEqual(len(shown), len(recorded.stdout.decode().splitlines()))
        for line in shown:
            self.assertTrue(set(line.split("\t")[2]) <= {"x"}, line)
        commands = [e for e in log if e["event"] == "command"]
        self.assertTrue(commands and all(e["matched"] for e in commands), commands)
        self.assertEqual(log[-1], {**log[-1], "event": "replayed", "replayed": log[-1]["steps"],
                                   "mismatched": 0, "beyond": 0, "complete": True})

    def test_every_message_shown_and_deleted_from_the_memories_asked_for(self):
        # (options, messages shown and deleted, exit status, the last lines of standard error)
        table = [
            ([], 3, 0, ["shown 3, listed for deletion 3", "stores: ME 2/255, SM 1/50"]),
            (["--stores", "SM,ME"], 3, 0,
             ["shown 3, listed for deletion 3", "stores: SM 1/50, ME 2/255"]),
            # The simulated modem has no MT: skipped, and the run says so.
            (["--stores", "MT,SM"], 1, 1, ["shown 1, listed for deletion 1", "stores: SM 1/50"]),
        ]
        for options, count, status, last_lines in table:
            with self.subTest(options=options):
                run, deletions = read_with_delete(subprocess.PIPE, *options)
                self.assertEqual(run.returncode, status)
                self.assertEqual(len(run.stdout.decode().splitlines()), count)
                self.assertEqual(len(deletions), count)
                self.assertEqual(run.stderr.decode().splitlines()[-2:], last_lines)
                if status:
                    self.assertIn("MT: the modem refused the memory; not read", run.stderr.decode())

    def test_a_message_not_decoded_whole_stays_and_one_without_text_shows_its_line(self):
        hello = pdu_builder.deliver("+79161234567", "Hello")
        spurious_header = hello[:16] + "44" + hello[18:]  # TP-UDHI set, no header there
        two_units = pdu_builder.deliver("+79161234567", "Пр", encoding="ucs2")
        odd_ucs2 = two_units[:-10] + "05041F044004"
        store = "".join(f"{s} {i} 1 {pdu}\n" for s, i, pdu in (
            ("ME", 1, hello), ("ME", 2, pdu_builder.deliver("+79161234567", "")),
            ("ME", 3, spurious_header), ("SM", 4, odd_ucs2)))
        run, deletions = read_with_delete(subprocess.PIPE, store=store)
        stamp = "17.05.24 10:30:00\t+79161234567\t"
        self.assertEqual(run.stdout.decode().splitlines(),
                         [stamp + "Hello", stamp,
                          stamp + "Hello [undecodable: user-data header does not fit]",
                          stamp + "Пр [undecodable: odd UCS2 length]"])
        self.assertEqual([(d["storage"], d["index"]) for d in deletions], [("ME", 1), ("ME", 2)])
        self.assertEqual(run.stderr.decode().splitlines()[-2], "shown 4, listed for deletion 2")
        self.assertEqual(run.returncode, 1)

    def test_join_deletes_complete_messages_whole_and_keeps_an_incomplete_one(self):
        store, complete = multipart_store()
        run, deletions = read_with_delete(subprocess.PIPE, "--join", "--release-after", "never",
                                          store=store)
        texts = [line.split("\t")[2] for line in run.stdout.decode().splitlines()]
        for text in complete:
            self.assertIn(text, texts)
        self.assertEqual(len(texts), len(complete) + 3)
        stored = {(s, int(i)): pdu for s, i, _, pdu in
                  (line.split(None, 3) for line in store.splitlines())}
        kept = set(stored) - {(d["storage"], d["index"]) for d in deletions}
        self.assertEqual(len(deletions), len(stored) - 3)  # the three parts of message 11
        self.assertTrue(all("+79160000011" in subprocess.run(
            [CLI, "decode", stored[place]], capture_output=True).stdout.decode() for place in kept))
        self.assertIn("kept 3 parts of an incomplete message from +79160000011, reference 12, "
                      "3 of 4", run.stderr.decode())
        self.assertEqual(run.returncode, 1)

    @unittest.skipUnless(shutil.which("faketime"), "SKIPPED: faketime is not installed")
    def test_a_small_store_runs_empty_over_two_runs_but_for_the_damaged_message(self):
        store, released = small_store()
        (first, first_log), (second, second_log) = read_twice(
            store, ["--join", "--delete"], ["--join", "--delete", "--delete-undecodable", "--json"],
            ["faketime", "-f", "+25h"])

        def deleted(log):
            # Every message deleted was in a listing of this run and read back right before.
            commands = [e["line"] for e in log if e["event"] == "command"]
            for event in (e for e in log if e["event"] == "delete"):
                listing = commands.index("AT+CMGL=4")
                self.assertEqual(commands[commands.index(f"AT+CMGD={event['index']}") - 1],
                                 f"AT+CMGR={event['index']}")
                self.assertLess(listing, commands.index(f"AT+CMGD={event['index']}"))
            return sorted(e["index"] for e in log if e["event"] == "delete")

        self.assertEqual(deleted(first_log), list(range(1, 11)))
        self.assertEqual(first.returncode, 1)
        self.assertEqual(first.stderr.decode().splitlines()[-2:], [
            "SM is 83 % full: the network stops delivering when it is full",
            "stores: ME 0/255, SM 15/18"])
        self.assertEqual(deleted(second_log), [11, 13, 14, 15])
        records = [json.loads(line) for line in second.stdout.decode().splitlines()]
        self.assertEqual(records[1]["text"], "[unreadable on the line]")
        for sender, text in released.items():
            (record,) = [r for r in records if r.get("address") == sender]
            self.assertEqual((record["text"], record["complete"], record["missing"]),
                             (text, False, [int(text.split("[part ")[1][0])]))
        self.assertEqual(records[-2], {"stores": [{"storage": "ME", "used": 0, "total": 255},
                                                  {"storage": "SM", "used": 5, "total": 18}]})
        self.assertEqual(len(records[-1]["deleted"]), 4)
        self.assertEqual(second.stderr.decode().splitlines()[-1], "stores: ME 0/255, SM 5/18")
        self.assertEqual(second.returncode, 1)

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full on this system")
    def test_nothing_deleted_when_the_output_cannot_be_written(self):
        with open("/dev/full", "wb") as full:
            run, deletions = read_with_delete(full)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(deletions, [])
        self.assertIn(b"nothing is deleted", run.stderr)


if __name__ == "__main__":
    unittest.main()
