"""PDU builder against published PDUs (3GPP examples and peer projects' test vectors)."""

import datetime
import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SIMULATOR_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(SIMULATOR_DIR))

import modem_sim  # noqa: E402
import pdu_builder as pb  # noqa: E402


def at(*fields, quarters=0):
    return datetime.datetime(*fields, tzinfo=datetime.timezone(
        datetime.timedelta(minutes=15 * quarters)))


def unpack(octets, count, fill=0):
    value = int.from_bytes(octets, "little") >> fill
    return [(value >> (7 * i)) & 0x7F for i in range(count)]


LOREM = ("Lorem ipsum dolor sit amet, consectetur adipisicing elit, sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua.Ut enim ad minim veniam, quis nostrud "
         "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat.Duis aute irure "
         "dolor in reprehenderit in voluptate velit esse cillum dolore eu fugiat nulla pariatur."
         "Excepteur sint occaecat cupidatat non proident, sunt in culpa qui officia deserunt "
         "mollit anim id est laborum.")


class PublishedVectorTests(unittest.TestCase):
    def test_builders_reproduce_published_pdus(self):
        table = [
            ("SMS-DELIVER, sender type C8, 'hellohello'",
             lambda: pb.deliver("27838890001", "hellohello", sca="+27381000015",
                                sender_toa=0xC8, timestamp=at(1999, 3, 29, 15, 16, 59, quarters=8)),
             "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37"),
            ("SMS-DELIVER, negative time zone",
             lambda: pb.deliver("+31641600986", "How are you?", sca="+31624000000",
                                timestamp=at(2002, 8, 26, 19, 37, 41, quarters=-4)),
             "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07"),
            ("SMS-DELIVER, alphanumeric sender",
             lambda: pb.deliver("sipgate", "Testmail", sca="+447785016005",
                                timestamp=at(2008, 8, 13, 12, 7, 22, quarters=4)),
             "0791447758100650040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9"),
            ("SMS-DELIVER, UCS2 Cyrillic, part 3 of 3, 8-bit reference",
             lambda: pb.deliver("5555", "мнату, позабыв\nдаже, что  был наг.", sca="123",
                                pid=1, dcs=0x19, udh=pb.concat_ie(0x1E, 3, 3),
                                more_messages=True, timestamp=at(2009, 6, 14, 0, 21, 22,
                                                                 quarters=40)),
             "038121F340048155550119906041001222044A0500031E0303043C043D043004420443002C0020"
             "043F043E043704300431044B0432000A0434043004360435002C002004470442043E00200020043104"
             "4B043B0020043D04300433002E"),
            ("stored SMS-SUBMIT, relative validity, no service centre",
             lambda: pb.submit("+46708251358", "hellohello", validity=0xAA),
             "0011000B916407281553F80000AA0AE8329BFD4697D9EC37"),
            ("stored SMS-SUBMIT with service centre, validity of one day",
             lambda: pb.submit("+358478400241", "This is testing !", sca="+358405202090",
                               validity=pb.relative_validity(datetime.timedelta(days=1))),
             "079153485002020911000C915348870420140000A71154747A0E4ACF41F4F29C9E769F4121"),
            ("SMS-STATUS-REPORT",
             lambda: pb.status_report("+4915259911630", mr=4, sca=None,
                                      timestamp=at(2010, 6, 21, 14, 3, 43, quarters=-20),
                                      discharge=at(2010, 6, 21, 14, 3, 49, quarters=-20)),
             "0006040D91945152991136F00160124130340A0160124130940A00"),
        ]
        for name, build, expected in table:
            with self.subTest(name):
                self.assertEqual(build(), expected)

    def test_concatenated_submit_splits_like_the_published_parts(self):
        expected = [
            "0041000B915121551532F40000A0050003000301986F79B90D4AC3E7F53688FC66BFE5A0799A0E0A"
            "B7CB741668FC76CFCB637A995E9783C2E4343C3D4F8FD3EE33A8CC4ED359A079990C22BF41E5747D"
            "DE7E9341F4721BFE9683D2EE719A9C26D7DD74509D0E6287C56F791954A683C86FF65B5E06B5C367"
            "77181466A7E3F5B0AB4A0795DDE936284C06B5D3EE741B642FBBD3E1360B14AFA7E7",
            "0041000B915121551532F40000A005000300030240EEF79C2EAF9341657C593E4ED3C3F4F4DB0DAA"
            "B3D9E1F6F80D6287C56F797A0E72A7E769509D0E0AB3D3F17A1A0E2AE341E53068FC6EB7DFE43768"
            "FC76CFCBF17A98EE22D6D37350B84E2F83D2F2BABC0C22BFD96F3928ED06C9CB7079195D7693CBF2"
            "341D947683EC6F761D4E0FD3CB207B999DA683CAF37919344EB3D9F53688FC66BFE5",
            "0041000B915121551532F4000090050003000303CAA0721D64AE9FD3613AC85D67B3C32078589E0E"
            "D3EB7257113F2EC3E9E5BA1C344FBBE9A0F7781C2E8FC374D0B80E4F93C3F4301DE47EBB4170F93B"
            "4D2EBBE92CD0BCEEA683D26ED0B8CE868741F17A1AF4369BD3E37418442ECFCBF2BA9B0E6ABFD9EC"
            "341D1476A7DBA03419549ED341ECB0F82DAFB75D",
        ]
        self.assertEqual(pb.submit_parts("+15125551234", LOREM), expected)

    def test_seven_bit_user_data(self):
        table = [
            ("hellohello", 10, "E8329BFD4697D9EC37"),
            ("\f^ {}\\[~]|€", 21, "1BC58602DAA036A9CD6BC3DBF436BE0D705306"),  # extension table
            ("1234567", 7, "31D98C56B3DD00"),   # seven fill bits close the last octet
            ("@£$¥èé", 6, "808060402800"),   # default alphabet positions 0 to 5
        ]
        for text, udl, ud in table:
            with self.subTest(text=text):
                self.assertEqual(pb.encode_user_data(text, "gsm7"), (udl, bytes.fromhex(ud)))

    def test_tpdu_length_excludes_the_service_centre_field(self):
        table = [
            ("07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07", 30),
            ("0791447758100650040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9", 27),
            ("0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 23),
            ("00 11 00 0B 91 64 07 28 15 53 F8 00 00 AA 0A E8 32 9B FD 46 97 D9 EC 37", 23),
            ("", 0),
        ]
        for pdu, length in table:
            with self.subTest(pdu=pdu):
                self.assertEqual(pb.tpdu_length(pdu), length)


class FieldTests(unittest.TestCase):
    def test_time_zone_octet(self):
        for quarters, octet in ((12, 0x21), (0, 0x00), (-4, 0x48), (23, 0x32), (-14, 0x49)):
            with self.subTest(quarters=quarters):
                self.assertEqual(pb.encode_timestamp(at(2024, 1, 2, 3, 4, 5,
                                                        quarters=quarters))[-1], octet)

    def test_relative_validity_steps(self):
        table = [(datetime.timedelta(minutes=5), 0), (datetime.timedelta(hours=12), 143),
                 (datetime.timedelta(hours=12, minutes=1), 144), (datetime.timedelta(days=1), 167),
                 (datetime.timedelta(days=4), 170), (datetime.timedelta(days=30), 196),
                 (datetime.timedelta(days=31), 197), (datetime.timedelta(weeks=63), 255)]
        for period, octet in table:
            with self.subTest(period=period):
                self.assertEqual(pb.relative_validity(period), octet)

    def test_addresses(self):
        table = [
            ("+79161234567", "0B919761214365F7"),
            ("89161234567", "0B819861214365F7"),
            ("MegaBank", "0ED0CDF2392C0CBBD7"),   # 8 septets = 56 bits = 14 semi-octets
            ("A", "02D041"),
        ]
        for address, encoded in table:
            with self.subTest(address=address):
                self.assertEqual(pb.encode_address(address).hex().upper(), encoded)
        self.assertEqual(pb.encode_sca(None), b"\x00")

    def test_invalid_input_is_refused(self):
        cases = [
            lambda: pb.deliver("+7916", "Привет", encoding="gsm7"),
            lambda: pb.encode_address("+" + "1" * 21),
            lambda: pb.encode_address("TwelveLetter"),
            lambda: pb.deliver("+7916", "x" * 161),
            lambda: pb.deliver("+7916", "ж" * 71),
            lambda: pb.deliver_parts("+7916", "x" * (153 * 255 + 1)),
            lambda: pb.concat_ie(1, 2, 3),
        ]
        for number, case in enumerate(cases):
            with self.subTest(case=number):
                self.assertRaises(ValueError, case)


class ConcatenationTests(unittest.TestCase):
    @staticmethod
    def user_data(pdu):
        """(TP-UDL, TP-UD) of an SMS-DELIVER with a numeric sender."""
        octets = bytes.fromhex(pdu)
        position = 1 + octets[0] + 1
        position += 2 + (octets[position] + 1) // 2 + 2 + 7
        return octets[position], octets[position + 1:]

    def test_escape_pair_is_never_cut_between_parts(self):
        parts = pb.deliver_parts("+79161234567", "a" * 152 + "€" + "b" * 10, ref=9)
        self.assertEqual(len(parts), 2)
        udl, ud = self.user_data(parts[0])
        self.assertEqual(ud[:6], bytes.fromhex("050003090201"))
        self.assertEqual(udl, 7 + 152)
        septets = unpack(ud[6:], 152, fill=1)
        self.assertEqual(septets, [0x61] * 152)
        udl, ud = self.user_data(parts[1])
        self.assertEqual(unpack(ud[6:], udl - 7, fill=1)[:3], [0x1B, 0x65, 0x62])

    def test_surrogate_pair_is_never_cut_and_16_bit_reference(self):
        text = "ж" * 65 + "😀" + "конец"
        parts = pb.deliver_parts("+79161234567", text, ref=0x1234, ref16=True)
        self.assertEqual(len(parts), 2)
        decoded = ""
        for seq, pdu in enumerate(parts, 1):
            udl, ud = self.user_data(pdu)
            self.assertEqual(udl, len(ud))
            self.assertEqual(ud[:7], bytes([6, 0x08, 4, 0x12, 0x34, 2, seq]))
            decoded += ud[7:].decode("utf-16-be")
        self.assertEqual(decoded, text)

    def test_seven_bit_text_after_16_bit_reference_needs_no_fill(self):
        udl, ud = pb.encode_user_data("hellohello", "gsm7", pb.concat_ie(1, 2, 1, ref16=True))
        self.assertEqual(udl, 8 + 10)
        self.assertEqual(ud[7:], bytes.fromhex("E8329BFD4697D9EC37"))

    def test_short_text_stays_one_message_without_header(self):
        self.assertEqual(pb.deliver_parts("+7916", "x" * 160), [pb.deliver("+7916", "x" * 160)])
        self.assertEqual(len(pb.deliver_parts("+7916", "x" * 161)), 2)
        self.assertEqual(len(pb.deliver_parts("+7916", "ж" * 70)), 1)
        self.assertEqual(len(pb.deliver_parts("+7916", "ж" * 71)), 2)


class StoreGeneratorTests(unittest.TestCase):
    def test_generated_store_loads_and_mixes_kinds(self):
        lines = pb.generate_store(150, seed=5)
        self.assertEqual(lines, pb.generate_store(150, seed=5))
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "store.txt")
            Path(path).write_text("\n".join(lines) + "\n")
            messages = modem_sim.MessageStore.load(path).in_order()
        self.assertEqual(len(messages), 150)
        self.assertEqual({m.storage for m in messages}, {"ME", "SM"})
        self.assertTrue(any(m.index > 999 for m in messages))
        first_octets = {}
        for msg in messages:
            octets = bytes.fromhex(msg.pdu)
            mti = octets[1 + octets[0]] & 0x03
            first_octets.setdefault(mti, set()).add(msg.stat)
        self.assertEqual(first_octets[1], {2, 3}, "stored SMS-SUBMIT must be stat 2 or 3")
        self.assertLessEqual(first_octets[0] | first_octets[2], {0, 1}, "received must be 0 or 1")
        udh = [m for m in messages if bytes.fromhex(m.pdu)[1 + int(m.pdu[:2], 16)] & 0x40]
        self.assertTrue(udh, "no concatenated parts generated")


class CommandLineTests(unittest.TestCase):
    def run_builder(self, *args):
        return subprocess.run([sys.executable, str(SIMULATOR_DIR / "pdu_builder.py"), *args],
                              capture_output=True, text=True, timeout=10)

    def test_command_line(self):
        done = self.run_builder("deliver", "--from", "+79161234567", "--text", "x" * 200)
        self.assertEqual(done.returncode, 0)
        self.assertEqual(len(done.stdout.split()), 2)
        done = self.run_builder("submit", "--to", "+46708251358", "--text", "hellohello",
                                "--validity", "170")
        self.assertEqual(done.stdout.strip(), "0011000B916407281553F80000AA0AE8329BFD4697D9EC37")
        done = self.run_builder("deliver", "--from", "Way too long a name", "--text", "x")
        self.assertEqual(done.returncode, 2)
        self.assertIn("alphanumeric", done.stderr)


if __name__ == "__main__":
    unittest.main()
