#!/usr/bin/env python3
"""Every benchmark figure, each as a ratio measured in this run; scripts/bench.sh calls it after
building build/bench. Writes the table to docs/benchmarks.md and the plot to docs/read-time.png.

    python3 bench/run_benchmarks.py --build build/bench [--docs docs] [--quick]

Figures:
  decoding      PDUs per second of Quorlin's decoder over libGammu's, same mixed set (>= 3)
  decode a file `quorlin decode` on a 200,000-line file of PDUs, end to end, against
                bench/gammu_decode_lines doing the same with libGammu (>= 3)
  reading       `quorlin read` of a 100-message store from the simulated modem at 19200 and
                115200 baud, against the line time (bytes x 10 / baud), the goal
                (1.05 x line time + 0.5 s at 19200, 1.1 x line time + 0.5 s at 115200) and
                `gammu getallsms` on the same store and pty
  answer delay  one AT exchange (bench/exchange_latency, Exchange on the pty) with a modem
                that answers 300 ms after the command, against the goal of 350 ms
  memory        peak resident memory of reading 100 messages, Quorlin against gammu
"""

import argparse
import json
import os
import re
import select
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SIMULATOR = ROOT / "simulator/modem_sim.py"
sys.path.insert(0, str(ROOT / "simulator"))

import modem_sim  # noqa: E402
import pdu_builder  # noqa: E402

FINAL = re.compile(rb"\r\n(OK|ERROR|\+CMS ERROR: \d+)\r\n")
QUORLIN_COMMANDS = ('AT+CPMS="ME"', "AT+CMGL=4", 'AT+CPMS="SM"', "AT+CMGL=4")
SIZES = (10, 25, 50, 100)
SEED = 1
DECODE_LINES = 200_000
DECODE_MESSAGES = 500   # distinct generated messages, repeated to DECODE_LINES lines
# Reading the store may take at most factor x line time + extra seconds, at each speed.
READ_GOALS = {19200: (1.05, 0.5), 115200: (1.1, 0.5)}
ANSWER_LATENCY_MS = 300
WATCH_GOAL_MS = 1000   # +CMTI to spool file, at 115200 baud
ANSWER_GOAL_MS = 350


def read_goal(baud, line):
    """The goal for reading the store at `baud`: its formula and its seconds."""
    factor, extra = READ_GOALS[baud]
    return f"{factor:g} x line + {extra:g} s", factor * line + extra


class Simulator:
    """One simulated modem with a store of `count` generated messages."""

    def __init__(self, work, count, *options):
        self.store = os.path.join(work, f"store-{count}.txt")
        Path(self.store).write_text("\n".join(pdu_builder.generate_store(count, SEED)) + "\n")
        self.proc = subprocess.Popen([sys.executable, str(SIMULATOR), "--store", self.store,
                                      *options], stdout=subprocess.PIPE, text=True)
        self.tty = self.proc.stdout.readline().strip()
        if not self.tty:
            raise RuntimeError("the simulated modem did not start")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.proc.stdout.close()


def line_bytes(work, count):
    """Bytes the modem sends while Quorlin reads the store: the replies (echo included) to its
    four commands, from an unpaced simulator."""
    with Simulator(work, count) as sim:
        fd = os.open(sim.tty, os.O_RDWR | os.O_NOCTTY)
        modem_sim.make_raw(fd)
        total = 0
        for command in QUORLIN_COMMANDS:
            os.write(fd, command.encode() + b"\r")
            reply = b""
            while not FINAL.search(reply):
                if not select.select([fd], [], [], 5)[0]:
                    raise RuntimeError(f"no reply to {command}")
                reply += os.read(fd, 65536)
            total += len(reply)
        os.close(fd)
    return total


def timed(argv, **kwargs):
    started = time.monotonic()
    result = subprocess.run(argv, capture_output=True, **kwargs)
    return time.monotonic() - started, result


def quorlin_read(build, tty, baud):
    seconds, result = timed([str(build / "cli/quorlin"), "read", "--device", tty,
                             "--speed", str(baud)])
    if result.returncode != 0:
        raise RuntimeError("quorlin read failed: " + result.stderr.decode())
    return seconds, result.stdout.decode().count("\n")


def gammu_rc(work, tty, baud):
    path = os.path.join(work, f"gammurc-{baud}")
    Path(path).write_text(f"[gammu]\ndevice = {tty}\nconnection = at{baud}\n")
    return path


