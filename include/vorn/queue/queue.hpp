// Umbrella header for the CPU queue and kernel submission.
#pragma once

#include "vorn/queue/bundle.hpp"
#include "vorn/queue/cpu_queue.hpp"
#include "vorn/queue/dependencies.hpp"
#include "vorn/queue/fill.hpp"
#include "vorn/queue/index_space.hpp"
#include "vorn/queue/io.hpp"
#include "vorn/queue/launch.hpp"
#include "vorn/queue/queue_event.hpp"
#include "vorn/queue/submit.hpp"
#include "vorn/queue/thread_pool.hpp"
