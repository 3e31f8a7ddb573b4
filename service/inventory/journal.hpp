// Structured entries for the BMC's event log, and where they go: the
// systemd journal, or a file in the journal's export format for machines
// (and tests) without a journal daemon.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vuno::inventory {

// Field names and values in the order they are sent. Values hold no line
// breaks.
using JournalEntry = std::vector<std::pair<std::string, std::string>>;
using JournalWriter = std::function<void(const JournalEntry &entry)>;

JournalWriter SystemJournal();
// Appends each entry to `path`: one NAME=value line per field and an empty
// line after the entry, flushed at once.
JournalWriter ExportFile(const std::filesystem::path &path);

} // namespace vuno::inventory
