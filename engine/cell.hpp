// The cell polygon with all its operations.
#pragma once

#include "cut.hpp"
#include "grow_for.hpp"
#include "vorn/engine/local2.hpp"
