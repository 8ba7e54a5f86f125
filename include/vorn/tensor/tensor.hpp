// Umbrella header for tensor views and their companions.
#pragma once

#include "vorn/tensor/axes.hpp"
#include "vorn/tensor/ct.hpp"
#include "vorn/tensor/memory_space.hpp"
#include "vorn/tensor/none_tensor.hpp"
#include "vorn/tensor/scalar_value.hpp"
#include "vorn/tensor/shape_var_view.hpp"
#include "vorn/tensor/tensor_view.hpp"
#include "vorn/tensor/tuple.hpp"
