// Numbers as the programs show them to people.
#pragma once

#include <cstdint>
#include <string>

namespace vorn::tools {

// The shortest text that reads back to the same double, as in the files.
std::string shortest(double value);

// Thousands grouped with commas: "1,972".
std::string grouped(std::uint64_t count);

}  // namespace vorn::tools
