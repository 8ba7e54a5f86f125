#include "signal_cleanup.hpp"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

namespace vorn::tools {

namespace {

// A slot is read by the handler only while `live`: its fields are written
// before `live` is set (release) and left alone until it is cleared.
struct Slot {
  std::atomic<bool> claimed{false};
  std::atomic<bool> live{false};
  int dir = -1;
  char name[NAME_MAX + 1] = {};
};

constexpr int slot_count = 16;  // a run writes two outputs; tests hold a few at once
Slot slots[slot_count];

constexpr int cleaned_signals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> line_drawn{false};

extern "C" void remove_temporaries(int signal) {
  const int saved = errno;
  if (line_drawn.load(std::memory_order_relaxed)) {
    constexpr char clear[] = "\r\033[K";
    [[maybe_unused]] const ssize_t written = ::write(2, clear, sizeof clear - 1);
  }
  for (Slot& s : slots) {
    if (s.live.load(std::memory_order_acquire)) ::unlinkat(s.dir, s.name, 0);
  }
  errno = saved;
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // blocked until the handler returns, then ends the program
}

void install_handler() {
  for (const int signal : cleaned_signals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = remove_temporaries;
    sigemptyset(&action.sa_mask);
    for (const int other : cleaned_signals) sigaddset(&action.sa_mask, other);  // one cleanup at a time
    ::sigaction(signal, &action, nullptr);
  }
}

void ensure_handler() {
  static std::once_flag installed;
  std::call_once(installed, install_handler);
}

}  // namespace

void clear_line_on_signal(bool drawn) {
  if (drawn) ensure_handler();
  line_drawn.store(drawn, std::memory_order_relaxed);
}

int remember_temporary(int dir, std::string_view name) {
  ensure_handler();
  if (name.size() > NAME_MAX) return -1;
  for (int i = 0; i < slot_count; ++i) {
    Slot& s = slots[i];
    if (s.claimed.exchange(true, std::memory_order_acquire)) continue;
    s.dir = dir;
    std::memcpy(s.name, name.data(), name.size());
    s.name[name.size()] = '\0';
    s.live.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void forget_temporary(int slot) {
  if (slot < 0) return;
  slots[slot].live.store(false, std::memory_order_release);
  slots[slot].claimed.store(false, std::memory_order_release);
}

}  // namespace vorn::tools
