// Text from an input file as it appears inside an error message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn::tools {

// `text` cut to about `width` columns, with "..." when cut, and with every
// byte a terminal would act on or show as nothing (control characters,
// DEL, C1 controls, bytes that are not UTF-8) spelled out as \t, \r, \n or
// \xNN. A megabyte field or a stray escape sequence thus stays one short,
// visible line in a message.
std::string printable(std::string_view text, std::size_t width = 40);

}  // namespace vorn::tools
