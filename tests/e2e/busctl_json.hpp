// The JSON that `busctl --json=short` prints, read back into values: enough
// of JSON for method replies (objects, arrays, strings, numbers, booleans
// and null), refusing anything else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vuno::testing {

struct Json {
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    // A string's value, or a number as written.
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    bool Has(const std::string &key) const;
    // The member named `key`; throws std::out_of_range when there is none.
    const Json &At(const std::string &key) const;
    // A number that is a whole, non-negative value; throws otherwise.
    uint64_t Unsigned() const;
    std::vector<std::string> Keys() const;
};

// Throws std::runtime_error on anything that is not one JSON value.
Json ParseJson(std::string_view text);

} // namespace vuno::testing
