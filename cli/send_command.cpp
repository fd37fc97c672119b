// quorlin send: a text as SMS-SUBMIT PDUs, printed (--dry-run) or handed to the modem.
#include <cstdio>
#include <random>
#include <string>

#include "commands.hpp"
#include "message_json.hpp"
#include "send_live.hpp"
#include "send_options.hpp"
#include "terminal_text.hpp"

namespace quorlin::cli {
namespace {

// The concatenation reference: a fresh one for each message, so that a phone receiving two long
// messages from us at once does not mix their parts.
std::uint8_t PickReference() {
  std::random_device random;
  return static_cast<std::uint8_t>(random() & 0xFFU);
}

// What the encoder refused, as one line on standard error: a usage error.
int ReportRefusal(EncodeFailure failure, const SendOptions& options) {
  std::string why;
  switch (failure) {
    case EncodeFailure::kEmptyText:
      why = "the text is empty";
      break;
    case EncodeFailure::kTooManyParts:
      why = "the text needs more than 255 parts";
      break;
    case EncodeFailure::kBadNumber:
      why = "--to needs \"+\" and 1 to 20 digits, or 1 to 20 digits, not '" + ToUtf8(options.to) +
            "'";
      break;
    case EncodeFailure::kBadServiceCentre:
      why = "--smsc needs \"+\" and 1 to 20 digits, or 1 to 20 digits, not '" +
            ToUtf8(options.submit.service_centre) + "'";
      break;
    case EncodeFailure::kBadValidity:
      why = "--validity needs 1 to 10584 hours (63 weeks), not " +
            std::to_string(options.submit.validity_hours.value_or(0));
      break;
    case EncodeFailure::kNone:
      break;
  }
  std::fprintf(stderr, "quorlin send: %s\n", why.c_str());
  return 2;
}

// Each part as AT+CMGS would take it, one a line; with --json one object a part.
int PrintParts(const EncodedSubmit& message, bool json) {
  bool written = true;
  for (std::size_t i = 0; i < message.parts.size(); ++i) {
    const SubmitPart& part = message.parts[i];
    if (!json) {
      written = WriteLine(stdout, ToUtf8(part.pdu)) && written;
      continue;
    }
    written = WriteJsonLine({{"part", i + 1},
                             {"total", message.parts.size()},
                             {"length", part.tpdu_length},
                             {"pdu", ToUtf8(part.pdu)}}) &&
              written;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !written) {
    std::fputs("quorlin send: cannot write the output\n", stderr);
    return 1;
  }
  return 0;
}

}  // namespace

int RunSend(std::span<const std::string_view> args) {
  const ParsedSendOptions parsed = ParseSendOptions(args, stdin);
  if (!parsed.options) return parsed.exit_code;
  const SendOptions& options = *parsed.options;
  const EncodeResult result =
      EncodeSubmit(options.to, options.text, options.submit, PickReference());
  if (!result.message) return ReportRefusal(result.failure, options);
  if (options.dry_run) return PrintParts(*result.message, options.json);
  return SendLive(options, *result.message);
}

}  // namespace quorlin::cli
