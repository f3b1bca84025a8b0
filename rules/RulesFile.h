#pragma once

#include "os/Files.h"
#include "rules/RulesFormat.h"

#include <string>
#include <string_view>
#include <sys/stat.h>

// Reading the rules file whole, for every reader alike: a regular file within
// the format's limits (bytes, elements), read to its end, or nothing. Only a
// path with nothing at all behind it counts as missing; a link whose target is
// gone (a drive not mounted), a link loop, a FIFO or a device, a file over
// a limit and every error of the system are failures to read, which must
// leave the file and the rules in force as they are.
namespace rules::rules_file {

enum class Problem {
    kNone,
    kMissing,         // nothing at the path, not even a link
    kSystemError,     // the system refused (error holds errno)
    kDanglingLink,    // a symbolic link on the way leads nowhere
    kTooLarge,        // larger than the format's limit
    kNotRegular,      // a FIFO, a device or a folder
    kTooManyElements, // more elements than the format's limit
};

struct Status {
    Problem problem = Problem::kNone;
    int error = 0;
    bool Read() const { return problem == Problem::kNone; }
    bool Missing() const { return problem == Problem::kMissing; }
    // Why it could not be read, in words for the error log; ShownReason in
    // the user's language, for a window.
    std::string Reason() const;
    std::string ShownReason() const;
};

// Opens the rules file for reading (the descriptor is close-on-exec): a
// regular file within the byte limit. -1 with status saying why otherwise; st
// receives the opened file's status.
int Open(const std::string& path, Status& status, struct stat& st);

struct Contents {
    Status status;
    std::string text;
    os::FileStamp stamp;
};
// The whole file, or a status saying why not (text is then empty).
Contents Read(const std::string& path);
// The same, of a file Open gave (st: its status); closes fd.
Contents ReadOpened(int fd, const struct stat& st);

// What a document parser would build of a text, counted as it is read in
// pieces of any size: its elements, as rules_format::kMaxRulesFileElements
// counts them. A few milliseconds for a file at the byte limit.
class Markup {
public:
    void Add(std::string_view piece);
    size_t Elements() const { return elements_; }
    bool Over() const { return elements_ > rules_format::kMaxRulesFileElements; }

private:
    size_t elements_ = 0;
    bool open_ = false; // the last piece ended in '<' (counted until a '/' follows)
};

// Where a default document may be written without losing anything: the
// path when nothing is there at all, or the file a path (or a link) leads
// to when that is an empty regular file. Empty otherwise.
std::string PlaceForDefault(const std::string& path);

}  // namespace rules::rules_file
