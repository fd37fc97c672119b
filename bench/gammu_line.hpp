// One PDU through libGammu to a display line like the one `quorlin decode` prints: time stamp,
// tab, sender, tab, text. DecodeHexBin, GSM_DecodePDUFrame, the sender and the text to UTF-8
// with EncodeUTF8 and the time stamp formatted; shared by decode_bench and
// gammu_decode_lines, so that both figures weigh the same work on libGammu's side.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

extern "C" {
#include <gammu.h>
}

namespace quorlin::bench {

// False when libGammu refuses the PDU, or when it is longer than any PDU can be.
inline bool GammuLine(std::string_view hex, GSM_SMSMessage& sms, std::string& line) {
  unsigned char binary[400];
  if (hex.size() > 2 * sizeof binary) return false;
  if (!DecodeHexBin(binary, reinterpret_cast<const unsigned char*>(hex.data()), hex.size())) {
    return false;
  }
  GSM_SetDefaultSMSData(&sms);
  size_t end = 0;
  if (GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms, binary, hex.size() / 2, &end, TRUE) !=
      ERR_NONE) {
    return false;
  }
  char number[GSM_MAX_NUMBER_LENGTH * 4 + 4];
  char text[GSM_MAX_SMS_LENGTH * 4 + 4];
  EncodeUTF8(number, sms.Number);
  if (sms.Coding == SMS_Coding_8bit) {
    // libGammu keeps 8-bit data as raw bytes, not as a string: shown in hexadecimal.
    EncodeHexBin(text, sms.Text, static_cast<size_t>(sms.Length));
  } else if (sms.Length > 0) {
    EncodeUTF8(text, sms.Text);
  } else {
    text[0] = '\0';  // a coding libGammu does not decode leaves the text as it was
  }
  char stamp[32];
  const GSM_DateTime& t = sms.PDU == SMS_Status_Report ? sms.SMSCTime : sms.DateTime;
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d %02d:%02d:%02d", t.Day, t.Month, t.Year % 100,
                t.Hour, t.Minute, t.Second);
  line.assign(stamp).append("\t").append(number).append("\t").append(text);
  return true;
}

}  // namespace quorlin::bench
