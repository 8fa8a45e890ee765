// SPDX-License-Identifier: MIT
// Members of a JSON object read from another process (events, reports), taken only when
// they are what they must be.
#pragma once

#include <cstdint>
#include <optional>

// The member name of object (an nlohmann object, ordered or not) when it is an integer
// within [low, high]; nothing otherwise (also when it is null, missing or a float). An
// unsigned value above what int64 holds is out of range, not wrapped.
template <typename Object>
std::optional<std::int64_t> integerMember(const Object& object, const char* name, std::int64_t low, std::int64_t high)
{
    const auto found = object.find(name);
    if (found == object.end()) return std::nullopt;
    std::int64_t value = 0;
    if (found->is_number_unsigned()) {
        const auto unsignedValue = found->template get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(high)) return std::nullopt;
        value = static_cast<std::int64_t>(unsignedValue);
    } else if (found->is_number_integer()) {
        value = found->template get<std::int64_t>();
    } else {
        return std::nullopt;
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}
