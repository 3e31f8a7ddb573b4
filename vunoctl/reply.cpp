#include "reply.hpp"

#include <sdbus-c++/Types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vunoctl {
namespace {

using Dictionary = std::map<std::string, sdbus::Variant>;

Json DictionaryToJson(const Dictionary &dictionary);

template <typename T> Json Plain(const sdbus::Variant &value) {
    return Json(value.get<T>());
}

Json ItemsToJson(const sdbus::Variant &value) {
    Json items = Json::array();
    for (const Dictionary &item : value.get<std::vector<Dictionary>>()) {
        items.push_back(DictionaryToJson(item));
    }
    return items;
}

Json VariantToJson(const sdbus::Variant &value) {
    static const std::map<std::string, std::function<Json(const sdbus::Variant &)>> kReaders = {
        {"b", Plain<bool>},
        {"y", Plain<uint8_t>},
        {"n", Plain<int16_t>},
        {"q", Plain<uint16_t>},
        {"i", Plain<int32_t>},
        {"u", Plain<uint32_t>},
        {"x", Plain<int64_t>},
        {"t", Plain<uint64_t>},
        {"d", Plain<double>},
        {"s", Plain<std::string>},
        {"as", Plain<std::vector<std::string>>},
        {"at", Plain<std::vector<uint64_t>>},
        {"a{sv}", [](const sdbus::Variant &v) { return DictionaryToJson(v.get<Dictionary>()); }},
        {"aa{sv}", ItemsToJson},
    };
    const auto reader = kReaders.find(value.peekValueType());
    return reader == kReaders.end() ? Json() : reader->second(value);
}

Json DictionaryToJson(const Dictionary &dictionary) {
    Json object = Json::object();
    for (const auto &[key, value] : dictionary) {
        object[key] = VariantToJson(value);
    }
    return object;
}

} // namespace

Json ReplyToJson(sdbus::MethodReply &reply) {
    Dictionary dictionary;
    reply >> dictionary;
    return DictionaryToJson(dictionary);
}

std::string ErrorName(const Json &reply) {
    const auto error = reply.find("Error");
    return error != reply.end() && error->is_string() ? error->get<std::string>() : "";
}

} // namespace vunoctl
