#include "message_json.hpp"

#include <cstdio>
#include <string>

#include "terminal_text.hpp"

namespace quorlin::cli {
namespace {

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::kDeliver:
      return "deliver";
    case MessageKind::kSubmit:
      return "submit";
    case MessageKind::kStatusReport:
      return "status_report";
  }
  return "deliver";
}

const char* CodingName(Coding coding) {
  switch (coding) {
    case Coding::kGsm7:
      return "gsm7";
    case Coding::kEightBit:
      return "8bit";
    case Coding::kUcs2:
      return "ucs2";
  }
  return "gsm7";
}

// 2024-05-17T10:30:00+03:00. The stamp's year has two digits; SMS came after 1990.
nlohmann::json Iso8601(const std::optional<TimeStamp>& stamp) {
  if (!stamp) return nullptr;
  const int year = stamp->year < 90 ? 2000 + stamp->year : 1900 + stamp->year;
  const int offset = stamp->zone_quarters * 15;
  const int magnitude = offset < 0 ? -offset : offset;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, stamp->month,
                stamp->day, stamp->hour, stamp->minute, stamp->second, offset < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return text;
}

}  // namespace

nlohmann::json MessageJson(const DecodedMessage& message) {
  nlohmann::json object = {
      {"kind", KindName(message.kind)},
      {"address", ToUtf8(message.address)},
      {"address_type", message.address_type},
      {"service_centre", ToUtf8(message.service_centre)},
      {"time_stamp", Iso8601(message.time_stamp)},
      {"coding", CodingName(message.coding)},
      {"concatenation", nullptr},
      {"text", ToUtf8(message.text)},
      {"whole", message.whole},
      {"decoded", !message.undecodable},
  };
  if (message.undecodable) object["reason"] = ToUtf8(*message.undecodable);
  if (const auto& part = message.concatenation) {
    object["concatenation"] = {{"reference", part->reference},
                               {"reference16", part->reference16},
                               {"part", part->part},
                               {"total", part->total}};
  }
  if (message.kind == MessageKind::kStatusReport) {
    object["status"] = message.status ? nlohmann::json(*message.status) : nlohmann::json(nullptr);
    object["discharge_time"] = Iso8601(message.discharge);
  }
  return object;
}

nlohmann::json PlaceJson(const StoredMessage& message) {
  nlohmann::json index = nullptr;
  if (message.index) index = *message.index;
  return {{"storage", ToUtf8(AtName(message.memory))}, {"index", index}};
}

bool WriteJsonLine(const nlohmann::json& record) {
  // Invalid UTF-16 in a text (a lone surrogate) is already U+FFFD in UTF-8; dump never throws.
  return WriteLine(stdout, record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace quorlin::cli
