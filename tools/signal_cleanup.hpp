// Temporary files that SIGINT, SIGTERM and SIGHUP remove before the program
// ends, so that Ctrl-C or a kill during writing leaves no stray file, and a
// progress bar they clear.
//
// The handler only walks a fixed table and calls unlinkat, both safe in a
// signal handler, then restores the default action and raises the signal
// again, so the program still ends as the signal asks (status 128 + signal).
// A signal whose action was "ignore" when the first file was registered
// (as under nohup) stays ignored.
#pragma once

#include <string_view>

namespace vorn::tools {

// Registers `name` in the directory open as `dir` (a descriptor that stays
// open until forget_temporary). Returns a slot for forget_temporary, or -1
// when the table is full or the name too long; the file is then still
// removed on every ordinary exit, only not on a signal.
int remember_temporary(int dir, std::string_view name);

// Drops the registration, after the file was renamed or removed.
void forget_temporary(int slot);

// While `drawn`, the same signals first clear the line of standard error (a
// terminal showing a progress bar), so that what the shell prints next
// starts on a clean line.
void clear_line_on_signal(bool drawn);

}  // namespace vorn::tools
