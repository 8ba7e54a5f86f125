// Memory-space tags. Both denote the process's memory; the tag records on which
// side of a launch a view lives, so host and kernel views cannot be mixed up.
#pragma once

namespace vorn {

struct CpuHostMemorySpace {};    // views built by a unit entry over the host's buffers
struct CpuKernelMemorySpace {};  // views used inside kernels

}  // namespace vorn