def gammu_read(work, tty, baud):
    seconds, result = timed(["gammu", "-c", gammu_rc(work, tty, baud), "getallsms"], timeout=600)
    match = re.search(rb"(\d+) SMS parts in", result.stdout)
    if result.returncode != 0 or not match:
        raise RuntimeError("gammu getallsms failed: " + result.stderr.decode())
    return seconds, int(match.group(1))


def peak_memory_kib(argv):
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", out.name, *argv],
                       capture_output=True, check=True, timeout=600)
        return int(out.read().split()[-1])


def decoding(build, quick):
    result = subprocess.run([str(build / "bench/decode_bench"), "--benchmark_format=json",
                             f"--benchmark_min_time={0.2 if quick else 2}"],
                            capture_output=True, check=True)
    rates = {b["name"]: b["items_per_second"] for b in json.loads(result.stdout)["benchmarks"]}
    return rates["QuorlinDecode"], rates["GammuDecode"]


def pdu_file(work):
    """DECODE_LINES PDUs, one a line, cycling through a generated store of every kind."""
    pdus = [line.split()[3] for line in pdu_builder.generate_store(DECODE_MESSAGES, SEED)
            if not line.startswith("#")]
    path = os.path.join(work, "pdus.txt")
    Path(path).write_text("\n".join(pdus[i % len(pdus)] for i in range(DECODE_LINES)) + "\n")
    return path


def decode_file(argv, pdus, out):
    """Wall time of one program turning the file of PDUs into a file of lines."""
    with open(pdus, "rb") as stdin, open(out, "wb") as stdout:
        started = time.monotonic()
        subprocess.run(argv, stdin=stdin, stdout=stdout, check=True, timeout=600)
        seconds = time.monotonic() - started
    lines = Path(out).read_bytes().count(b"\n")
    if lines != DECODE_LINES:
        raise RuntimeError(f"{argv[0]} printed {lines} lines for {DECODE_LINES} PDUs")
    return seconds


def decoding_end_to_end(build, work, quick):
    """Median wall times of `quorlin decode` and gammu_decode_lines on the same file, their runs
    taking turns so that a busy moment of the machine falls on both."""
    pdus = pdu_file(work)
    out = os.path.join(work, "lines.txt")
    quorlin, gammu = [], []
    for _ in range(3 if quick else 7):
        quorlin.append(decode_file([str(build / "cli/quorlin"), "decode"], pdus, out))
        gammu.append(decode_file([str(build / "bench/gammu_decode_lines")], pdus, out))
    return statistics.median(quorlin), statistics.median(gammu)


def answer_delay(build, work, echo):
    with Simulator(work, 0, "--latency", str(ANSWER_LATENCY_MS), "--echo", echo) as sim:
        out = subprocess.run([str(build / "bench/exchange_latency"), sim.tty, "AT", "5"],
                             capture_output=True, check=True, text=True).stdout.split("\n")
    times = [float(line.split()[0]) for line in out if line.endswith(" OK")]
    if len(times) != 5:
        raise RuntimeError("exchange_latency: " + "\n".join(out))
    return statistics.median(times)


