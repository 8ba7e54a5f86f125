#include "number_text.hpp"

#include <charconv>

namespace vorn::tools {

std::string shortest(double value) {
  char text[32];
  return {text, std::to_chars(text, text + sizeof text, value).ptr};
}

std::string grouped(std::uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string out;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) out += ',';
    out += digits[k];
  }
  return out;
}

}  // namespace vorn::tools
