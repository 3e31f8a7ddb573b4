// One object of an inventory file, read field by field with checks that
// name the object and the field in every error.
#pragma once

#include "inventory_names.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace vuno::hostsim::inventory {

constexpr size_t kMaxObjects = 1024;
using Version = std::array<uint16_t, 4>;

// Thrown with the message that names the object and the field.
class LoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline bool Printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// One object of the file, its fields taken one by one; a field nobody took
// is an error, so a misspelt key does not pass unnoticed.
class Entry {
  public:
    Entry(std::string where, const Json &object) : where_(std::move(where)), object_(object) {
        if (!object_.is_object()) {
            Fail("must be an object");
        }
    }

    const std::string &Where() const { return where_; }
    void Called(const std::string &label) { where_ += " (" + label + ")"; }

    [[noreturn]] void Fail(const std::string &message) const {
        throw LoadError(where_ + ": " + message);
    }

    const Json *Take(const std::string &key) {
        const auto found = object_.find(key);
        if (found == object_.end()) {
            return nullptr;
        }
        taken_.insert(key);
        return &*found;
    }

    const Json &Required(const std::string &key) {
        const Json *value = Take(key);
        if (value == nullptr) {
            Fail("'" + key + "' is missing");
        }
        return *value;
    }

    std::string TextOf(const std::string &key, const Json &value, size_t width) const {
        if (!value.is_string()) {
            Fail("'" + key + "' must be a text");
        }
        const auto &text = value.get_ref<const std::string &>();
        if (!Printable(text) || text.size() > width) {
            Fail("'" + key + "' must be printable ASCII of at most " + std::to_string(width) +
                 " characters");
        }
        return text;
    }

    std::string Text(const std::string &key, std::string fallback, size_t width) {
        const Json *value = Take(key);
        return value == nullptr ? fallback : TextOf(key, *value, width);
    }

    template <typename Number>
    Number NumberOf(const std::string &key, const Json &value, uint64_t least = 0,
                    uint64_t most = std::numeric_limits<Number>::max()) const {
        if (!value.is_number_unsigned() || value.get<uint64_t>() < least ||
            value.get<uint64_t>() > most) {
            Fail("'" + key + "' must be a whole number from " + std::to_string(least) + " to " +
                 std::to_string(most));
        }
        return static_cast<Number>(value.get<uint64_t>());
    }

    template <typename Number>
    Number Optional(const std::string &key, Number fallback, uint64_t least = 0,
                    uint64_t most = std::numeric_limits<Number>::max()) {
        const Json *value = Take(key);
        return value == nullptr ? fallback : NumberOf<Number>(key, *value, least, most);
    }

    template <typename Number>
    Number RequiredNumber(const std::string &key, uint64_t least = 0,
                          uint64_t most = std::numeric_limits<Number>::max()) {
        return NumberOf<Number>(key, Required(key), least, most);
    }

    bool Flag(const std::string &key, bool fallback) {
        const Json *value = Take(key);
        if (value != nullptr && !value->is_boolean()) {
            Fail("'" + key + "' must be true or false");
        }
        return value == nullptr ? fallback : value->get<bool>();
    }

    template <typename Value, size_t N>
    Value Choice(const std::string &key, const Name<Value> (&choices)[N],
                 std::optional<std::type_identity_t<Value>> fallback = std::nullopt) {
        const Json *value = fallback ? Take(key) : &Required(key);
        if (value == nullptr) {
            return *fallback;
        }
        std::string names;
        for (const Name<Value> &choice : choices) {
            if (value->is_string() && choice.text == value->get_ref<const std::string &>()) {
                return choice.value;
            }
            names += (names.empty() ? "" : ", ") + std::string(choice.text);
        }
        Fail("'" + key + "' must be one of " + names);
    }

    const Json &ListOf(const std::string &key, const Json &value) const {
        if (!value.is_array() || value.size() > kMaxObjects) {
            Fail("'" + key + "' must be a list of at most " + std::to_string(kMaxObjects) +
                 " items");
        }
        return value;
    }

    std::optional<Version> VersionOf(const std::string &key) {
        const Json *value = Take(key);
        if (value == nullptr) {
            return std::nullopt;
        }
        if (!value->is_array() || value->size() != 4) {
            Fail("'" + key + "' must be a list of four numbers");
        }
        Version version{};
        for (size_t i = 0; i < version.size(); ++i) {
            version[i] = NumberOf<uint16_t>(key, (*value)[i]);
        }
        return version;
    }

    std::vector<std::string> Labels(const std::string &key) {
        std::vector<std::string> labels;
        for (const Json &item : ListOf(key, Required(key))) {
            labels.push_back(TextOf(key, item, 64));
        }
        return labels;
    }

    void Finish() const {
        for (const auto &item : object_.items()) {
            if (!taken_.contains(item.key())) {
                Fail("unexpected field '" + item.key() + "'");
            }
        }
    }

  private:
    std::string where_;
    const Json &object_;
    std::set<std::string> taken_;
};

} // namespace vuno::hostsim::inventory
