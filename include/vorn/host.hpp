// The host API: every header of include/vorn/host/.
#pragma once

#include "vorn/host/bsp_tree.hpp"
#include "vorn/host/image_mass.hpp"
#include "vorn/host/isa_level.hpp"
#include "vorn/host/power_diagram.hpp"
#include "vorn/host/unit_library.hpp"
