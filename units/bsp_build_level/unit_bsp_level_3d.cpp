// unit_bsp_level_3d: one level of a BSP over 3-D points;
// one work item per node of the level.
#include "bsp_build_level_kernel.hpp"
#include "bsp_level_units.hpp"
#include "entry_frame.hpp"

using LevelUnit = vorn::frame::Unit<vorn::bsp_build_level_kernel, vorn::records::unit_bsp_level_3d>;

extern "C" __attribute__((visibility("default"))) int VORN_UNIT_ENTRY(void* const* record,
                                                                      const long long* shape_values) {
  return LevelUnit::entry(record, shape_values);
}
