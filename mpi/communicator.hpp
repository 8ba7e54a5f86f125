// The few collective steps a distributed diagram takes, over an MPI
// communicator, and the agreement on failures that keeps every rank on the
// same path: a rank that fails does not leave the others waiting in a
// collective, it tells them at the next agreement and all stop together.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace vorn::mpi {

// What one rank's failure is reported as: its message and the exit status
// the program gives (2 a bad input or output, 1 anything else).
struct Failure {
  std::string message;
  int status = 1;
};

// Thrown on every rank when some rank failed: the failure of the lowest
// failing rank, the same on all.
class RankFailure : public std::runtime_error {
 public:
  RankFailure(const Failure& f) : std::runtime_error(f.message), status(f.status) {}
  int status;
};

class Communicator {
 public:
  explicit Communicator(MPI_Comm comm);

  int rank() const { return rank_; }
  int size() const { return size_; }
  // The ranks running on this rank's machine (sharing its memory).
  int ranks_on_node() const { return ranks_on_node_; }

  // Runs `step` on this rank, then agrees with every rank (see agree). A
  // step's exception becomes its rank's failure: a bad input or output
  // (tools::ToolError, std::invalid_argument, std::range_error) status 2.
  void agreed(const std::function<void()>& step) const;
  // Throws RankFailure on every rank when any rank passes a failure.
  void agree(const std::optional<Failure>& mine) const;

  double max(double v) const { return reduce(v, MPI_MAX); }
  double min(double v) const { return reduce(v, MPI_MIN); }
  double sum(double v) const { return reduce(v, MPI_SUM); }
  std::int64_t sum(std::int64_t v) const;
  // Every rank's value, in rank order.
  std::vector<double> gather_all(double v) const;

  // Every rank's items, concatenated in rank order.
  template <class T>
  std::vector<T> gather_all(std::span<const T> mine) const {
    static_assert(std::is_trivially_copyable_v<T>);
    return from_bytes<T>(gather_bytes(as_bytes(mine), sizeof(T)));
  }

  // Sends outgoing[r] to rank r and returns what every rank sent to this
  // one, in rank order; `bytes_sent` grows by what left this rank.
  template <class T>
  std::vector<T> exchange(const std::vector<std::vector<T>>& outgoing, std::uint64_t& bytes_sent) const {
    static_assert(std::is_trivially_copyable_v<T>);
    std::vector<std::span<const std::byte>> parts;
    for (const auto& part : outgoing) parts.push_back(as_bytes(std::span<const T>(part)));
    return from_bytes<T>(exchange_bytes(parts, sizeof(T), bytes_sent));
  }

 private:
  template <class T>
  static std::span<const std::byte> as_bytes(std::span<const T> s) {
    return std::as_bytes(s);
  }
  template <class T>
  static std::vector<T> from_bytes(const std::vector<std::byte>& bytes) {
    std::vector<T> out(bytes.size() / sizeof(T));
    if (!out.empty()) std::memcpy(static_cast<void*>(out.data()), bytes.data(), bytes.size());
    return out;
  }
  double reduce(double v, MPI_Op op) const;
  // Byte buffers moved as items of `item` bytes, so that counts stay items
  // (MPI counts are ints).
  std::vector<std::byte> gather_bytes(std::span<const std::byte> mine, std::size_t item) const;
  std::vector<std::byte> exchange_bytes(const std::vector<std::span<const std::byte>>& parts, std::size_t item,
                                        std::uint64_t& bytes_sent) const;

  MPI_Comm comm_;
  int rank_ = 0, size_ = 1, ranks_on_node_ = 1;
};

}  // namespace vorn::mpi
