#include "port/at_exchange.hpp"

#include <utility>

#include "text/cp1251.hpp"

namespace quorlin {
namespace {

constexpr std::size_t kReadUnit = 256;
constexpr std::size_t kWriteUnit = 255;

// Whether `needle` occurs in `reply` in a place that reaches past `searched_size`: the part
// before it has been searched already, so only the new tail and the few characters before it
// that a needle split over two reads may start in need a look.
bool FoundInTail(TextView reply, std::size_t searched_size, TextView needle) {
  const std::size_t overlap = needle.size() - 1;
  const std::size_t from = searched_size > overlap ? searched_size - overlap : 0;
  return reply.find(needle, from) != TextView::npos;
}

}  // namespace

bool WriteBytes(SerialPort& port, TextView text) {
  bool all_written = true;
  do {
    const TextView piece = text.substr(0, kWriteUnit);
    text.remove_prefix(piece.size());
    const auto bytes = EncodeCp1251(piece);
    if (!bytes || port.Write(*bytes) != bytes->size()) all_written = false;
  } while (!text.empty());
  return all_written;
}

Text ReadBytes(SerialPort& port) {
  return DecodeCp1251(port.Read(kReadUnit));
}

AtExchange::AtExchange(const std::unique_ptr<SerialPort>& port, Clock& clock, Text& status_text)
    : port_(port), clock_(clock), status_text_(status_text) {}

void AtExchange::ReadPort() {
  Text received = port_ ? ReadBytes(*port_) : Text{};
  clock_.YieldToHost();
  receive_buffer_ += received;
}

Text AtExchange::TakeReceived() {
  return std::exchange(receive_buffer_, Text{});
}

void AtExchange::PauseForInput() {
  clock_.YieldToHost();
  if (port_) {
    port_->WaitForInput(kMaxPause);
  } else {
    clock_.Sleep(kMaxPause);
  }
}

Text AtExchange::SendCommand(TextView command, TextView expected, int count) {
  if (expected.empty()) return {};
  status_text_.clear();
  Text reply;
  // A failed write is not reported: the modem then stays silent and the polls end in
  // "No answer".
  if (port_) WriteBytes(*port_, Text(command) + u'\r');

  const Clock::TimePoint started = clock_.Now();
  int empty_polls = 0;
  while (empty_polls < count) {
    const std::size_t searched_size = reply.size();
    ReadPort();
    reply += TakeReceived();
    if (reply.size() == searched_size) {
      ++empty_polls;
      PauseForInput();
      continue;
    }
    if (FoundInTail(reply, searched_size, expected)) {
      status_text_ = u"OK";
      return reply;
    }
    if (FoundInTail(reply, searched_size, u"ERROR")) {
      status_text_ = u"Error";
      return reply;
    }
    // A device that never stops sending would otherwise hold the caller for ever.
    if (reply.size() >= kMaxReplyChars || clock_.Now() - started >= kMaxExchangeTime) break;
  }
  status_text_ = u"No answer";
  return reply;
}

}  // namespace quorlin
