// The peer of `quorlin decode` end to end: each line of standard input is a PDU, decoded by
// libGammu (gammu_line.hpp) into one line on standard output, an empty line when it refuses the
// PDU. Input and output go in 64 KiB blocks, so that the figure weighs decoding, not I/O.
//
//   gammu_decode_lines < pdus.txt > lines.txt
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "gammu_line.hpp"

namespace {

constexpr std::size_t kBlock = 64 * 1024;

class Output {
 public:
  bool Line(const std::string& line) {
    buffer_.append(line).push_back('\n');
    return buffer_.size() < kBlock || Flush();
  }
  bool Flush() {
    const bool written = std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) == buffer_.size();
    buffer_.clear();
    return written && std::fflush(stdout) == 0;
  }

 private:
  std::string buffer_;
};

}  // namespace

int main() {
  GSM_SMSMessage sms;
  std::string line;
  Output output;
  std::vector<char> block(kBlock);
  std::string partial;  // the start of a line that the last block cut
  bool written = true;
  auto decode = [&](std::string_view pdu) {
    if (!pdu.empty() && pdu.back() == '\r') pdu.remove_suffix(1);
    if (!quorlin::bench::GammuLine(pdu, sms, line)) line.clear();
    written = output.Line(line) && written;
  };
  for (std::size_t count; (count = std::fread(block.data(), 1, block.size(), stdin)) > 0;) {
    std::string_view rest(block.data(), count);
    for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos;
         rest.remove_prefix(end + 1)) {
      if (partial.empty()) {
        decode(rest.substr(0, end));
      } else {
        partial.append(rest.substr(0, end));
        decode(partial);
        partial.clear();
      }
    }
    partial.append(rest);
  }
  if (!partial.empty()) decode(partial);
  written = output.Flush() && written;
  if (std::ferror(stdin) != 0 || !written) {
    std::fputs("gammu_decode_lines: cannot read the input or write the output\n", stderr);
    return 1;
  }
  return 0;
}
