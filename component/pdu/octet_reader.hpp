// A bounds-checked cursor over the octets of a PDU. Reading past the end gives nothing (or fewer
// octets), never an error: a truncated PDU decodes to a shorter line, and the reader remembers
// that it came short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quorlin {

class OctetReader {
 public:
  explicit OctetReader(std::span<const std::uint8_t> octets) : octets_(octets) {}

  std::optional<std::uint8_t> Read() {
    if (pos_ >= octets_.size()) {
      came_short_ = true;
      return std::nullopt;
    }
    return octets_[pos_++];
  }

  std::optional<std::uint8_t> Peek() const {
    if (pos_ >= octets_.size()) return std::nullopt;
    return octets_[pos_];
  }

  // Up to `count` octets; fewer when the PDU ends first.
  std::span<const std::uint8_t> Take(std::size_t count) {
    const std::size_t n = count < Remaining() ? count : Remaining();
    if (n < count) came_short_ = true;
    const auto part = octets_.subspan(pos_, n);
    pos_ += n;
    return part;
  }

  void Skip(std::size_t count) { Take(count); }
  std::size_t Remaining() const { return octets_.size() - pos_; }
  // A Read or Take wanted more than the PDU held.
  bool CameShort() const { return came_short_; }

 private:
  std::span<const std::uint8_t> octets_;
  std::size_t pos_ = 0;
  bool came_short_ = false;
};

}  // namespace quorlin
