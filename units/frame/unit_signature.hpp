// A unit's signature: the text of its declaration that its entry symbol is
// made from, brask_body_<first 20 hex digits of SHA-1("<name>:<signature>")>.
// Anything that changes the record (an element type, a rank, a static or
// dynamic extent, an io marker, a shape variable, the index space) or the
// kernel changes the text, and so the symbol: a host built against another
// declaration fails to resolve the entry instead of passing a wrong record.
//
//   signature   kernel(bundle, bundle, ...) over [extents of the index space]
//   bundle      <member, member, ...>              its members in declaration order
//   tensor      f64[?,2]                           element type, extents (? = dynamic)
//   shape var   i64 shape var, i32[?] shape var    over a ScalarValue, over an int32 tensor
//   constant    2                                  a Ct member's value
//   absent      -                                  a NoneTensor, or a shape variable over one
//
// A member the unit writes (OutList) is followed by " out"; a present member
// marked UndefList by " unused", an absent one marked InpList by " in".
// Example: mass_kernel(<<f64[], 3, i32[?] shape var, ...>>) over [].
//
// The build computes each unit's signature with this header (VornUnit.cmake).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "argument_record.hpp"

namespace vorn::frame {

namespace detail {

template <class T>
inline constexpr bool no_signature_text = false;

template <class T>
constexpr std::string_view element_text() {
  if constexpr (std::is_same_v<T, double>) {
    return "f64";
  } else if constexpr (std::is_same_v<T, float>) {
    return "f32";
  } else if constexpr (std::is_same_v<T, long long>) {
    return "i64";
  } else if constexpr (std::is_same_v<T, int>) {
    return "i32";
  } else {
    static_assert(no_signature_text<T>, "an element type without a signature text");
  }
}

template <class Shape>
std::string extents_text() {
  std::string out = "[";
  [&]<std::size_t... K>(std::index_sequence<K...>) {
    ((out += K == 0 ? "" : ",", out += Shape::template is_static<K> ? std::to_string(Shape{}.template get<K>()) : "?"),
     ...);
  }(std::make_index_sequence<Shape::size>{});
  return out + "]";
}

template <class M>
constexpr bool is_absent() {
  if constexpr (is_shape_var_view_v<M>) {
    return is_none_tensor_v<decltype(M::source)>;
  } else {
    return is_none_tensor_v<M>;
  }
}

// What follows a member whose marker is not the one its kind implies: a
// present member is read, an absent one is not there.
template <class Marker, class M>
constexpr std::string_view marker_text() {
  constexpr bool absent = is_absent<M>();
  if constexpr (std::is_same_v<Marker, OutList>) {
    return " out";
  } else if constexpr (std::is_same_v<Marker, UndefList>) {
    return absent ? "" : " unused";
  } else {
    static_assert(std::is_same_v<Marker, InpList>, "io markers are InpList, OutList or UndefList");
    return absent ? " in" : "";
  }
}

template <class M>
std::string leaf_text() {
  if constexpr (is_absent<M>()) {
    return "-";
  } else if constexpr (is_tensor_view_v<M>) {
    return std::string(element_text<typename M::element_type>()) + extents_text<typename M::shape_type>();
  } else if constexpr (is_shape_var_view_v<M>) {
    return leaf_text<decltype(M::source)>() + " shape var";
  } else if constexpr (is_scalar_value_v<M>) {
    return std::string(element_text<decltype(M::value)>());
  } else if constexpr (is_ct_v<M>) {
    return std::to_string(M::value);
  } else {
    static_assert(no_signature_text<M>, "a bundle member without a signature text");
  }
}

// `Io` is the io twin of a bundle, or the marker of a leaf.
template <class Io, class M>
void append_member(std::string& out, const M& member) {
  if constexpr (Bundle<M>) {
    const auto members = member.members();
    using Markers = io_markers_t<Io>;
    out += '<';
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      ((out += I == 0 ? "" : ", ", append_member<std::tuple_element_t<I, Markers>>(out, std::get<I>(members))), ...);
    }(std::make_index_sequence<std::tuple_size_v<Markers>>{});
    out += '>';
  } else {
    out += leaf_text<M>();
    out += marker_text<Io, M>();
  }
}

}  // namespace detail

template <class Decl>
std::string unit_signature() {
  const typename Decl::bundles_type bundles{};
  std::string out(Decl::kernel);
  out += '(';
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    ((out += I == 0 ? "" : ", ",
      detail::append_member<std::tuple_element_t<I, typename Decl::io_types>>(out, std::get<I>(bundles))),
     ...);
  }(std::make_index_sequence<std::tuple_size_v<typename Decl::bundles_type>>{});
  out += ") over ";
  out += detail::extents_text<decltype(Decl::space_type::extents)>();
  return out;
}

}  // namespace vorn::frame
