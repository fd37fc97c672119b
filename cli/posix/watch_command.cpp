// quorlin watch: reads the modem whenever it announces a message and on a timer, hands each
// message on, and deletes from the modem only what was handed on and recorded in the journal.
#include <signal.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "commands.hpp"
#include "hand_off.hpp"
#include "message_id.hpp"
#include "port/platform.hpp"
#include "quorlin.hpp"
#include "read_output.hpp"
#include "read_progress.hpp"
#include "watch_journal.hpp"
#include "watch_options.hpp"

namespace quorlin::cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
  g_stop = 1;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  // A command that exits without reading its input must not end the watcher.
  ::signal(SIGPIPE, SIG_IGN);
}

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Sleeps up to `duration`, in short steps so that a stop signal is seen soon.
void SleepUnlessStopped(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (g_stop == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// What names a shown message: the fields its JSON object has, and its parts' numbers.
MessageIdentity IdentityOf(const MessageStore& store, const ShownMessage& shown,
                           const nlohmann::json& object) {
  MessageIdentity identity;
  identity.kind = object["kind"].get<std::string>();
  identity.sender = object["address"].get<std::string>();
  if (object["time_stamp"].is_string()) identity.time_stamp = object["time_stamp"];
  identity.text = object["text"].get<std::string>();
  // A status report has no text: what it reports tells two reports apart.
  if (object.contains("status"))
    identity.text += object["status"].dump() + object["discharge_time"].dump();
  for (std::size_t part : shown.parts) {
    const auto& concatenation = store.Records()[part].message.concatenation;
    if (!concatenation) continue;
    identity.reference = concatenation->reference;
    identity.total = concatenation->total;
    identity.parts.push_back(concatenation->part);
  }
  return identity;
}

// Each message that failed its hand-off is tried again only after a pause that doubles each
// time, from 5 s up to 10 min: a consumer that is down is not hammered, nor is it given up on.
class RetryPauses {
 public:
  bool Due(const std::string& id) const {
    const auto found = pauses_.find(id);
    return found == pauses_.end() || std::chrono::steady_clock::now() >= found->second.next;
  }
  void Failed(const std::string& id) {
    Pause& pause = pauses_[id];
    pause.length = std::min(pause.length * 2, std::chrono::seconds(600));
    pause.next = std::chrono::steady_clock::now() + pause.length;
  }
  void Succeeded(const std::string& id) { pauses_.erase(id); }
  void KeepOnly(const std::set<std::string>& listed) {
    std::erase_if(pauses_, [&listed](const auto& entry) { return !listed.contains(entry.first); });
  }

 private:
  struct Pause {
    std::chrono::seconds length{std::chrono::seconds(5) / 2};
    std::chrono::steady_clock::time_point next;
  };
  std::map<std::string, Pause> pauses_;
};

struct Watcher {
  const WatchOptions& options;
  Quorlin& quorlin;
  HandOff& hand_off;
  WatchJournal& journal;
  RetryPauses retries;
  // Handed on, but not in the journal yet (it could not be written): never handed on again, and
  // deleted only once the journal holds it.
  std::set<std::string> unrecorded;
  std::set<std::string> listed;  // the ids of the messages of the last listing

  // True when the message may be deleted: handed on before (in the journal), or now.
  bool Acknowledged(const MessageStore& store, const ShownMessage& shown);
  // Hands on what the last listing showed and deletes what was handed on.
  void HandOnAndDelete();
  // Forgets the pauses and unrecorded hand-offs of messages no longer on the modem, so that a
  // watcher running for years does not pile them up.
  void ForgetGone();
};

bool Watcher::Acknowledged(const MessageStore& store, const ShownMessage& shown) {
  nlohmann::json object = ShownJson(store, shown);
  // Only what may be deleted is handed on: a part still waiting for the others, or a message
  // not shown in full, comes again in a later listing.
  if (!object["listed"].get<bool>()) return false;
  const std::string id = MessageId(IdentityOf(store, shown, object));
  listed.insert(id);
  if (journal.Contains(id)) return true;
  if (unrecorded.contains(id)) {
    if (!journal.Record(id, UnixNow())) return false;
    unrecorded.erase(id);
    return true;
  }
  if (!retries.Due(id)) return false;
  object["id"] = id;
  const Outgoing outgoing{id, object["address"].get<std::string>(),
                          object["time_stamp"].is_string() ? object["time_stamp"] : "",
                          object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
  const std::string failure = hand_off.Deliver(outgoing);
  if (!failure.empty()) {
    retries.Failed(id);
    std::fprintf(stderr, "quorlin watch: message %s not handed on: %s; it stays on the modem\n",
                 id.c_str(), failure.c_str());
    return false;
  }
  retries.Succeeded(id);
  if (journal.Record(id, UnixNow())) return true;
  unrecorded.insert(id);
  return false;
}

void Watcher::ForgetGone() {
  // Only a listing of every memory in full tells that a message is gone.
  const auto& listings = quorlin.Store().Listings();
  const bool in_full = quorlin.Error() == u"OK" &&
                       std::all_of(listings.begin(), listings.end(), [](const auto& listing) {
                         return listing.result == MemoryListing::Result::kListed;
                       });
  if (!in_full) return;
  retries.KeepOnly(listed);
  std::erase_if(unrecorded, [this](const std::string& id) { return !listed.contains(id); });
}

void Watcher::HandOnAndDelete() {
  const MessageStore& store = quorlin.Store();
  std::vector<bool> acknowledged(store.Records().size(), false);
  listed.clear();
  for (const ShownMessage& shown : store.Shown()) {
    // A stop signal ends the run after the hand-off in progress.
    if (g_stop != 0) break;
    if (!Acknowledged(store, shown)) continue;
    for (std::size_t part : shown.parts) acknowledged[part] = true;
  }
  if (g_stop == 0) ForgetGone();
  if (std::find(acknowledged.begin(), acknowledged.end(), true) == acknowledged.end()) return;
  for (std::size_t at = 0; at < acknowledged.size(); ++at) {
    if (!acknowledged[at]) quorlin.KeepOnModem(at);
  }
  quorlin.DeleteMsg();
  if (quorlin.Error().find(u"Error") != Text::npos || quorlin.Error() == u"No answer") {
    std::fprintf(stderr, "quorlin watch: delete: %s; tried again at the next read\n",
                 ToUtf8(quorlin.Error()).c_str());
  }
}

}  // namespace

namespace {

// The port, kept open: after an outage it is opened again after 1 s, then twice as long each
// time up to 30 s; each outage is said once on standard error, and its end too.
class Link {
 public:
  Link(Quorlin& quorlin, PortSystem& ports, const std::string& device)
      : quorlin_(quorlin), ports_(ports), device_(device) {}

  // True once the port is open; false, after the pause, when it could not be opened.
  bool Open();
  // The modem stopped answering: the port is closed, to be opened again.
  void Lost(const std::string& why);

 private:
  void AskForAnnouncements();

  Quorlin& quorlin_;
  PortSystem& ports_;
  const std::string& device_;
  bool open_ = false;
  bool in_outage_ = false;
  bool refusal_said_ = false;
  std::chrono::milliseconds pause_{1000};
};

bool Link::Open() {
  if (open_) return true;
  quorlin_.OpenPort();
  if (quorlin_.Error() != u"OK") {
    const Text reason = ports_.LastOpenFailure();
    Lost(ToUtf8(quorlin_.Error()) + (reason.empty() ? "" : ": " + ToUtf8(reason)));
    return false;
  }
  open_ = true;
  if (in_outage_) std::fprintf(stderr, "quorlin watch: %s: open again\n", device_.c_str());
  in_outage_ = false;
  pause_ = std::chrono::milliseconds(1000);
  AskForAnnouncements();
  return true;
}

void Link::AskForAnnouncements() {
  quorlin_.AskForArrivalNotices();
  if (quorlin_.Error() == u"OK" || refusal_said_) return;
  refusal_said_ = true;
  std::fprintf(stderr,
               "quorlin watch: the modem did not take AT+CNMI (%s): it is read on the timer "
               "alone\n",
               ToUtf8(quorlin_.Error()).c_str());
}

void Link::Lost(const std::string& why) {
  if (open_) quorlin_.ClosePort();
  open_ = false;
  if (!in_outage_) {
    std::fprintf(stderr, "quorlin watch: %s: %s; opening it again, up to every 30 s\n",
                 device_.c_str(), why.c_str());
  }
  in_outage_ = true;
  SleepUnlessStopped(pause_);
  pause_ = std::min(pause_ * 2, std::chrono::milliseconds(30000));
}

// Until the modem announces a message (or says anything), the poll time has passed, or a stop
// signal came.
void WaitForNextRead(Quorlin& quorlin, std::chrono::seconds poll) {
  const auto until = std::chrono::steady_clock::now() + poll;
  while (g_stop == 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    if (quorlin.WaitForNotification(std::min(left, std::chrono::milliseconds(500)))) return;
  }
}

// The listing reached no memory: the device is gone or is not answering.
bool NothingListed(const Quorlin& quorlin) {
  if (quorlin.Error() == u"No answer") return true;
  const auto& listings = quorlin.Store().Listings();
  return quorlin.Error() != u"OK" &&
         std::none_of(listings.begin(), listings.end(), [](const MemoryListing& listing) {
           return listing.result == MemoryListing::Result::kListed;
         });
}

void SetRules(Quorlin& quorlin, const ReadOptions& options) {
  quorlin.SetJoinParts(options.join);
  quorlin.SetReleaseAfterHours(options.release_after.value_or(-1));
  quorlin.SetMemories(options.memories);
  quorlin.SetPortNumber(FromUtf8(options.device));
  quorlin.SetPortSpeed(FromUtf8(options.speed));
}

void Watch(Watcher& watcher, Link& link) {
  while (g_stop == 0) {
    if (!link.Open()) continue;
    watcher.quorlin.ReadAllMsg();
    if (NothingListed(watcher.quorlin)) {
      link.Lost("no answer from the modem (" + ToUtf8(watcher.quorlin.Error()) + ")");
      continue;
    }
    watcher.HandOnAndDelete();
    watcher.journal.CompactDaily(UnixNow());
    WaitForNextRead(watcher.quorlin, watcher.options.poll);
  }
}

}  // namespace

int RunWatch(std::span<const std::string_view> args) {
  const ParsedWatchOptions parsed = ParseWatchOptions(args);
  if (!parsed.options) return parsed.exit_code;
  const WatchOptions& options = *parsed.options;
  const std::string journal_path =
      options.state.empty() ? DefaultJournalPath(options.read.device) : options.state;
  if (journal_path.empty()) {
    std::fputs("quorlin watch: neither HOME nor XDG_STATE_HOME is set: give --state FILE\n",
               stderr);
    return 2;
  }
  CatchStopSignals();
  WatchJournal journal;
  if (!journal.Open(journal_path, UnixNow())) return 1;

  const Platform system = SystemPlatform();
  Quorlin quorlin({system.ports, system.clock});
  Progress progress;
  Trace trace(progress, options.read.redact);
  if (options.read.trace) quorlin.SetExchangeObserver(&trace);
  SetRules(quorlin, options.read);
  const std::unique_ptr<HandOff> hand_off = MakeHandOff(options);
  Watcher watcher{options, quorlin, *hand_off, journal, {}, {}, {}};
  Link link(quorlin, system.ports, options.read.device);
  Watch(watcher, link);
  quorlin.ClosePort();
  std::fputs("quorlin watch: stopped\n", stderr);
  return 0;
}

}  // namespace quorlin::cli
