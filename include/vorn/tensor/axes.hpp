// Axis tags: empty types naming the axes of a view, outermost first.
#pragma once

namespace vorn {

struct _num_point {};      // point index within a cloud
struct _dim {};            // coordinate index
struct _batch_0 {};        // work item of a launch; a BSP node of the level being built
struct _num_lohi {};       // 0 = lower bound, 1 = upper bound
struct _num_bsp_param {};  // BSP parameter index
struct _img_pos_0 {};      // image index along image axis 0
struct _img_pos_1 {};      // image index along image axis 1
struct _img_pos_2 {};      // image index along image axis 2
struct _dir {};            // row of an image's axis matrix
struct _num_knot {};       // knot index along one coordinate
struct _num_cell_cum {};   // cumulative cell index
struct UnnamedAxis {};     // an axis without a name

}  // namespace vorn
