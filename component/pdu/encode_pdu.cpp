#include "pdu/encode_pdu.hpp"

namespace quorlin {

EncodeResult EncodeSubmit(TextView, TextView, const SubmitOptions&, std::uint8_t) {
  return {std::nullopt, EncodeFailure::kEmptyText};
}

}  // namespace quorlin
