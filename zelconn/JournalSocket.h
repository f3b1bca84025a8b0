#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace zelconn {

// The systemd journal's socket, written to as its native protocol wants:
// one datagram per entry; an entry too big for a datagram goes as a sealed
// memory file whose descriptor the datagram carries. It never blocks: a
// journal that cannot take more now says so, and the entry is offered again.
class JournalSocket {
public:
    enum class Sent {
        kSent,
        kBusy,    // the journal's queue is full: offer it again when Fd() turns writable
        kAbsent,  // no journal listens (not running, restarting): offer it again later
        kRefused, // the journal will never take this entry
    };

    // ZEL_JOURNAL_SOCKET (for tests), else /run/systemd/journal/socket.
    static std::string DefaultPath();

    explicit JournalSocket(std::string path) : path_(std::move(path)) {}
    ~JournalSocket();
    JournalSocket(const JournalSocket&) = delete;
    JournalSocket& operator=(const JournalSocket&) = delete;

    Sent Send(std::string_view datagram);
    // Connected: the descriptor to wait on (writable) after kBusy; else -1.
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

private:
    bool Connect();
    void Disconnect();
    Sent SendAsFile(std::string_view datagram);

    std::string path_;
    int fd_ = -1;
};

}  // namespace zelconn
