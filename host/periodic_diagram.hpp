// Power diagrams on the flat torus: the cells of the seeds among copies of
// them in a band around the period box, each certified complete or computed
// again in a wider band.
#pragma once

#include <chrono>
#include <span>

#include "vorn/host/power_diagram.hpp"

namespace vorn::host::detail {

// Fills `out`, sized for n > 0 seeds and with its level and threads set,
// with the periodic diagram of the checked seeds (see power_diagram.hpp);
// `start` is when the call began, for the tree phase's time.
void periodic_diagram(PowerDiagram& out, std::span<const double> positions, std::span<const double> weights,
                      const PowerDiagramOptions& options, std::chrono::steady_clock::time_point start);

}  // namespace vorn::host::detail
