#include "text/text.hpp"

namespace quorlin {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(Text& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

void AppendUtf8(std::string& out, char32_t cp) {
  auto put = [&out](char32_t v) { out.push_back(static_cast<char>(v)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6));
    put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18));
    put(0x80 | ((cp >> 12) & 0x3F));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  }
}

// What the first byte of a UTF-8 sequence says: how many bytes follow, its bits of the code
// point, and the least code point a sequence of this length may carry (shorter is overlong).
struct LeadByte {
  bool valid = true;
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
};

LeadByte ReadLead(unsigned char lead) {
  if (lead < 0x80) return {true, 0, lead, 0};
  if ((lead & 0xE0) == 0xC0) return {true, 1, lead & 0x1Fu, 0x80};
  if ((lead & 0xF0) == 0xE0) return {true, 2, lead & 0x0Fu, 0x800};
  if ((lead & 0xF8) == 0xF0) return {true, 3, lead & 0x07u, 0x10000};
  return {false, 0, 0, 0};
}

}  // namespace

Text FromUtf8(std::string_view utf8) {
  Text out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto [valid, extra, first_bits, min] = ReadLead(static_cast<unsigned char>(utf8[i]));
    if (!valid) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    char32_t cp = first_bits;
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(static_cast<char16_t>(kReplacement));
      // Resynchronise at the first byte that did not continue the sequence.
      i = j > i + 1 ? j : i + 1;
      continue;
    }
    AppendUtf16(out, cp);
    i = j;
  }
  return out;
}

std::string ToUtf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

Text FromAscii(std::string_view ascii) {
  Text out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

bool Contains(TextView text, TextView part) {
  return text.find(part) != TextView::npos;
}

bool IsPlainDecimal(TextView text) {
  if (text.empty()) return false;
  for (char16_t ch : text) {
    if (ch < u'0' || ch > u'9') return false;
  }
  return true;
}

TextView TrimSpaces(TextView text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == TextView::npos) return {};
  const auto last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

Text SafeDisplayLine(TextView line) {
  Text safe(line);
  for (char16_t& c : safe) {
    if (c == u'\r' || c == u'\n') {
      c = u' ';
    } else if ((c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
               (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
      c = static_cast<char16_t>(kReplacement);
    }
  }
  return safe;
}

}  // namespace quorlin
