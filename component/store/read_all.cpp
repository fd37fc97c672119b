// Listing both message memories, phone ("ME") then SIM ("SM"), into one marked listing.
#include "quorlin.hpp"
#include "store/listing_parser.hpp"

namespace quorlin {
namespace {

constexpr TextView kCrLf = u"\r\n";

// A listing reply up to its last CR LF: a PDU line received only in part (the modem fell silent,
// or it came behind the "OK" in the same read) is then neither shown nor listed for deletion.
// (The parser leaves a header without its PDU line out.)
TextView CompleteLines(TextView reply) {
  const std::size_t end = reply.rfind(kCrLf);
  return end == TextView::npos ? TextView{} : reply.substr(0, end + kCrLf.size());
}

}  // namespace

Text Quorlin::ListStorage() {
  // AT+CMGL=4: every message of the memory, whatever its status, in PDU mode.
  return Text(CompleteLines(exchange_.SendCommand(u"AT+CMGL=4", u"OK", 30)));
}

void Quorlin::ReadAllMsg() {
  if (!CheckPortOpen()) return;
  sms_text_.clear();
  listing_text_.clear();
  // A memory that cannot be selected contributes nothing, marker included. The outcome of the
  // listing itself is not examined: whatever arrived is parsed.
  Text listing;
  SelectStorage(1);
  if (status_text_ == u"OK") listing = u"Storage: 1\r\n" + ListStorage();
  SelectStorage(2);
  if (status_text_ == u"OK") listing += u"\r\nStorage: 2\r\n" + ListStorage();
  listing_text_ = std::move(listing);

  if (auto parsed = ParseListing(listing_text_)) {
    listed_messages_ = std::move(parsed->references);
    sms_text_ = std::move(parsed->sms_text);
  }
  if (sms_text_.empty()) sms_text_ = u"Empty";
}

}  // namespace quorlin
