#include "quorlin.hpp"

#include <exception>

namespace quorlin {

Quorlin::Quorlin(Platform platform) : platform_(platform) {}

Quorlin::~Quorlin() = default;

Text Quorlin::Info() {
  return u"Quorlin SMS reader\r\n"
         u"Web: https://quorlin.example.org\r\n"
         u"E-mail: support@quorlin.example.org\r\n"
         u"Messenger: quorlin-support";
}

void Quorlin::OpenPort() {
  if (port_) ClosePort();
  ++port_changes_;
  MemoryMayChange();
  exchange_.ForgetUnanswered();
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
  MemoryMayChange();
  exchange_.ForgetUnanswered();
  status_text_ = u"OK";
}

void Quorlin::ReadAllMsg() {
  WithFailureAsStatus(&Quorlin::ListBothStorages);
}

void Quorlin::DeleteMsg() {
  WithFailureAsStatus(&Quorlin::DeleteListed);
}

void Quorlin::WithFailureAsStatus(void (Quorlin::*operation)()) noexcept {
  try {
    (this->*operation)();
  } catch (const std::exception&) {
    status_text_ = u"Error";  // fits the string's own buffer: no allocation
  }
}

void Quorlin::MemoryMayChange() {
  ++memory_changes_;
}

bool Quorlin::CheckPortOpen() {
  if (port_) return true;
  status_text_ = u"Error. COM is closed";
  return false;
}

}  // namespace quorlin
