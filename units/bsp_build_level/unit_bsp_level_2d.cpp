// unit_bsp_level_2d: one level of a BSP over 2-D points;
// one work item per node of the level.
#include "bsp_build_level_kernel.hpp"
#include "bsp_unit_types.hpp"
#include "entry_frame.hpp"

namespace vorn {

using BspTypes = bsp::Unit<2, false, false, CpuHostMemorySpace>;
using BspLevelSpace = CartesianIndices<Tuple<long long>, Tuple<_batch_0>>;
using BspLevelUnit = frame::Unit<bsp_build_level_kernel, BspLevelSpace,
                                 frame::Arg<BspTypes::inputs_io, BspTypes::inputs>,
                                 frame::Arg<BspTypes::outputs_io, BspTypes::outputs>,
                                 frame::Arg<BspTypes::scratch_io, BspTypes::scratch>>;

static_assert(BspLevelUnit::layout.triples() == 11);
static_assert(BspLevelUnit::layout.input_triples == 5);
static_assert(BspLevelUnit::layout.output_triples == 5);
// The shape-variable array: the bundles' host-given counts, then m.
static_assert(BspLevelUnit::layout.shape_values + frame::space_dynamic_extents<BspLevelSpace> == 1);

}  // namespace vorn

extern "C" __attribute__((visibility("default"))) int VORN_UNIT_ENTRY(void* const* record,
                                                                      const long long* shape_values) {
  return vorn::BspLevelUnit::entry(record, shape_values);
}
