// The number of members of an aggregate, found at compile time by how many
// initialisers it takes: lets a table of a struct's fields be checked
// against the struct, so a member added later cannot be left out of it.
#pragma once

#include <cstddef>
#include <utility>

namespace field_count_detail {

// Converts to any member type.
struct AnyMember {
    template <class T>
    constexpr operator T() const noexcept;
};

template <class T, class... Args>
concept BracesWith = requires { T{std::declval<Args>()...}; };

template <class T, class... Args>
constexpr size_t count() {
    if constexpr (BracesWith<T, Args..., AnyMember>)
        return count<T, Args..., AnyMember>();
    else
        return sizeof...(Args);
}

}  // namespace field_count_detail

// Members of aggregate T (a base class counts as one).
template <class T>
constexpr size_t fieldCount() {
    return field_count_detail::count<T>();
}
