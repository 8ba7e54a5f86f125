// Control of the recording runtime the frame tests run against.
#pragma once

#include <vector>

#define RECORDING_RUNTIME_API __attribute__((visibility("default")))

namespace recording_runtime {

RECORDING_RUNTIME_API int pool_calls();                   // calls of cpu_thread_pool()
RECORDING_RUNTIME_API void fail_next_pool_calls(int count);  // make the next calls throw
RECORDING_RUNTIME_API std::vector<int> take_slot_counts();  // n of each run_threads call so far

}  // namespace recording_runtime
