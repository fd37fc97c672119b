"""Quirks of real modems: odd listing layouts and line ends, phone-book names, bytes lost on the
way, late answers, chatter on the line.

Run: python3 -m unittest discover -s simulator/tests
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from test_modem_sim import HOW_ARE_YOU, ME_LISTING, SIPGATE, SUBMIT, SimTestCase  # noqa: E402

L = ME_LISTING
CHATTER = b"\r\n$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"


class QuirkTests(SimTestCase):
    def test_each_quirk_changes_only_its_part_of_the_listing(self):
        urc_inside = L
        for pdu in (HOW_ARE_YOU, SIPGATE, SUBMIT):
            half = len(pdu) // 2
            urc_inside = urc_inside.replace(pdu.encode(), f"{pdu[:half]}\r\n^RSSI:19\r\n"
                                                          f"{pdu[half:]}".encode())
        glued = L.replace(b"\r\n+CMGL: 2", b"+CMGL: 2").replace(b"\r\n+CMGL: 10", b"+CMGL: 10")
        middle = L.index(HOW_ARE_YOU.encode()) + len(HOW_ARE_YOU) // 2
        joined = L[:middle] + L[middle + 60:]   # up to 4 digits into the second PDU line
        # (options, the first listings of ME, with echo on)
        table = [
            (["--urc-inside-pdu"], [urc_inside]),
            (["--header-no-space"], [L.replace(b"+CMGL: ", b"+CMGL:")]),
            (["--glued-headers", "--line-end", "lf"], [glued.replace(b"\r\n", b"\n")]),
            (["--line-end", "cr"], [L.replace(b"\r\n", b"\r")]),
            (["--alpha", "OK", "--alpha", 'Smith, "J"'], [L.replace(b"1,1,,", b'1,1,"OK",')
             .replace(b"2,0,,", b'2,0,"Smith, "J"",').replace(b"1005,3,,", b'1005,3,"OK",')]),
            (["--lose-bytes", "60:after=1"], [L, joined, L.replace(b"2,0,", b"2,1,")]),
        ]
        for options, listings in table:
            with self.subTest(options=options):
                sim = self.start(*options, echo="on")
                sim.send('AT+CPMS="ME"')
                sim.read_for(0.3)
                for listing in listings:
                    sim.send("AT+CMGL=4")
                    self.assertEqual(sim.read_for(0.4), b"AT+CMGL=4\r" + listing)
                sim.stop()

    def test_late_answer_takes_effect_late_and_drops_what_comes_meanwhile(self):
        sim = self.start("--late", 'AT+CPMS="ME":500:1', "--log", "log.jsonl", echo="on")
        sim.send('AT+CPMS="ME"')
        sim.send("AT+CMGD=1")
        self.assertEqual(sim.read_for(1.2),
                         b'AT+CPMS="ME"\r\r\n+CPMS: 3,1005,2,50,2,50\r\n\r\nOK\r\n')
        self.assertIn(b"+CMGL: 1,1,,30", sim.command("AT+CMGL=4"), "not selected, or deleted")
        self.assertEqual([(e["line"], e.get("dropped", False)) for e in sim.log()],
                         [('AT+CPMS="ME"', False), ("AT+CMGD=1", True), ("AT+CMGL=4", False)])

    def test_chatter_comes_from_start_up_and_only_between_lines(self):
        # Paced, so that the chatter falls due while the listing is written.
        sim = self.start("--chatter", "20", "--baud", "19200")
        idle = sim.read_for(0.3)   # may end inside a chatter line
        self.assertTrue(idle.startswith(CHATTER) and CHATTER.startswith(idle.replace(CHATTER, b"")))
        sim.send('AT+CPMS="ME"\rAT+CMGL=4')
        out = sim.read_for(3.0)
        listing = out[out.index(b"\r\n+CMGL"):out.rindex(b"\r\nOK\r\n") + 6]
        self.assertEqual(listing.replace(CHATTER, b""), L)
        self.assertIn(CHATTER, listing)
