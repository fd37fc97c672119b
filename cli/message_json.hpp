// One message as a JSON object, for scripts that want fields rather than the display line.
#pragma once

#include <nlohmann/json.hpp>

#include "pdu/decode_pdu.hpp"
#include "store/listing_parser.hpp"

namespace quorlin::cli {

// kind, address, address_type, service_centre, time_stamp (ISO 8601 with its offset), coding,
// concatenation, text, whole; a status report adds status and discharge_time.
nlohmann::json MessageJson(const DecodedMessage& message);

// Where a listed message is stored: {"storage": "ME" or "SM", "index": n}; the index is null
// when the modem's was unreadable.
nlohmann::json PlaceJson(const StoredMessage& message);

// One JSON Lines record; false when the output would not take it.
bool WriteJsonLine(const nlohmann::json& record);

}  // namespace quorlin::cli
