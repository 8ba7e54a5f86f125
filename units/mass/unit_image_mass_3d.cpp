// unit_image_mass_3d: the mass of a 3-D image, one work item.
#include "entry_frame.hpp"
#include "image.hpp"
#include "mass_kernel.hpp"

namespace vorn {

using ImageMassUnit = frame::Unit<mass_kernel, CartesianIndices<Tuple<>, Tuple<>>,
                                  frame::Arg<Image3dIo, mass_outputs<Image3d<CpuHostMemorySpace>>>>;

static_assert(ImageMassUnit::layout.triples() == 7);
static_assert(ImageMassUnit::layout.output_triples == 1);
static_assert(ImageMassUnit::layout.shape_values == 1);

}  // namespace vorn

extern "C" __attribute__((visibility("default"))) int VORN_UNIT_ENTRY(void* const* record,
                                                                      const long long* shape_values) {
  return vorn::ImageMassUnit::entry(record, shape_values);
}