def watch_latency(build, work, count):
    """Seconds from each announced arrival (+CMTI at 115200 baud) to its spool file, in order."""
    spool = Path(work, "spool")
    spool.mkdir()
    log = Path(work, "watch-log.jsonl")
    with Simulator(work, 0, "--baud", "115200", "--arrive-every", f"1.5:{count}",
                   "--log", str(log)) as sim:
        watch = subprocess.Popen([str(build / "cli/quorlin"), "watch", "--device", sim.tty,
                                  "--speed", "115200", "--spool", str(spool), "--state",
                                  str(Path(work, "watch.journal"))],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen = {}
        deadline = time.monotonic() + 1.5 * count + 20
        while len(seen) < count and time.monotonic() < deadline:
            for name in os.listdir(spool):
                if name.endswith(".json") and name not in seen:
                    seen[name] = time.monotonic()
            time.sleep(0.005)
        watch.terminate()
        watch.wait(timeout=30)
    arrived = [e["t"] for e in map(json.loads, log.read_text().splitlines())
               if e["event"] == "stored"]
    if len(seen) != count or len(arrived) != count:
        raise RuntimeError(f"watch: {len(arrived)} arrived, {len(seen)} spooled of {count}")
    return [spooled - stored for spooled, stored in zip(sorted(seen.values()), arrived)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", type=Path, default=ROOT / "build/bench")
    parser.add_argument("--docs", type=Path, default=ROOT / "docs")
    parser.add_argument("--quick", action="store_true", help="smaller stores, shorter runs")
    args = parser.parse_args()
    build = args.build.resolve()
    load = os.getloadavg()[0]   # other work on the machine slows both sides, not evenly
    sizes = (10, 25) if args.quick else SIZES
    full = sizes[-1]
    rows = []   # (figure, measured, against, ratio, goal, met)

    def figure(name, measured, against, ratio, goal, met):
        rows.append((name, measured, against, ratio, goal, met))
        print(f"{name:44} {measured:>22} {against:>26}  ratio {ratio:7.2f}  goal {goal:12} "
              f"{'met' if met else 'NOT MET'}", flush=True)

    quorlin_rate, gammu_rate = decoding(build, args.quick)
    ratio = quorlin_rate / gammu_rate
    figure("decoding, PDUs/s (mixed set of 13)", f"{quorlin_rate:,.0f} /s",
           f"libGammu {gammu_rate:,.0f} /s", ratio, ">= 3", ratio >= 3)

    with tempfile.TemporaryDirectory(prefix="quorlin-bench-") as work:
        quorlin, gammu = decoding_end_to_end(build, work, args.quick)
        figure(f"decode a {DECODE_LINES:,}-line file, end to end, PDUs/s",
               f"{DECODE_LINES / quorlin:,.0f} /s ({quorlin:.2f} s)",
               f"libGammu {DECODE_LINES / gammu:,.0f} /s ({gammu:.2f} s)", gammu / quorlin,
               ">= 3", gammu / quorlin >= 3)

        plot = {}
        for baud in (19200, 115200):
            for count in (sizes if baud == 19200 else (full,)):
                size = line_bytes(work, count)
                line = size * 10 / baud
                with Simulator(work, count, "--baud", str(baud)) as sim:
                    quorlin, shown = quorlin_read(build, sim.tty, baud)
                with Simulator(work, count, "--baud", str(baud)) as sim:
                    gammu, parts = gammu_read(work, sim.tty, baud)
                if shown != count or parts != count:
                    raise RuntimeError(f"{count} stored: quorlin showed {shown}, "
                                       f"gammu read {parts}")
                plot.setdefault(baud, []).append((count, size, line, quorlin, gammu))
                print(f"  {baud} baud, {count} messages ({size} bytes): line {line:.2f} s, "
                      f"quorlin {quorlin:.2f} s, gammu {gammu:.2f} s", flush=True)
            count, size, line, quorlin, gammu = plot[baud][-1]
            formula, goal = read_goal(baud, line)
            figure(f"read {count} messages at {baud} baud", f"{quorlin:.2f} s",
                   f"line time {line:.2f} s", quorlin / line, "–", True)
            figure(f"read {count} messages at {baud} baud", f"{quorlin:.2f} s",
                   f"{formula} = {goal:.2f} s", quorlin / goal, "<= 1", quorlin <= goal)
            figure(f"read {count} messages at {baud} baud", f"{quorlin:.2f} s",
                   f"gammu {gammu:.2f} s", quorlin / gammu, "< 1", quorlin < gammu)

        for echo in ("off", "on"):
            delay = answer_delay(build, work, echo)
            figure(f"exchange, modem answers after {ANSWER_LATENCY_MS} ms, echo {echo}",
                   f"{delay:.0f} ms", f"goal {ANSWER_GOAL_MS} ms", delay / ANSWER_GOAL_MS, "<= 1",
                   delay <= ANSWER_GOAL_MS)

        with Simulator(work, full, "--baud", "115200") as sim:
            quorlin_kib = peak_memory_kib([str(build / "cli/quorlin"), "read", "--device",
                                           sim.tty, "--speed", "115200"])
        with Simulator(work, full, "--baud", "115200") as sim:
            gammu_kib = peak_memory_kib(["gammu", "-c", gammu_rc(work, sim.tty, 115200),
                                         "getallsms"])
        figure(f"peak memory, reading {full} messages", f"{quorlin_kib / 1024:.1f} MiB",
               f"gammu {gammu_kib / 1024:.1f} MiB", quorlin_kib / gammu_kib, "–", True)

        latencies = watch_latency(build, work, 5 if args.quick else 20)
        median = statistics.median(latencies)
        figure("watch: announced arrival to its spool file, median", f"{median * 1000:.0f} ms",
               f"goal {WATCH_GOAL_MS} ms (max {max(latencies) * 1000:.0f} ms)",
               median * 1000 / WATCH_GOAL_MS, "<= 1", median * 1000 <= WATCH_GOAL_MS)

        write_docs(args.docs, rows, plot[19200], work, load)
    return 0 if all(row[5] for row in rows) else 1


def write_docs(docs, rows, points, work, load):
    data = os.path.join(work, "read-time.dat")
    with open(data, "w") as f:
        f.write("# messages bytes line_s quorlin_s gammu_s goal_s\n")
        for count, size, line, quorlin, gammu in points:
            f.write(f"{count} {size} {line:.3f} {quorlin:.3f} {gammu:.3f} "
                    f"{read_goal(19200, line)[1]:.3f}\n")
    png = docs / "read-time.png"
    script = f"""
set terminal pngcairo size 800,500 font ",11"
set output '{png}'
set title 'Reading the whole store from the simulated modem at 19200 baud'
set xlabel 'messages in the store'
set ylabel 'seconds'
set key top left
set grid
plot '{data}' using 1:4 with linespoints lw 2 title 'quorlin read', \\
     '{data}' using 1:5 with linespoints lw 2 title 'gammu getallsms', \\
     '{data}' using 1:6 with lines dt 2 lw 2 title 'goal: {read_goal(19200, 0)[0]}', \\
     '{data}' using 1:3 with lines lw 1 title 'line time (bytes x 10 / baud)'
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)

    lines = [
        "# Benchmarks",
        "",
        "Measured by `scripts/bench.sh` (release build in `build/bench`, simulated modem on a",
        "pty); every ratio comes from one run, both sides measured in it. Run it again to",
        "refresh this page and the plot.",
        "",
        f"Machine: {os.uname().machine}, {os.cpu_count()} CPUs, load average {load:.1f} when the "
        f"run began, {time.strftime('%Y-%m-%d')}.",
        "",
        "| Figure | Quorlin | Against | Ratio | Goal | Met |",
        "|---|---|---|---|---|---|",
    ]
    for name, measured, against, ratio, goal, met in rows:
        lines.append(f"| {name} | {measured} | {against} | {ratio:.2f} | {goal} "
                     f"| {'yes' if met else '**no**'} |")
    lines += [
        "",
        "![Read time against store size](read-time.png)",
        "",
        "| Messages | Bytes on the line | Line time | `quorlin read` | `gammu getallsms` |",
        "|---|---|---|---|---|",
    ]
    for count, size, line, quorlin, gammu in points:
        lines.append(f"| {count} | {size} | {line:.2f} s | {quorlin:.2f} s | {gammu:.2f} s |")
    lines += [
        "",
        "How each figure is taken:",
        "",
        "- **Decoding**: Google Benchmark (`bench/decode_bench.cpp`), 13 PDUs: 7-bit and UCS2",
        "  messages, two status reports, parts of concatenated messages with 8- and 16-bit",
        "  references, an alphanumeric sender, the extension table, emoji. Both decoders go from",
        "  the hexadecimal text to a display line: Quorlin's `DecodePdu`; for libGammu",
        "  `DecodeHexBin`, `GSM_DecodePDUFrame`, `EncodeUTF8` of sender and text, and the time",
        "  stamp formatted.",
        "- **Decoding a file**: wall time of `quorlin decode < pdus.txt > lines.txt` (release",
        "  build) and of `bench/gammu_decode_lines`, which does the same with libGammu (the",
        "  steps above for each line, input and output in 64 KiB blocks). The file holds",
        f"  {DECODE_LINES:,} PDUs: {DECODE_MESSAGES} messages of every kind made by",
        f"  `pdu_builder.py` (seed {SEED}), over and over. Both print one line per PDU; median of",
        "  7 runs each (3 with `--quick`), the two programs taking turns.",
        "- **Reading**: wall time of `quorlin read --speed N` (release build) and of",
        "  `gammu getallsms` (its AT driver, `connection = atN`) on the same store, each against a",
        "  fresh simulated modem paced at N baud (`--baud`). The line time is the bytes the modem",
        "  sends for Quorlin's four commands (echo included) × 10 / N. Both read all messages.",
        "  gammu first finds out what the phone is (about 25 commands); Quorlin sends four.",
        "- **Answer delay**: `bench/exchange_latency` opens the pty through the POSIX serial port",
        "  and times `Exchange(\"AT\", 5)` from the write to its return, median of 5,",
        f"  with the modem answering {ANSWER_LATENCY_MS} ms after the command "
        f"(`--latency {ANSWER_LATENCY_MS}`).",
        "  A read returns as soon as input is there and the exchange ends at the final result",
        "  line: a read that finds nothing ends after 257 ms, the pause after it ends when the",
        "  reply arrives, and the next read returns the reply. The time is the modem's delay",
        "  plus that wake-up and that read; no silence after the reply is waited for.",
        "- **Memory**: maximum resident set size (`/usr/bin/time -f %M`) of the whole process",
        "  reading the 100-message store at 115200 baud.",
    ]
    (docs / "benchmarks.md").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    sys.exit(main())
