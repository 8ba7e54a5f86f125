// io markers: what a kernel does with each member of an argument bundle.
//
// Every bundle has an io twin of the same structure whose template arguments are
// the markers of its members, in member order (an io twin for a sub-bundle). The
// markers decide the argument record and which tensors the entry clears; on the
// CPU queue they cause no copying, since kernel views alias the host's buffers.
#pragma once

#include <tuple>

namespace vorn {

struct InpList {};    // the kernel reads the member
struct OutList {};    // the kernel writes the member
struct UndefList {};  // the member is absent (a NoneTensor or a shape variable over one)

namespace detail {

template <class Io>
struct io_markers;
template <template <class...> class IoBundle, class... M>
struct io_markers<IoBundle<M...>> {
  using type = std::tuple<M...>;
};

}  // namespace detail

// The markers of an io bundle's members, as a std::tuple of types.
template <class Io>
using io_markers_t = typename detail::io_markers<Io>::type;

}  // namespace vorn
