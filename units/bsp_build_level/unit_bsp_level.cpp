// The BSP level units: one level of a BSP per call, one work item per node of
// the level. Built once per unit; VORN_UNIT_NAME, the unit's library name,
// chooses its declaration in bsp_level_units.hpp (dimension, weights and
// weight majorants, input point count), and with it everything the kernel
// is instantiated for.
#include "bsp_build_level_kernel.hpp"
#include "bsp_level_units.hpp"
#include "entry_frame.hpp"

namespace {

using LevelUnit = vorn::frame::Unit<vorn::bsp_build_level_kernel, vorn::records::VORN_UNIT_NAME>;

}  // namespace

extern "C" __attribute__((visibility("default"))) int VORN_UNIT_ENTRY(void* const* record,
                                                                      const long long* shape_values) {
  return LevelUnit::entry(record, shape_values);
}
