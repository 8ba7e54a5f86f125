// Dependencies<N>: the events a submission waits for before it starts.
#pragma once

#include <array>
#include <cstddef>

#include "vorn/queue/queue_event.hpp"

namespace vorn {

template <std::size_t N>
struct Dependencies {
  std::array<const QueueEvent*, N> events{};
};

// Nothing to wait for: every submission of the units passes this.
template <>
struct Dependencies<0> {};

}  // namespace vorn
