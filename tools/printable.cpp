#include "printable.hpp"

namespace vorn::tools {

namespace {

bool is_continuation(std::string_view text, std::size_t at) {
  return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The byte length of the printable UTF-8 character that starts at `at`, or
// 0 when the bytes there are not one (or are a C1 control, U+0080-U+009F).
std::size_t printable_utf8_length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4                                 ? 4
                                                                                             : 0;
  for (std::size_t k = 1; k < length; ++k) {
    if (!is_continuation(text, at + k)) return 0;
  }
  if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) return 0;
  return length;
}

std::string escaped(unsigned char c) {
  if (c == '\t') return "\\t";
  if (c == '\r') return "\\r";
  if (c == '\n') return "\\n";
  constexpr char digits[] = "0123456789abcdef";
  return {'\\', 'x', digits[c >> 4], digits[c & 15]};
}

}  // namespace

std::string printable(std::string_view text, std::size_t width) {
  std::string out;
  std::size_t columns = 0, at = 0;
  while (at < text.size() && columns < width) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c), ++at, ++columns;
    } else if (const std::size_t length = c >= 0x80 ? printable_utf8_length(text, at) : 0; length != 0) {
      out.append(text.substr(at, length)), at += length, ++columns;
    } else {
      const std::string e = escaped(c);
      out += e, ++at, columns += e.size();
    }
  }
  if (at < text.size()) out += "...";
  return out;
}

}  // namespace vorn::tools
