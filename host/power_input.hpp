// Checks of power_diagram's arguments, made before any work starts.
#pragma once

#include <span>
#include <string>

#include "seed_frame.hpp"
#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// Throws std::invalid_argument naming the first thing wrong (see power_diagram).
// The shortest text that reads back as `value`, for messages.
std::string number_text(double value);

void check_power_input(std::span<const double> positions, std::span<const double> weights,
                       const PowerDiagramOptions& options);

// Throws std::invalid_argument when a weight, in the engine's frame, is
// beyond what the cells that `options` ask for resolve (see power_diagram).
void check_frame_weights(const SeedFrame& frame, std::span<const double> weights, const PowerDiagramOptions& options);

}  // namespace vorn::host::detail
