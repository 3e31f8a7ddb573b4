#include "journal.hpp"

#include <sys/uio.h>
#include <systemd/sd-journal.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

namespace vuno::inventory {

namespace {

void SendToJournal(const JournalEntry &entry) {
    std::vector<std::string> fields;
    fields.reserve(entry.size());
    std::vector<iovec> vectors;
    vectors.reserve(entry.size());
    for (const auto &[name, value] : entry) {
        fields.push_back(name + "=" + value);
        vectors.push_back({fields.back().data(), fields.back().size()});
    }
    const int result = sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size()));
    if (result < 0) {
        std::cout << "Cannot write to the journal: " << std::strerror(-result) << std::endl;
    }
}

} // namespace

JournalWriter SystemJournal() {
    return SendToJournal;
}

JournalWriter ExportFile(const std::filesystem::path &path) {
    auto file = std::make_shared<std::ofstream>(path, std::ios::app);
    if (!*file) {
        std::cout << "Cannot open " << path.string() << " for the event log" << std::endl;
    }
    return [file](const JournalEntry &entry) {
        for (const auto &[name, value] : entry) {
            *file << name << '=' << value << '\n';
        }
        *file << '\n' << std::flush;
    };
}

} // namespace vuno::inventory
