// SMS-SUBMIT PDUs for sending a text (3GPP TS 23.040 9.2.2.2): the GSM 7-bit default alphabet
// with its extension table when every character fits, UCS2 otherwise, in as few parts as the
// text needs, each part a concatenated-message part when there is more than one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pdu/decode_pdu.hpp"
#include "text/text.hpp"

namespace quorlin {

struct SubmitOptions {
  bool status_report = false;              // TP-SRR
  bool flash = false;                      // message class 0, shown at once and not stored
  bool force_ucs2 = false;                 // UCS2 even when the text fits the 7-bit alphabet
  std::optional<unsigned> validity_hours;  // a relative TP-VP; none: no validity period
  Text service_centre;                     // "+" and digits, or digits; empty: the modem's
};

// One PDU as AT+CMGS takes it in PDU mode.
struct SubmitPart {
  Text pdu;                     // hexadecimal, upper case, the service-centre field first
  std::size_t tpdu_length = 0;  // octets after the service-centre field: AT+CMGS=<length>
};

struct EncodedSubmit {
  Coding coding = Coding::kGsm7;
  std::vector<SubmitPart> parts;
};

enum class EncodeFailure {
  kNone,
  kEmptyText,
  kTooManyParts,      // more than 255 parts
  kBadNumber,         // not "+" and 1 to 20 digits, nor 1 to 20 digits
  kBadServiceCentre,  // the same rule
  kBadValidity,       // 0 hours, or longer than a relative period can say (63 weeks)
};

struct EncodeResult {
  std::optional<EncodedSubmit> message;  // set exactly when failure is kNone
  EncodeFailure failure = EncodeFailure::kNone;
};

// The parts of `text` to `number`; `reference` is the concatenation reference all parts share
// (8-bit) when there is more than one.
EncodeResult EncodeSubmit(TextView number, TextView text, const SubmitOptions& options,
                          std::uint8_t reference);

}  // namespace quorlin
