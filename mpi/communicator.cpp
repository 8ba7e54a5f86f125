#include "communicator.hpp"

#include <limits>
#include <new>

#include "tool_error.hpp"

namespace vorn::mpi {

namespace {

// A datatype of `item` contiguous bytes, freed when it goes out of scope.
class ItemType {
 public:
  explicit ItemType(std::size_t item) {
    MPI_Type_contiguous(static_cast<int>(item), MPI_BYTE, &type_);
    MPI_Type_commit(&type_);
  }
  ~ItemType() { MPI_Type_free(&type_); }
  ItemType(const ItemType&) = delete;
  ItemType& operator=(const ItemType&) = delete;
  MPI_Datatype get() const { return type_; }

 private:
  MPI_Datatype type_;
};

int item_count(std::size_t bytes, std::size_t item) {
  const std::size_t items = bytes / item;
  if (items > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("more than 2^31 items in one message between two ranks");
  }
  return static_cast<int>(items);
}

// The displacements of counts laid end to end, and their total.
std::vector<int> displacements(const std::vector<int>& counts, std::size_t& total) {
  std::vector<int> at(counts.size());
  total = 0;
  for (std::size_t r = 0; r < counts.size(); ++r) {
    if (total > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      throw std::length_error("more than 2^31 items arriving at one rank in one step");
    }
    at[r] = static_cast<int>(total);
    total += static_cast<std::size_t>(counts[r]);
  }
  return at;
}

}  // namespace

Communicator::Communicator(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm, &rank_);
  MPI_Comm_size(comm, &size_);
  MPI_Comm node;
  MPI_Comm_split_type(comm, MPI_COMM_TYPE_SHARED, rank_, MPI_INFO_NULL, &node);
  MPI_Comm_size(node, &ranks_on_node_);
  MPI_Comm_free(&node);
}

void Communicator::agreed(const std::function<void()>& step) const {
  std::optional<Failure> failure;
  try {
    step();
  } catch (const RankFailure&) {
    throw;
  } catch (const tools::ToolError& e) {
    failure = Failure{e.what(), 2};
  } catch (const std::invalid_argument& e) {
    failure = Failure{e.what(), 2};
  } catch (const std::range_error& e) {
    failure = Failure{e.what(), 2};
  } catch (const std::bad_alloc&) {
    failure = Failure{"rank " + std::to_string(rank_) + " ran out of memory", 1};
  } catch (const std::exception& e) {
    failure = Failure{e.what(), 1};
  }
  agree(failure);
}

void Communicator::agree(const std::optional<Failure>& mine) const {
  int first = mine ? rank_ : size_;
  MPI_Allreduce(MPI_IN_PLACE, &first, 1, MPI_INT, MPI_MIN, comm_);
  if (first == size_) return;
  // The message and status of the lowest failing rank, sent to all.
  std::int64_t head[2] = {rank_ == first ? static_cast<std::int64_t>(mine->message.size()) : 0,
                          rank_ == first ? mine->status : 0};
  MPI_Bcast(head, 2, MPI_INT64_T, first, comm_);
  std::string text = rank_ == first ? mine->message : std::string(static_cast<std::size_t>(head[0]), '\0');
  MPI_Bcast(text.data(), static_cast<int>(head[0]), MPI_CHAR, first, comm_);
  throw RankFailure(Failure{text, static_cast<int>(head[1])});
}

double Communicator::reduce(double v, MPI_Op op) const {
  MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_DOUBLE, op, comm_);
  return v;
}

std::int64_t Communicator::sum(std::int64_t v) const {
  MPI_Allreduce(MPI_IN_PLACE, &v, 1, MPI_INT64_T, MPI_SUM, comm_);
  return v;
}

std::vector<double> Communicator::gather_all(double v) const {
  std::vector<double> all(static_cast<std::size_t>(size_));
  MPI_Allgather(&v, 1, MPI_DOUBLE, all.data(), 1, MPI_DOUBLE, comm_);
  return all;
}

std::vector<std::byte> Communicator::gather_bytes(std::span<const std::byte> mine, std::size_t item) const {
  const ItemType type(item);
  int count = item_count(mine.size(), item);
  std::vector<int> counts(static_cast<std::size_t>(size_));
  MPI_Allgather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, comm_);
  std::size_t total = 0;
  const std::vector<int> at = displacements(counts, total);
  std::vector<std::byte> all(total * item);
  MPI_Allgatherv(mine.data(), count, type.get(), all.data(), counts.data(), at.data(), type.get(), comm_);
  return all;
}

std::vector<std::byte> Communicator::exchange_bytes(const std::vector<std::span<const std::byte>>& parts,
                                                    std::size_t item, std::uint64_t& bytes_sent) const {
  const ItemType type(item);
  std::vector<int> send_counts(static_cast<std::size_t>(size_)), receive_counts(send_counts.size());
  std::vector<std::byte> outgoing;
  for (std::size_t r = 0; r < parts.size(); ++r) {
    send_counts[r] = item_count(parts[r].size(), item);
    outgoing.insert(outgoing.end(), parts[r].begin(), parts[r].end());
    if (static_cast<int>(r) != rank_) bytes_sent += parts[r].size();
  }
  MPI_Alltoall(send_counts.data(), 1, MPI_INT, receive_counts.data(), 1, MPI_INT, comm_);
  std::size_t sent = 0, total = 0;
  const std::vector<int> send_at = displacements(send_counts, sent);
  const std::vector<int> receive_at = displacements(receive_counts, total);
  std::vector<std::byte> incoming(total * item);
  MPI_Alltoallv(outgoing.data(), send_counts.data(), send_at.data(), type.get(), incoming.data(), receive_counts.data(),
                receive_at.data(), type.get(), comm_);
  return incoming;
}

}  // namespace vorn::mpi
