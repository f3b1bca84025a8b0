#include "protocol/AwayDecisions.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"
#include "text/Strings.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace protocol::away {

namespace {

constexpr const char* kFileName = "away-decisions";
constexpr int kFields = 10;

// Held for one append or one rewrite: released when the descriptor closes.
class LockedFile {
public:
    LockedFile(const std::string& path, int flags)
    {
        fd_ = os::OpenRegularFile(path.c_str(), flags, 0600, false);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LockedFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::vector<Decision> ParseAll(const std::string& text)
{
    std::vector<Decision> decisions;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        if (auto decision = ParseLine(std::string_view(text).substr(start, end - start)))
            decisions.push_back(std::move(*decision));
    return decisions;
}

bool IsNumber(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

}  // namespace

std::string ListPath() { return os::RuntimePath(kFileName); }

std::string FormatLine(const Decision& decision)
{
    std::string line = std::to_string(static_cast<long long>(decision.time));
    const auto add = [&line](std::string_view field) {
        line += '\t';
        line += text::EscapeLine(field);
    };
    add(decision.outgoing ? "out" : "in");
    add(decision.protocol == 2 ? "UDP" : "TCP");
    add(decision.address);
    add(std::to_string(decision.remotePort));
    add(std::to_string(decision.localPort));
    add(decision.host);
    add(decision.permitted ? "allowed" : "blocked");
    add(std::to_string(decision.pid));
    add(decision.path);
    line += '\n';
    return line;
}

std::optional<Decision> ParseLine(std::string_view line)
{
    std::string_view fields[kFields];
    int count = 0;
    for (size_t start = 0; count < kFields; ++count) {
        const size_t tab = line.find('\t', start);
        fields[count] = line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start);
        if (tab == std::string_view::npos) {
            ++count;
            break;
        }
        start = tab + 1;
    }
    if (count != kFields || !IsNumber(fields[0]) || (fields[1] != "out" && fields[1] != "in")
        || (fields[2] != "TCP" && fields[2] != "UDP") || !IsNumber(fields[4]) || !IsNumber(fields[5])
        || (fields[7] != "allowed" && fields[7] != "blocked") || !IsNumber(fields[8]))
        return std::nullopt;
    Decision decision;
    decision.time = static_cast<std::time_t>(text::ParseDecimal(fields[0]));
    decision.outgoing = fields[1] == "out";
    decision.protocol = fields[2] == "UDP" ? 2 : 1;
    decision.address = text::UnescapeLine(fields[3]);
    decision.remotePort = static_cast<unsigned>(text::ParseDecimal(fields[4]) & 0xFFFF);
    decision.localPort = static_cast<unsigned>(text::ParseDecimal(fields[5]) & 0xFFFF);
    decision.host = text::UnescapeLine(fields[6]);
    decision.permitted = fields[7] == "allowed";
    decision.pid = static_cast<pid_t>(text::ParseDecimal(fields[8]));
    decision.path = text::UnescapeLine(fields[9]);
    if (decision.address.empty())
        return std::nullopt;
    return decision;
}

bool Append(const std::string& path, const Decision& decision)
{
    if (path.empty())
        return false;
    const LockedFile file(path, O_WRONLY | O_CREAT | O_APPEND);
    struct stat st {};
    if (file.Fd() < 0 || ::fstat(file.Fd(), &st) != 0 || static_cast<size_t>(st.st_size) >= kMaxBytes)
        return false;
    return os::WriteAll(file.Fd(), FormatLine(decision));
}

std::vector<Decision> ReadAll(const std::string& path)
{
    if (path.empty())
        return {};
    const LockedFile file(path, O_RDONLY);
    return file.Fd() < 0 ? std::vector<Decision> {} : ParseAll(os::ReadFrom(file.Fd(), 4 * kMaxBytes).value_or(""));
}

bool Remove(const std::string& path, const std::function<bool(const Decision&)>& drop)
{
    if (path.empty())
        return false;
    // Rewritten in place under the lock: an engine appending waits for it,
    // and appends to this file, never to one renamed away.
    const LockedFile file(path, O_RDWR);
    if (file.Fd() < 0)
        return errno == ENOENT;
    std::string kept;
    const auto text = os::ReadFrom(file.Fd(), 4 * kMaxBytes);
    if (!text)
        return false;
    for (const Decision& decision : ParseAll(*text))
        if (!drop(decision))
            kept += FormatLine(decision);
    return ::ftruncate(file.Fd(), 0) == 0 && ::lseek(file.Fd(), 0, SEEK_SET) == 0 && os::WriteAll(file.Fd(), kept);
}

}  // namespace protocol::away
