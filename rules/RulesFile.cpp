#include "rules/RulesFile.h"

#include "os/hooksafe/Descriptors.h"
#include "os/hooksafe/Retry.h"
#include "rules/RulesFormat.h"
#include "text/Translate.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rules::rules_file {

namespace {

// The folder path is in; empty for the root or a bare name.
std::string ParentOf(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || path == "/")
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What ENOENT means for path: nothing there, or a link on the way that
// leads nowhere. The nearest part of the path that exists decides.
Problem WhyNotFound(const std::string& path)
{
    for (std::string part = path; !part.empty(); part = ParentOf(part)) {
        struct stat st {};
        if (::lstat(part.c_str(), &st) != 0)
            continue;
        struct stat target {};
        return S_ISLNK(st.st_mode) && ::stat(part.c_str(), &target) != 0 ? Problem::kDanglingLink : Problem::kMissing;
    }
    return Problem::kMissing;
}

}  // namespace

namespace {

// The words for a problem: as written for the error log, in the user's
// language for a window.
std::string Words(Problem problem, int error, bool shown)
{
    const auto say = [shown](const char* text) { return shown ? text::Tr("RulesFile", text) : std::string(text); };
    switch (problem) {
    case Problem::kNone:
        return {};
    case Problem::kMissing:
        return say(ZEL_TEXT_NOOP("RulesFile", "there is no such file"));
    case Problem::kDanglingLink:
        return say(ZEL_TEXT_NOOP("RulesFile", "it is a symbolic link whose target is missing (a drive not mounted?)"));
    case Problem::kTooLarge:
        return text::Arg(say(ZEL_TEXT_NOOP("RulesFile", "it is larger than the limit of %1 MB")),
                   {std::to_string(rules_format::kMaxRulesFileBytes >> 20)});
    case Problem::kNotRegular:
        return say(ZEL_TEXT_NOOP("RulesFile", "it is not a regular file (a FIFO, a device or a folder)"));
    case Problem::kTooManyElements:
        return text::Arg(say(ZEL_TEXT_NOOP("RulesFile", "it holds more than the limit of %1 elements")),
                   {std::to_string(rules_format::kMaxRulesFileElements)});
    case Problem::kSystemError:
        if (error == ELOOP)
            return say(ZEL_TEXT_NOOP("RulesFile", "its path is a loop of symbolic links"));
        return std::strerror(error);
    }
    return {};
}

}  // namespace

std::string Status::Reason() const { return Words(problem, error, false); }

std::string Status::ShownReason() const { return Words(problem, error, true); }

int Open(const std::string& path, Status& status, struct stat& st)
{
    status = {};
    if (path.empty()) {
        status.problem = Problem::kMissing;
        return -1;
    }
    const int fd = os::OpenRegularFile(path.c_str(), O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            status.problem = WhyNotFound(path);
        else if (error == EINVAL)
            status.problem = Problem::kNotRegular;
        else
            status = {Problem::kSystemError, error};
        errno = error;
        return -1;
    }
    if (::fstat(fd, &st) != 0) {
        status = {Problem::kSystemError, errno};
        ::close(fd);
        return -1;
    }
    if (static_cast<unsigned long long>(st.st_size) > rules_format::kMaxRulesFileBytes) {
        status.problem = Problem::kTooLarge;
        ::close(fd);
        return -1;
    }
    return fd;
}

namespace {

// Sixteen bytes at a time, as the processor compares them (SSE2, NEON).
typedef unsigned char Bytes __attribute__((vector_size(16)));

Bytes BytesAt(const char* at)
{
    Bytes bytes;
    std::memcpy(&bytes, at, sizeof bytes);
    return bytes;
}

size_t Sum(Bytes counters)
{
    size_t sum = 0;
    for (size_t lane = 0; lane < sizeof counters; ++lane)
        sum += counters[lane];
    return sum;
}

}  // namespace

void Markup::Add(std::string_view piece)
{
    if (piece.empty())
        return;
    // Every '<' and '=' counts, less each '<' an end tag's '/' follows.
    if (open_ && piece.front() == '/')
        --elements_;
    const char* const text = piece.data();
    const size_t size = piece.size();
    size_t i = 0;
    // Each sixteen bytes beside the sixteen one byte on; a counter per
    // lane (a match is -1), summed before it can overflow.
    while (i + sizeof(Bytes) + 1 <= size) {
        Bytes counted {}, ends {};
        for (int round = 0; round < 255 && i + sizeof(Bytes) + 1 <= size; ++round, i += sizeof(Bytes)) {
            const Bytes here = BytesAt(text + i);
            const Bytes opens = here == '<';
            counted -= opens | (here == '=');
            ends -= opens & (BytesAt(text + i + 1) == '/');
        }
        elements_ += Sum(counted) - Sum(ends);
    }
    for (; i < size; ++i) {
        if (text[i] == '=' || (text[i] == '<' && (i + 1 == size || text[i + 1] != '/')))
            ++elements_;
    }
    open_ = text[size - 1] == '<';
}

Contents Read(const std::string& path)
{
    Contents contents;
    struct stat st {};
    const int fd = Open(path, contents.status, st);
    if (fd < 0)
        return contents;
    return ReadOpened(fd, st);
}

Contents ReadOpened(int fd, const struct stat& st)
{
    Contents contents;
    contents.stamp = os::StampOf(st);
    // One byte more than the limit: a file that grew past it is found so.
    const size_t most = rules_format::kMaxRulesFileBytes + 1;
    contents.text.resize(std::min(static_cast<size_t>(st.st_size) + 1, most));
    size_t done = 0;
    for (;;) {
        if (done == contents.text.size()) {
            if (done == most)
                break;
            contents.text.resize(std::min(done * 2 + 4096, most));
        }
        const ssize_t n = os::RetryOnInterrupt([&] { return ::read(fd, contents.text.data() + done, contents.text.size() - done); });
        if (n < 0) {
            contents.status = {Problem::kSystemError, errno};
            break;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    if (contents.status.Read() && done > rules_format::kMaxRulesFileBytes)
        contents.status.problem = Problem::kTooLarge;
    if (contents.status.Read()) {
        Markup markup;
        markup.Add(std::string_view(contents.text.data(), done));
        if (markup.Over())
            contents.status.problem = Problem::kTooManyElements;
    }
    if (!contents.status.Read()) {
        contents.text.clear();
        contents.text.shrink_to_fit();
        return contents;
    }
    contents.text.resize(done);
    return contents;
}

std::string PlaceForDefault(const std::string& path)
{
    if (path.empty())
        return {};
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT && WhyNotFound(path) == Problem::kMissing ? path : std::string();
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0)
        return {};
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) ? std::string(real) : std::string();
}

}  // namespace rules::rules_file
