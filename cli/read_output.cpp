#include "read_output.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "message_json.hpp"
#include "terminal_text.hpp"

namespace quorlin::cli {
namespace {

bool Flushed(bool written) {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && written;
}

}  // namespace

bool PrintMessages(TextView sms) {
  bool written = true;
  for (std::size_t start = 0; start < sms.size();) {
    std::size_t end = sms.find(u"\r\n", start);
    if (end == TextView::npos) end = sms.size();
    written = WriteLine(stdout, PrintableLine(sms.substr(start, end - start))) && written;
    start = end + 2;
  }
  return Flushed(written);
}

nlohmann::json ShownJson(const MessageStore& store, const ShownMessage& message) {
  const std::vector<StoredMessage>& records = store.Records();
  const StoredMessage& first = records[message.parts.front()];
  nlohmann::json object = MessageJson(first.message);
  if (message.parts.size() == 1 && !message.released) {
    object.update(PlaceJson(first));
  } else {
    object["parts"] = nlohmann::json::array();
    for (std::size_t part : message.parts) object["parts"].push_back(PlaceJson(records[part]));
    object["text"] = ToUtf8(message.text);
  }
  // Released without its missing parts: the text marks each gap, the numbers are here.
  if (message.released) {
    object["complete"] = false;
    object["missing"] = message.missing;
  }
  object["listed"] = std::all_of(message.parts.begin(), message.parts.end(),
                                 [&](std::size_t part) { return records[part].Deletable(); });
  return object;
}

bool PrintJson(const MessageStore& store) {
  bool written = true;
  for (const ShownMessage& message : store.Shown()) {
    const nlohmann::json object = ShownJson(store, message);
    written = WriteJsonLine(object) && written;
  }
  return Flushed(written);
}

bool PrintStoresJson(const MessageStore& store) {
  nlohmann::json stores = nlohmann::json::array();
  for (const MemoryListing& listing : store.Listings()) {
    if (!listing.fill) continue;
    stores.push_back({{"storage", ToUtf8(AtName(listing.memory))},
                      {"used", listing.fill->used},
                      {"total", listing.fill->total}});
  }
  return Flushed(WriteJsonLine({{"stores", stores}}));
}

bool PrintDeletedJson(const MessageStore& store, TextView report) {
  nlohmann::json deleted = nlohmann::json::array();
  for (const StoredMessage& record : store.Records()) {
    if (record.deleted) deleted.push_back(PlaceJson(record));
  }
  return Flushed(WriteJsonLine({{"deleted", deleted}, {"report", ToUtf8(report)}}));
}

void ReportKeptParts(const MessageStore& store) {
  // The kept parts of each message, counted in the order the messages first appear.
  std::vector<std::pair<PartsKey, std::size_t>> kept;
  for (const StoredMessage& record : store.Records()) {
    const auto key = KeyOfParts(record.message);
    if (!key || !record.kept) continue;
    auto found = std::find_if(kept.begin(), kept.end(),
                              [&](const auto& counted) { return counted.first == *key; });
    if (found == kept.end()) found = kept.insert(kept.end(), {*key, 0});
    ++found->second;
  }
  for (const auto& [key, parts] : kept) {
    std::fprintf(stderr,
                 "kept %zu part%s of an incomplete message from %s, reference %u, %zu of %u\n",
                 parts, parts == 1 ? "" : "s", PrintableLine(key.sender).c_str(), key.reference,
                 parts, key.total);
  }
}

std::size_t ReportRefusedMemories(const MessageStore& store) {
  std::size_t refused = 0;
  for (const MemoryListing& listing : store.Listings()) {
    if (listing.result != MemoryListing::Result::kRefused) continue;
    std::fprintf(stderr, "%s: the modem refused the memory; not read\n",
                 ToUtf8(AtName(listing.memory)).c_str());
    ++refused;
  }
  return refused;
}

void ReportFill(const MessageStore& store) {
  const Text fill = FillText(store.Listings());
  if (fill.empty()) return;
  for (const MemoryListing& listing : store.Listings()) {
    if (!listing.fill || listing.fill->total == 0) continue;
    const unsigned long percent = 100UL * listing.fill->used / listing.fill->total;
    if (percent < 80) continue;
    std::fprintf(stderr, "%s is %lu %% full: the network stops delivering when it is full\n",
                 ToUtf8(AtName(listing.memory)).c_str(), percent);
  }
  std::fprintf(stderr, "stores: %s\n", ToUtf8(fill).c_str());
}

}  // namespace quorlin::cli
