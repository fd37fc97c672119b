// Decoding throughput, PDUs per second, of Quorlin's decoder and libGammu's on the same mixed
// set: 7-bit and UCS2 messages, status reports, parts of concatenated messages (8- and 16-bit
// references), an alphanumeric sender, the 7-bit extension table, emoji.
//
// Both sides do the whole job from the hexadecimal text a modem lists to a display line:
// Quorlin's DecodePdu; for libGammu DecodeHexBin, GSM_DecodePDUFrame, then the sender and the
// text to UTF-8 with EncodeUTF8 and the time stamp formatted.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <gammu.h>
}

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

namespace {

constexpr std::array<const char*, 13> kPdus = {
    // 7-bit, international sender
    "07919761989901F0040B919761214365F700004250419021502141C8329BFD0E81A8E832A85D2ED3D3EE33283D"
    "07B5DFF63219447F838CF234399C678162301D0CE60209E569F71944479741E3B79B2E0F8FE92E",
    // UCS2 Cyrillic
    "07919761989901F0040B919730112132F30008425041110413215A041F04400438043204350442002100200412"
    "0441044204400435044704300020043F043504400435043D043504410435043D04300020043D04300020043F04"
    "4F0442043D043804460443002C002000310030003A00300030002E",
    // status report, delivered
    "07919761989901F0062A0B919761214365F7425051800021214250518000712100",
    // 7-bit
    "07919761989901F0040B919762554534F300004250618150442127D2723BED2697E53A50DA6D7FA7C765500C06"
    "9B81D27310B95E06D1DFEDB75CFEBEBB00",
    // two parts of a 7-bit message, 8-bit reference
    "07919761989901F0440B919750778798F9000042506121000021A005000351020188E5B01C34AECFE9EF7659CE"
    "02E5DF7539081E968FCB6C10ED168B81D0E139282C97A7ED6532284C07D1D165103C3D5EB7EA7010FC9D76D341"
    "6F37885976A7DD61D09C2E2F97E9A098CC054AD241F7349B0D129741EB329C0EA2A3CBF232C8FC9683E6657BD9"
    "0D2287F3731708CA2E87E765103DBC2E83F2EFBA1C040FCFE7F0B79C0E0ABBC9",
    "07919761989901F0440B919750778798F90000425061210000212D05000351020240747419347E93CBA05A6D16"
    "03DDD3743428FFAE83EEE8B21B947FD741E377BBEC02",
    // UCS2 with emoji (surrogate pairs)
    "07919761989901F0040B919799887867F60008425071705490213A005400680061006E006B007300200066006F"
    "0072002000740068006500200066006C006F00770065007200730020D83CDF37D83DDE00D83DDC4D",
    // alphanumeric sender
    "07919761989901F0040ED0CDF2392C0CBBD70000425071012033213DC3B09C0C52C564339A0E040FE7DB65371D"
    "14ABC1602E180C24AD0A41613A688A7C425D2061981D768FCB20196C46ABB9623090B42A04",
    // three parts of a UCS2 message, 16-bit reference
    "07919761989901F0440B919761214365F70008425071010300218B060804123403010414043B0438043D043D04"
    "3E043500200441043E043E043104490435043D0438043500200432002004340432044304450020044704300441"
    "0442044F0445003A0020043F0440043E043204350440043A04300020043F0440043E043204350440043A043000"
    "20043F0440043E043204350440043A04300020043F0440043E043204350440",
    "07919761989901F0440B919761214365F70008425071010300218B06080412340302043A04300020043F044004"
    "3E043204350440043A04300020043F0440043E043204350440043A04300020043F0440043E043204350440043A"
    "04300020043F0440043E043204350440043A04300020043F0440043E043204350440043A04300020043F044004"
    "3E043204350440043A04300020043F0440043E043204350440043A04300020",
    "07919761989901F0440B919761214365F70008425071010300211906080412340303043F0440043E0432043504"
    "40043A04300020",
    // status report, failed
    "07919761989901F006070B919730112132F3425071010300214250710103402146",
    // 7-bit with the extension table
    "07919761989901F0040C914421436587090000425071010300212950797A5CD68162B04D19B4E1BDCDE6B27CE3"
    "036D50F437399CDFA4409B1EE8ED66E73714",
};

std::vector<quorlin::Text> QuorlinInputs() {
  std::vector<quorlin::Text> inputs;
  for (const char* pdu : kPdus) inputs.push_back(quorlin::FromAscii(pdu));
  return inputs;
}

void QuorlinDecode(benchmark::State& state) {
  const auto inputs = QuorlinInputs();
  std::size_t chars = 0;
  for (auto _ : state) {
    for (const quorlin::Text& pdu : inputs) {
      quorlin::Text line = quorlin::DecodePdu(pdu);
      chars += line.size();
      benchmark::DoNotOptimize(line);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * inputs.size()));
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(QuorlinDecode);

// One display line from one PDU through libGammu; false when it refuses the PDU.
bool GammuDecode(const char* hex, GSM_SMSMessage& sms, std::string& line) {
  unsigned char binary[400];
  const std::size_t hex_length = std::strlen(hex);
  if (!DecodeHexBin(binary, reinterpret_cast<const unsigned char*>(hex), hex_length)) return false;
  GSM_SetDefaultSMSData(&sms);
  size_t end = 0;
  if (GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms, binary, hex_length / 2, &end, TRUE) !=
      ERR_NONE) {
    return false;
  }
  char number[GSM_MAX_NUMBER_LENGTH * 4 + 4];
  char text[GSM_MAX_SMS_LENGTH * 4 + 4];
  EncodeUTF8(number, sms.Number);
  EncodeUTF8(text, sms.Text);
  char stamp[32];
  const GSM_DateTime& t = sms.PDU == SMS_Status_Report ? sms.SMSCTime : sms.DateTime;
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d %02d:%02d:%02d", t.Day, t.Month, t.Year % 100,
                t.Hour, t.Minute, t.Second);
  line.assign(stamp).append("\t").append(number).append("\t").append(text);
  return true;
}

void GammuDecode(benchmark::State& state) {
  GSM_SMSMessage sms;
  std::string line;
  for (const char* pdu : kPdus) {
    if (!GammuDecode(pdu, sms, line)) {
      state.SkipWithError("libGammu refused a PDU of the set");
      return;
    }
  }
  std::size_t chars = 0;
  for (auto _ : state) {
    for (const char* pdu : kPdus) {
      GammuDecode(pdu, sms, line);
      chars += line.size();
      benchmark::DoNotOptimize(line);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPdus.size()));
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(GammuDecode);

}  // namespace

BENCHMARK_MAIN();
