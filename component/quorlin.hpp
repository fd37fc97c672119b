// The Quorlin object: owns one connection to a modem and the texts its callers read. Device and
// modem failures are reported through Error(), never thrown; every call returns normally.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "pdu/encode_pdu.hpp"
#include "port/platform.hpp"
#include "send/message_sender.hpp"
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

  // The machine's serial ports, one a line: "COM3<tab>friendly name", CR LF between lines.
  Text Ports() const { return PortListText(platform_.ports.ListPorts()); }
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
  void SetJoinParts(bool join) { rules_.join = join; }
  bool JoinParts() const { return rules_.join; }
  // With JoinParts on: the hours after its newest part's time stamp when an incomplete message
  // is shown with its missing parts marked and may be deleted; 0 at once, -1 never (24 as a new
  // object has it). False, and nothing changed, for a number below -1.
  bool SetReleaseAfterHours(long hours);
  long ReleaseAfterHours() const;
  // On: DeleteMsg also deletes what arrived whole but cannot be decoded whole (off as a new
  // object has it).
  void SetDeleteUndecodable(bool on) { rules_.delete_undecodable = on; }
  bool DeleteUndecodable() const { return rules_.delete_undecodable; }
  // The memories ReadAllMsg lists, in order (ME then SM as a new object has it).
  void SetMemories(std::vector<Memory> memories) { rules_.memories = std::move(memories); }
  // "ME 12/23, SM 49/50": how full each memory was when the last ReadAllMsg listed it; empty
  // when the modem did not say.
  Text StoreUsage() const { return FillText(store_.Listings()); }

  // Sends `text` to `number`, in as many parts as it needs, each once. The status text is "OK"
  // when the modem accepted every part; otherwise "Error" (also for a number or text that
  // cannot be sent), "No answer", or the modem's "+CMS ERROR: <n>" line.
  void SendMsg(const Text& number, const Text& text) noexcept;
  // The same for a message already encoded; what became of its parts. Refused, with "Error",
  // when no port is open or another operation of this object is under way (a host calling in
  // from a yield): its commands would land in the middle of a part.
  SendOutcome Send(const EncodedSubmit& message);
  // SendMsg asks for a status report of each message (off as a new object has it).
  void SetStatusReport(bool on) { status_report_ = on; }
  bool StatusReport() const { return status_report_; }
  // "17 18 19": the message references the modem gave the parts it accepted in the last send.
  const Text& SentReferences() const { return sent_references_; }

  // Sees every command, every read and every status of the AT dialogue (null: nobody).
  void SetExchangeObserver(ExchangeObserver* observer) { exchange_.SetObserver(observer); }

  // AT+CNMI=2,1,0,2,0: the modem announces each message it stores (+CMTI) and each status
  // report (+CDSI) with a line on the port. The status text is the modem's answer.
  void AskForArrivalNotices();
  // Waits at most `timeout` for input on the open port and takes what arrived; true when any
  // did (an announcement or anything else: the caller lists again either way). False at once
  // without an open port. The modem may lose an announcement, so callers also list on a timer.
  bool WaitForNotification(std::chrono::milliseconds timeout);
  // The record at `position` of Store().Records() stays on the modem at the next DeleteMsg: a
  // caller that could not pass the message on keeps it for a later listing.
  void KeepOnModem(std::size_t position) { store_.Unlist(position); }

  // Writes one AT command and returns the modem's reply, given up after `polls` polls in a row
  // without input; the status text is how it ended ("OK", "Error", "No answer"). Without an open
  // port, or while a send is under way, nothing is written and the reply has no answer. Meant
  // for questions (a check-up): the listing does not learn of a memory selected this way.
  Reply Ask(TextView command, int polls) noexcept;

  // The messages of the last listing, what SMS showed of them, and what DeleteMsg did.
  const MessageStore& Store() const { return store_; }

 private:
  void ListAndShow();
  void DeleteAndReport();
  // Runs `operation`; a failure it throws becomes the status text "Error".
  void WithFailureAsStatus(void (Quorlin::*operation)()) noexcept;
  // Sets "Error. COM is closed" and returns false when no port is open.
  bool CheckPortOpen();
  // Sets "Error" and returns false while a send is under way.
  bool CheckNotSending();

  Platform platform_;
  Text port_number_text_;
  Text port_speed_text_;
  Text status_text_;
  Text sms_text_;
  // Each applies from the next ReadAllMsg: DeleteMsg acts on what that listing showed.
  ReadRules rules_;
  bool status_report_ = false;
  Text sent_references_;
  // The concatenation reference of the next message sent; each message takes the next.
  std::uint8_t next_reference_;
  // A send is under way: its parts must not be interleaved with other commands.
  bool sending_ = false;
  // Counts port openings and closings: a send stops when its port is gone.
  unsigned port_changes_ = 0;
  // Held exactly while the port is open; the exchange reads this slot afresh on every access.
  std::unique_ptr<SerialPort> port_;
  AtExchange exchange_{port_, platform_.clock};
  MessageStore store_{exchange_, platform_.clock, status_text_};
};

// SMS as a listing shows it: one line per shown message, each ended by CR LF, a line break
// inside a text turned into a space; "Empty" when nothing was shown.
Text SmsText(const std::vector<ShownMessage>& shown);

// The deletion report: "<memory>-<index>:OK " for each message deleted; a message not deleted
// replaces the report so far with "<memory> <index>:Error "; "Empty" when there were no items.
Text DeletionReport(const std::vector<DeletionItem>& items);

}  // namespace quorlin
