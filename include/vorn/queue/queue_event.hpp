// QueueEvent: the completion record of one submission.
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace vorn {

// Every submission on the CPU queue is synchronous, so the events it returns are
// already complete and carry no actions. Destruction still follows the general
// protocol: wait, run the completion actions in order, release them last first.
struct QueueEvent {
  std::function<void()> wait_action;                     // may be empty
  bool released = false;
  std::vector<std::function<void()>> completion_actions;  // never holds an empty callable

  QueueEvent() = default;
  QueueEvent(const QueueEvent&) = delete;
  QueueEvent& operator=(const QueueEvent&) = delete;
  QueueEvent(QueueEvent&& other) noexcept
      : wait_action(std::move(other.wait_action)),
        released(other.released),
        completion_actions(std::move(other.completion_actions)) {
    other.wait_action = nullptr;
    other.completion_actions.clear();
    other.released = true;
  }
  QueueEvent& operator=(QueueEvent&&) = delete;

  ~QueueEvent() {
    if (!released) {
      if (wait_action) wait_action();
      for (auto& action : completion_actions) action();
      release_actions();
      released = true;
    }
    release_actions();
  }

 private:
  void release_actions() noexcept {
    while (!completion_actions.empty()) completion_actions.pop_back();
  }
};

}  // namespace vorn
