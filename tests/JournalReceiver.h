#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// A stand-in for the systemd journal's socket: a datagram socket bound at a
// path, reading entries in the journal's native protocol (fields as
// "NAME=value" lines or in the binary-safe form, or a memory file whose
// descriptor the datagram carries).
class JournalReceiver {
public:
    using Entry = std::multimap<std::string, std::string>;

    explicit JournalReceiver(std::string path);
    ~JournalReceiver();
    JournalReceiver(const JournalReceiver&) = delete;
    JournalReceiver& operator=(const JournalReceiver&) = delete;

    const std::string& Path() const { return path_; }
    bool Bound() const { return fd_ >= 0; }
    // The next entry, waiting at most timeout; nullopt when none came.
    std::optional<Entry> Receive(std::chrono::milliseconds timeout);
    // How many entries came as a memory file.
    int FileEntries() const { return fileEntries_; }
    // The datagrams that did not parse as the protocol says.
    int Malformed() const { return malformed_; }

    // Parses one entry; nullopt when it breaks the protocol.
    static std::optional<Entry> Parse(const std::string& data);

private:
    std::string path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    int fileEntries_ = 0;
    int malformed_ = 0;
};

// The one value of a field, or "<none>" / "<N values>".
std::string Field(const JournalReceiver::Entry& entry, const std::string& name);

}  // namespace testing_support
