#include "send_live.hpp"

namespace quorlin::cli {

int SendLive(const SendOptions&, const EncodedSubmit&) {
  std::fputs("quorlin send: sending through a modem is not built yet\n", stderr);
  return 1;
}

}  // namespace quorlin::cli
