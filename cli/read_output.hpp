// What quorlin read prints of a listing: the messages as text or JSON Lines on standard output,
// what was deleted, and the parts kept on the modem.
#pragma once

#include "store/message_store.hpp"

namespace quorlin::cli {

// Each line of SMS in UTF-8 (a listing of nothing prints "Empty"); true when all of it reached
// the output.
bool PrintMessages(TextView sms);

// One object a shown message (a joined one with the places of its parts); true when all of it
// reached the output.
bool PrintJson(const MessageStore& store);

// The last JSON object: the places DeleteMsg deleted, and its report.
bool PrintDeletedJson(const MessageStore& store, TextView report);

// "kept 2 parts of an incomplete message from +7916..., reference 23, 2 of 3", on standard
// error, once a message.
void ReportKeptParts(const MessageStore& store);

}  // namespace quorlin::cli
