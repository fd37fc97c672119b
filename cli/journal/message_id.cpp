#include "message_id.hpp"

#include "sha256.hpp"

namespace quorlin::cli {
namespace {

void AddField(std::string& bytes, const std::string& field) {
  bytes += std::to_string(field.size());
  bytes += ':';
  bytes += field;
}

}  // namespace

std::string MessageId(const MessageIdentity& identity) {
  std::string bytes;
  AddField(bytes, identity.kind);
  AddField(bytes, identity.sender);
  AddField(bytes, identity.time_stamp);
  AddField(bytes, identity.reference ? std::to_string(*identity.reference) : std::string("-"));
  AddField(bytes, std::to_string(identity.total));
  std::string parts;
  for (unsigned part : identity.parts) parts += std::to_string(part) + ',';
  AddField(bytes, parts);
  AddField(bytes, identity.text);
  const auto digest = Sha256(bytes);
  constexpr const char* kDigits = "0123456789abcdef";
  std::string id;
  for (std::size_t i = 0; i < 16; ++i) {
    id += kDigits[digest[i] >> 4];
    id += kDigits[digest[i] & 0xF];
  }
  return id;
}

}  // namespace quorlin::cli
