// The bits and sizes of SMS TPDU fields (3GPP TS 23.040) that the decoder, the encoder and the
// redactor all read or write.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorlin::tpdu {

// TP-MTI, bits 1-0 of the first octet. The reserved value 11 is read as a status report.
inline constexpr std::uint8_t kMtiDeliver = 0x00;
inline constexpr std::uint8_t kMtiSubmit = 0x01;
// TP-UDHI: the user data begins with a header.
inline constexpr std::uint8_t kUdhi = 0x40;
// Type of address, type of number 101 (bits 6-4): alphanumeric, in 7-bit septets.
inline constexpr std::uint8_t kTonAlphanumeric = 0x50;
// TP-SCTS, TP-DT: seven semi-octet fields.
inline constexpr std::size_t kTimeStampOctets = 7;

}  // namespace quorlin::tpdu
