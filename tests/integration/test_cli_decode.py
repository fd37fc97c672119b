"""quorlin decode: exactly one output line per PDU, whatever the PDU holds."""
import json
import os
import subprocess
import sys
import unittest

ROOT = os.environ.get("QUORLIN_ROOT", os.path.join(os.path.dirname(__file__), "..", ".."))
CLI = os.environ.get("QUORLIN_CLI", os.path.join(ROOT, "build", "linux", "cli", "quorlin"))
sys.path.insert(0, os.path.join(ROOT, "simulator"))

import pdu_builder  # noqa: E402

HELLO = "07912143658709F1040B912143658709F1000080215241035021 05C8329BFD06"
HELLO_LINE = "25.12.08 14:30:05\t+12345678901\tHello"


def decode(args=(), stdin=b""):
    out = subprocess.run([CLI, "decode", *args], input=stdin, capture_output=True, check=True)
    return out.stdout.decode("utf-8").split("\n")[:-1]


class DecodeCommand(unittest.TestCase):
    def test_one_line_per_argument_and_per_input_line(self):
        inputs = [
            HELLO,
            "",  # an empty line yields an empty line
            "NOT HEX AT ALL",
            HELLO.lower(),
            pdu_builder.deliver("+79161234567", "line one\nline two\r\nthree"),
        ]
        by_args = decode(inputs)
        by_stdin = decode(stdin="\r\n".join(inputs).encode() + b"\r\n")
        self.assertEqual(by_args, by_stdin)
        self.assertEqual(len(by_args), len(inputs))
        self.assertEqual(by_args[0], HELLO_LINE)
        self.assertEqual(by_args[1:3], ["", ""])
        self.assertEqual(by_args[3], HELLO_LINE)
        self.assertTrue(by_args[4].endswith("\tline one line two  three"), by_args[4])

    def test_utf8_output(self):
        pdu = pdu_builder.deliver("+79031112233", "Привет 😀", encoding="ucs2")
        self.assertTrue(decode([pdu])[0].endswith("\tПривет 😀"))

    def test_join_puts_complete_messages_together_and_leaves_incomplete_ones(self):
        whole = pdu_builder.deliver_parts("+79161234567", "Привет! " * 12, ref=23)
        broken = pdu_builder.deliver_parts("+79031112233", "x" * 200, ref=7, ref16=True)
        lines = decode(["--join", whole[1], broken[0], whole[0]])
        self.assertEqual(len(lines), 2)
        first_part = lines[0].split("\t")[2]  # alone: its second part is missing
        self.assertTrue(set(first_part) == {"x"} and len(first_part) < 200, first_part)
        self.assertTrue(lines[1].endswith("\t" + "Привет! " * 12), lines[1])

    def test_json_carries_the_fields_the_line_drops(self):
        pdu = pdu_builder.deliver_parts("+79161234567", "y" * 170, ref=300, ref16=True)[1]
        (record,) = [json.loads(line) for line in decode(["--json", pdu])]
        self.assertEqual(record["kind"], "deliver")
        self.assertEqual(record["time_stamp"], "2024-05-17T10:30:00+03:00")
        self.assertEqual(record["service_centre"], "+79168999100")
        self.assertEqual(record["concatenation"],
                         {"reference": 300, "reference16": True, "part": 2, "total": 2})
        self.assertTrue(record["whole"])
        self.assertTrue(record["decoded"])
        self.assertNotIn("reason", record)

    def test_control_characters_cannot_drive_the_terminal(self):
        pdu = pdu_builder.deliver("+79031112233", "a\x1b[2Jb\tc\x07\x7f\x9bd", encoding="ucs2")
        self.assertTrue(decode([pdu])[0].endswith("\ta\ufffd[2Jb\tc\ufffd\ufffd\ufffdd"))

    def test_nul_separators_and_direction_controls_keep_the_line_whole(self):
        text = "a\x00b\u2028c\u2029d\u202ee\u2067f"
        pdu = pdu_builder.deliver("+79031112233", text, encoding="ucs2")
        line = subprocess.run([CLI, "decode", pdu], capture_output=True, check=True).stdout
        self.assertTrue(line.endswith("\ta\ufffdb\ufffdc\ufffdd\ufffde\ufffdf\n".encode()), line)
        (record,) = [json.loads(line) for line in decode(["--json", pdu])]
        self.assertEqual(record["text"], text)  # JSON escapes what it must and keeps the rest

    def test_an_empty_text_keeps_time_stamp_and_sender(self):
        empty = pdu_builder.deliver("+79161234567", "")
        header_only = pdu_builder.deliver("+79161234567", "", udh=bytes([0x00, 0x03, 5, 2, 1]))
        self.assertEqual(decode([empty, header_only]),
                         ["17.05.24 10:30:00\t+79161234567\t"] * 2)

    def test_json_says_whether_the_message_was_decoded_and_why_not(self):
        cut = HELLO[:-2]
        spurious_header = HELLO.replace("040B91", "440B91")
        records = [json.loads(line) for line in decode(["--json", HELLO, cut, spurious_header])]
        self.assertEqual([(r["decoded"], r.get("reason"), r["whole"]) for r in records],
                         [(True, None, True), (False, "user data cut short", False),
                          (False, "user-data header does not fit", False)])
        self.assertEqual(records[2]["text"], "Hello [undecodable: user-data header does not fit]")
        self.assertEqual(decode([cut]),
                         ["25.12.08 14:30:05\t+12345678901\tHell [undecodable: user data cut short]"])

    @unittest.skipUnless(os.path.exists("/dev/full"), "no /dev/full on this system")
    def test_a_write_error_is_exit_status_1(self):
        with open("/dev/full", "wb") as full:
            for args, stdin in (([HELLO], b""), ([], HELLO.encode() + b"\n")):
                run = subprocess.run([CLI, "decode", *args], input=stdin, stdout=full,
                                     stderr=subprocess.PIPE)
                self.assertEqual(run.returncode, 1, args)
                self.assertIn(b"cannot write", run.stderr)


if __name__ == "__main__":
    unittest.main()
