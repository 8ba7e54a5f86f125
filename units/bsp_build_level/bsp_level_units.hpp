// The declarations of the three BSP level units: the arguments each unit
// decodes and its hosts encode, named after the unit's library. No kernel code.
//
//   unit                        triples                   shape values
//   unit_bsp_level_2d_weighted  6 in, 8 out, 1 status     num_points, m
//   unit_bsp_level_3d           5 in, 5 out, 1 status     num_points, m
//   unit_bsp_level_2d           5 in, 5 out, 1 status     m
//
// m, the nodes of the level, sizes the launch: one work item per node.
#pragma once

#include "bsp_unit_types.hpp"
#include "units/frame/argument_record.hpp"
#include "vorn/queue/index_space.hpp"

namespace vorn::bsp {

using LevelSpace = CartesianIndices<Tuple<long long>, Tuple<_batch_0>>;

// The arguments of a unit whose bundles are `Types` (a bsp::Unit over host memory).
template <class Types>
using LevelRecordOf = frame::Record<"bsp_build_level_kernel", LevelSpace,
                                    frame::Arg<typename Types::inputs_io, typename Types::inputs>,
                                    frame::Arg<typename Types::outputs_io, typename Types::outputs>,
                                    frame::Arg<typename Types::scratch_io, typename Types::scratch>>;

template <long long D, bool Weighted, bool InputCount>
using LevelRecord = LevelRecordOf<Unit<D, Weighted, InputCount, CpuHostMemorySpace>>;

}  // namespace vorn::bsp

namespace vorn::records {

using unit_bsp_level_2d_weighted = bsp::LevelRecord<2, true, true>;
using unit_bsp_level_3d = bsp::LevelRecord<3, false, true>;
using unit_bsp_level_2d = bsp::LevelRecord<2, false, false>;

}  // namespace vorn::records
