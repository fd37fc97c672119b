// The Quorlin object: owns one connection to a modem and the texts its callers read. Device and
// modem failures are reported through Error(), never thrown; every call returns normally.
#pragma once

#include <memory>
#include <vector>

#include "port/platform.hpp"
#include "store/message_store.hpp"
#include "text/text.hpp"

namespace quorlin {

class Quorlin {
 public:
  explicit Quorlin(Platform platform);
  ~Quorlin();  // closes the port, so the exclusive device is not held after release
  Quorlin(const Quorlin&) = delete;
  Quorlin& operator=(const Quorlin&) = delete;

  // Four fixed lines joined by CR LF: author, web site, e-mail, messenger.
  static Text Info();

  const Text& Sms() const { return sms_text_; }
  void SetSms(Text text) { sms_text_ = std::move(text); }
  const Text& Error() const { return status_text_; }
  void SetPortNumber(Text text) { port_number_text_ = std::move(text); }
  void SetPortSpeed(Text text) { port_speed_text_ = std::move(text); }

  void OpenPort();
  void ClosePort();
  void ResetPhone();
  // Both end a run-time failure of their own (memory running out) in the status text "Error".
  void ReadAllMsg();
  void DeleteMsg();

  // Off (as a new object has it): one line per stored part, and DeleteMsg deletes every listed
  // message. On: the parts of a concatenated message show as one line once all of them were
  // shown in full, and DeleteMsg deletes such a message whole but keeps the parts of one still
  // incomplete (their missing part may yet arrive), reporting each with a failure item.
  void SetJoinParts(bool join) { join_parts_ = join; }
  bool JoinParts() const { return join_parts_; }

  // Sees every command, every read and every status of the AT dialogue (null: nobody).
  void SetExchangeObserver(ExchangeObserver* observer) { store_.SetObserver(observer); }

  // The messages of the last listing, what SMS showed of them, and what DeleteMsg did.
  const MessageStore& Store() const { return store_; }

 private:
  void ListAndShow();
  void DeleteAndReport();
  // Runs `operation`; a failure it throws becomes the status text "Error".
  void WithFailureAsStatus(void (Quorlin::*operation)()) noexcept;
  // Sets "Error. COM is closed" and returns false when no port is open.
  bool CheckPortOpen();

  Platform platform_;
  Text port_number_text_;
  Text port_speed_text_;
  Text status_text_;
  Text sms_text_;
  bool join_parts_ = false;
  // Held exactly while the port is open; the store reads this slot afresh on every access.
  std::unique_ptr<SerialPort> port_;
  MessageStore store_{port_, platform_.clock, status_text_};
};

// SMS as a listing shows it: one line per shown message, each ended by CR LF, a line break
// inside a text turned into a space; "Empty" when nothing was shown.
Text SmsText(const std::vector<ShownMessage>& shown);

// The deletion report: "<memory>-<index>:OK " for each message deleted; a message not deleted
// replaces the report so far with "<memory> <index>:Error "; "Empty" when there were no items.
Text DeletionReport(const std::vector<DeletionItem>& items);

}  // namespace quorlin
