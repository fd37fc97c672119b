// What quorlin read prints of a listing: the messages as text or JSON Lines on standard output,
// what was deleted, and the parts kept on the modem.
#pragma once

#include <nlohmann/json.hpp>

#include "store/message_store.hpp"

namespace quorlin::cli {

// Each line of SMS in UTF-8 (a listing of nothing prints "Empty"); true when all of it reached
// the output.
bool PrintMessages(TextView sms);

// The object --json prints for one shown message: its fields, its place (or its parts'), and
// "listed": whether every part may be deleted.
nlohmann::json ShownJson(const MessageStore& store, const ShownMessage& message);

// One object a shown message (a joined one with the places of its parts); true when all of it
// reached the output.
bool PrintJson(const MessageStore& store);

// The object after the messages: how full each memory was when it was listed.
bool PrintStoresJson(const MessageStore& store);

// The last JSON object: the places DeleteMsg deleted, and its report.
bool PrintDeletedJson(const MessageStore& store, TextView report);

// "kept 2 parts of an incomplete message from +7916..., reference 23, 2 of 3", on standard
// error, once a message.
void ReportKeptParts(const MessageStore& store);

// "ME: the modem refused the memory; not read", on standard error, for each memory so refused;
// how many there were.
std::size_t ReportRefusedMemories(const MessageStore& store);

// "stores: ME 12/23, SM 49/50" on standard error, after a warning for each memory 80 % full or
// more; nothing when the modem gave no counts.
void ReportFill(const MessageStore& store);

}  // namespace quorlin::cli
