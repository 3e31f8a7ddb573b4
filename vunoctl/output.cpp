#include "output.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

namespace vunoctl {
namespace {

using Row = std::vector<std::string>;

// The columns that fit a terminal; every entry is in --json and in the
// detailed view of one item.
const std::map<std::string, std::vector<std::string>> kColumns = {
    {"Drives", {"Id", "Model", "Serial", "Type", "Size", "Status", "Usage"}},
    {"Volumes", {"Id", "Name", "Level", "State", "Size", "StripSizeKiB", "ArrayId"}},
    {"Arrays", {"Id", "Name", "TotalSize", "FreeSize", "VolatileWriteCacheState"}},
    {"Controllers", {"Id", "Name", "Type", "VendorId", "DeviceId", "OSDriverVer"}},
    {"Events", {"EventType", "EventIdentifier"}},
};

const std::set<std::string> kByteCounts = {"Size", "TotalSize", "FreeSize"};
// PCI identifiers are read in hexadecimal everywhere else.
const std::set<std::string> kPciIds = {"VendorId", "DeviceId", "SubsystemId"};

std::string Hexadecimal(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Cell(const std::string &key, const Json &value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? "yes" : "no";
    }
    if (value.is_number_unsigned() && kByteCounts.count(key) != 0) {
        return HumanBytes(value.get<uint64_t>());
    }
    if (value.is_number_unsigned() && kPciIds.count(key) != 0) {
        return Hexadecimal(value.get<uint64_t>());
    }
    if (value.is_array()) {
        std::string joined;
        for (const Json &element : value) {
            joined += (joined.empty() ? "" : ",") + Cell(key, element);
        }
        return joined;
    }
    return value.is_null() ? "-" : value.dump();
}

void PrintRows(std::ostream &out, const std::vector<Row> &rows) {
    std::vector<size_t> widths;
    for (const Row &row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const Row &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line +=
                row[i] + std::string(i + 1 < row.size() ? widths[i] - row[i].size() + 2 : 0, ' ');
        }
        out << line << '\n';
    }
}

std::vector<std::string> ColumnsOf(const std::string &listKey, const Json &items) {
    const auto preset = kColumns.find(listKey);
    if (preset != kColumns.end()) {
        return preset->second;
    }
    std::vector<std::string> keys;
    for (const auto &entry : items.at(0).items()) {
        keys.push_back(entry.key());
    }
    return keys;
}

void PrintTable(std::ostream &out, const std::string &listKey, const Json &items) {
    const std::vector<std::string> columns = ColumnsOf(listKey, items);
    std::vector<Row> rows{columns};
    for (const Json &item : items) {
        Row row;
        for (const std::string &column : columns) {
            row.push_back(Cell(column, item.contains(column) ? item[column] : Json()));
        }
        rows.push_back(std::move(row));
    }
    PrintRows(out, rows);
}

void PrintEntries(std::ostream &out, const Json &object) {
    std::vector<Row> rows;
    for (const auto &entry : object.items()) {
        rows.push_back({entry.key() + ":", Cell(entry.key(), entry.value())});
    }
    PrintRows(out, rows);
}

void PrintList(std::ostream &out, const std::string &listKey, const Json &items, bool details) {
    if (items.empty()) {
        std::string noun = listKey;
        noun[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(noun[0])));
        out << "No " << noun << ".\n";
        return;
    }
    if (!details) {
        PrintTable(out, listKey, items);
        return;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        out << (i == 0 ? "" : "\n");
        PrintEntries(out, items[i]);
    }
}

// The key of the list in a reply (an array of item dictionaries), or "".
std::string ListKey(const Json &reply) {
    for (const auto &entry : reply.items()) {
        if (entry.value().is_array() && (entry.value().empty() || entry.value()[0].is_object())) {
            return entry.key();
        }
    }
    return "";
}

} // namespace

std::string HumanBytes(uint64_t bytes) {
    static const std::array<const char *, 5> kUnits = {"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < kUnits.size()) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : (value < 10 ? "%.2f %s" : "%.1f %s"),
                  value, kUnits[unit]);
    return text;
}

void PrintResult(std::ostream &out, const Json &reply, bool details) {
    if (reply.empty()) {
        out << "Done.\n";
        return;
    }
    if (reply.contains("Ids") && reply["Ids"].is_array()) {
        for (const Json &id : reply["Ids"]) {
            out << Cell("Ids", id) << '\n';
        }
        out << (reply["Ids"].empty() ? "No identifiers.\n" : "");
        return;
    }
    const std::string listKey = ListKey(reply);
    if (listKey.empty()) {
        PrintEntries(out, reply);
        return;
    }
    Json others = reply;
    others.erase(listKey);
    others.erase("Count");
    if (!others.empty()) {
        PrintEntries(out, others);
    }
    PrintList(out, listKey, reply[listKey], details);
}

void PrintJson(std::ostream &out, const Json &reply) {
    out << reply.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

} // namespace vunoctl
