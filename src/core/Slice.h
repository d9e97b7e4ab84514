#pragma once
// A view's bytes [from, to), cut by position: for code built without
// exceptions (the self-upgrade stub), where substr's range check would throw.
// The caller keeps from <= to <= text.size().
#include <cstddef>
#include <string_view>

constexpr std::string_view Slice(std::string_view text, std::size_t from, std::size_t to)
{
    return std::string_view(text.data() + from, to - from);
}
