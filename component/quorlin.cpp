#include "quorlin.hpp"

#include <exception>
#include <random>
#include <string>

namespace quorlin {

Quorlin::Quorlin(Platform platform)
    : platform_(platform), next_reference_(static_cast<std::uint8_t>(std::random_device{}())) {}

Quorlin::~Quorlin() = default;

Text Quorlin::Info() {
  return u"Quorlin SMS reader\r\n"
         u"Web: https://quorlin.example.org\r\n"
         u"E-mail: support@quorlin.example.org\r\n"
         u"Messenger: quorlin-support";
}

bool Quorlin::SetReleaseAfterHours(long hours) {
  if (hours < -1) return false;
  // More than a thousand years is as good as never, and keeps the arithmetic in range.
  constexpr long kLongest = 24L * 366 * 1000;
  if (hours > kLongest) hours = kLongest;
  rules_.release_after =
      hours < 0 ? std::nullopt : std::optional<std::chrono::hours>(std::chrono::hours{hours});
  return true;
}

long Quorlin::ReleaseAfterHours() const {
  return rules_.release_after ? static_cast<long>(rules_.release_after->count()) : -1;
}

void Quorlin::OpenPort() {
  if (port_) ClosePort();
  ++port_changes_;
  store_.PortChanged();
  if (port_number_text_.empty() || port_speed_text_.empty()) return;
  const Text mode_text = port_speed_text_ + u",n,8,1";
  port_ = platform_.ports.Open(port_number_text_, mode_text);
  if (!port_) {
    status_text_ =
        u"Error. Port " + platform_.ports.PortName(port_number_text_) + u"  " + mode_text;
    return;
  }
  status_text_ = u"OK";
}

void Quorlin::ClosePort() {
  port_.reset();
  ++port_changes_;
  store_.PortChanged();
  status_text_ = u"OK";
}

void Quorlin::ResetPhone() {
  if (!CheckPortOpen() || !CheckNotSending()) return;
  store_.Reset();
}

void Quorlin::ReadAllMsg() {
  WithFailureAsStatus(&Quorlin::ListAndShow);
}

void Quorlin::DeleteMsg() {
  WithFailureAsStatus(&Quorlin::DeleteAndReport);
}

// The status text is the last exchange's (the store keeps it in step), unless a memory was left
// out.
void Quorlin::ListAndShow() {
  if (!CheckPortOpen() || !CheckNotSending()) return;
  sms_text_.clear();
  const bool confirmed = store_.ReadAll(ListingBounds(port_speed_text_), rules_);
  sms_text_ = SmsText(store_.Shown());
  // A memory whose selection could not be confirmed was left out: the read did not end well.
  if (!confirmed) status_text_ = u"Error";
}

void Quorlin::DeleteAndReport() {
  if (!CheckPortOpen() || !CheckNotSending()) return;
  status_text_ = DeletionReport(store_.DeleteListed());
}

void Quorlin::AskForArrivalNotices() {
  if (!CheckPortOpen() || !CheckNotSending()) return;
  status_text_ = Text(StatusText(exchange_.Exchange(u"AT+CNMI=2,1,0,2,0", kSelectPolls).result));
}

bool Quorlin::WaitForNotification(std::chrono::milliseconds timeout) {
  if (!port_ || sending_ || !port_->WaitForInput(timeout)) return false;
  // Read what is waiting, so the next wait does not return for the same input; a bounded number
  // of reads, since a chattering line never falls quiet.
  bool arrived = false;
  for (int read = 0; read < 16 && port_->WaitForInput(std::chrono::milliseconds(0)); ++read) {
    arrived = !ReadBytes(*port_).empty() || arrived;
  }
  return arrived;
}

void Quorlin::SendMsg(const Text& number, const Text& text) noexcept {
  try {
    SubmitOptions options;
    options.status_report = status_report_;
    const EncodeResult encoded = EncodeSubmit(number, text, options, next_reference_);
    if (!encoded.message) {
      status_text_ = u"Error";
      return;
    }
    Send(*encoded.message);
  } catch (const std::exception&) {
    sending_ = false;
    status_text_ = u"Error";
  }
}

SendOutcome Quorlin::Send(const EncodedSubmit& message) {
  SendOutcome outcome;
  if (!CheckPortOpen() || !CheckNotSending()) {
    outcome.stop = SendOutcome::Stop::kRefused;
    return outcome;
  }
  ++next_reference_;
  sent_references_.clear();
  status_text_.clear();
  sending_ = true;
  outcome = SendParts(exchange_, message, port_changes_);
  sending_ = false;
  for (const auto& reference : outcome.references) {
    if (!sent_references_.empty()) sent_references_ += u' ';
    sent_references_ += reference ? FromAscii(std::to_string(*reference)) : Text(u"?");
  }
  status_text_ = SendStatusText(outcome);
  return outcome;
}

Reply Quorlin::Ask(TextView command, int polls) noexcept {
  if (!CheckPortOpen() || !CheckNotSending()) return {};
  try {
    Reply reply = exchange_.Exchange(command, polls);
    status_text_ = Text(StatusText(reply.result));
    return reply;
  } catch (const std::exception&) {
    status_text_ = u"Error";
    return {};
  }
}

bool Quorlin::CheckNotSending() {
  if (!sending_) return true;
  status_text_ = u"Error";
  return false;
}

void Quorlin::WithFailureAsStatus(void (Quorlin::*operation)()) noexcept {
  try {
    (this->*operation)();
  } catch (const std::exception&) {
    status_text_ = u"Error";  // fits the string's own buffer: no allocation
  }
}

bool Quorlin::CheckPortOpen() {
  if (port_) return true;
  status_text_ = u"Error. COM is closed";
  return false;
}

Text SmsText(const std::vector<ShownMessage>& shown) {
  if (shown.empty()) return u"Empty";
  Text text;
  for (const ShownMessage& message : shown) text += SafeDisplayLine(message.line) + u"\r\n";
  return text;
}

Text DeletionReport(const std::vector<DeletionItem>& items) {
  Text report;
  for (const DeletionItem& item : items) {
    const Text index = FromAscii(std::to_string(item.index));
    const Text memory(DisplayName(item.memory));
    if (item.outcome == DeletionItem::Outcome::kDeleted) {
      report += memory + u"-" + index + u":OK ";
    } else {
      report = memory + u" " + index + u":Error ";
    }
  }
  return report.empty() ? Text(u"Empty") : report;
}

}  // namespace quorlin
