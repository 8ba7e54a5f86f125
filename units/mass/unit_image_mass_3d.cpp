// unit_image_mass_3d: the mass of a 3-D image, one work item.
#include "entry_frame.hpp"
#include "image_mass_unit.hpp"
#include "mass_kernel.hpp"

namespace {

using MassUnit = vorn::frame::Unit<vorn::mass_kernel, vorn::records::VORN_UNIT_NAME>;

}  // namespace

extern "C" __attribute__((visibility("default"))) int VORN_UNIT_ENTRY(void* const* record,
                                                                      const long long* shape_values) {
  return MassUnit::entry(record, shape_values);
}
