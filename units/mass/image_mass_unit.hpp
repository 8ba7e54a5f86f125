// The declaration of the image mass unit: the arguments it decodes and its
// hosts encode. No kernel code.
//
//   triples        scalar_in, shape_var's int32 tensor, values, origin, axes
//                  (in); mass (out); status
//   shape values   shape_var's value (aux0)
//
// One work item: the index space has no axis.
#pragma once

#include "image.hpp"
#include "units/frame/argument_record.hpp"
#include "vorn/queue/index_space.hpp"

namespace vorn::records {

using unit_image_mass_3d = frame::Record<"mass_kernel", CartesianIndices<Tuple<>, Tuple<>>,
                                         frame::Arg<Image3dIo, mass_outputs<Image3d<CpuHostMemorySpace>>>>;

}  // namespace vorn::records
