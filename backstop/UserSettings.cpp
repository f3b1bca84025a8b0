#include "UserSettings.h"

#include "platform/RulesFile.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Settings.h"
#include "platform/Text.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace registry = platform::registry;

namespace {

// What the reader sends, then keyFolder, rulesPath, why and text.
struct Header {
    uint8_t done;
    uint8_t blockAll;
    uint8_t rules;
    uint8_t pad[5];
    uint64_t lengths[4];
    UserSettings::Stamp stamp;
};
constexpr uint64_t kMaxTextBytes = 64 << 10; // of the folders, path and reason

bool WriteAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads size bytes before the deadline; false on an end, an error or the deadline.
bool ReadAll(int fd, void* data, size_t size, std::chrono::steady_clock::time_point deadline)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd wait {fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

UserSettings::Stamp StampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, static_cast<long long>(st.st_size),
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec,
            static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec};
}

}  // namespace

UserSettings::UserSettings(uid_t uid, std::string store) : uid_(uid), gid_(static_cast<gid_t>(uid)), home_("/"), store_(std::move(store))
{
    if (const passwd* account = ::getpwuid(uid)) {
        gid_ = account->pw_gid;
        name_ = account->pw_name ? account->pw_name : "";
        if (account->pw_dir && account->pw_dir[0] == '/')
            home_ = account->pw_dir;
    }
}

UserSettings::Look UserSettings::Read(const Stamp& known, const std::string& knownPath) const
{
    Look look;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        look.why = std::string("cannot make a pipe: ") + std::strerror(errno);
        return look;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        // Nothing of the service's goes with it but this channel.
        if (channel[1] != 3 && ::dup2(channel[1], 3) != 3)
            ::_exit(1);
        ::close_range(4, ~0u, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ReadAsUser(3, known, knownPath);
    }
    ::close(channel[1]);
    if (child < 0) {
        look.why = std::string("cannot start the reader: ") + std::strerror(errno);
        ::close(channel[0]);
        return look;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReadSeconds);
    Header header {};
    bool whole = ReadAll(channel[0], &header, sizeof header, deadline);
    std::string* texts[] = {&look.keyFolder, &look.rulesPath, &look.why, &look.text};
    for (size_t i = 0; whole && i < 4; ++i) {
        const uint64_t length = header.lengths[i];
        whole = length <= (i == 3 ? kMaxRulesBytes : kMaxTextBytes);
        if (whole) {
            texts[i]->resize(length);
            whole = ReadAll(channel[0], texts[i]->data(), length, deadline);
        }
    }
    ::close(channel[0]);
    if (!whole)
        ::kill(child, SIGKILL); // late, or saying more than it may
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!whole || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string why = look.why;
        look = Look {};
        look.why = !why.empty() ? why
            : !whole          ? "the reader did not answer whole within " + std::to_string(kReadSeconds) + " s"
                              : "the reader could not take uid " + std::to_string(uid_) + "'s identity";
        return look;
    }
    look.done = header.done != 0;
    look.blockAll = header.blockAll != 0;
    look.rules = static_cast<Rules>(header.rules);
    look.stamp = header.stamp;
    return look;
}

void UserSettings::ReadAsUser(int fd, const Stamp& known, const std::string& knownPath) const
{
    // The user's identity, whole, before anything of theirs is opened.
    const bool groups = name_.empty() ? ::setgroups(0, nullptr) == 0 : ::initgroups(name_.c_str(), gid_) == 0;
    if (!groups || ::setresgid(gid_, gid_, gid_) != 0 || ::setresuid(uid_, uid_, uid_) != 0 || ::getuid() != uid_
        || ::geteuid() != uid_ || ::getegid() != gid_)
        ::_exit(2);
    ::clearenv();
    ::setenv("HOME", home_.c_str(), 1);
    if (!store_.empty())
        ::setenv("ZEL_REGISTRY_ROOT", store_.c_str(), 1);

    Header header {};
    std::string keyFolder, rulesPath, why, text;
    std::string value;
    const auto blockAll = registry::QueryStatus(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                                platform::settings::kSecurityStatus, value);
    const auto rulesFile = registry::QueryStatus(registry::RootKey::LocalMachine, registry::kSettingsKey,
                                                 platform::settings::kRulesFile, rulesPath);
    if (blockAll == registry::Value::Status::kUnreadable || rulesFile == registry::Value::Status::kUnreadable) {
        why = "the settings in " + platform::RegistryRoot() + " cannot be read";
    } else {
        header.done = 1;
        header.blockAll = blockAll == registry::Value::Status::kFound && platform::ParseDecimal(value) == 0;
        keyFolder = registry::KeyFolderPath(registry::RootKey::LocalMachine, registry::kSettingsKey).value_or("");
        rulesPath = rulesFile == registry::Value::Status::kFound ? platform::SettingPath(rulesPath) : std::string();
        Rules rules = Rules::kMissing;
        // As every reader opens it: only a regular file within the bound,
        // never waited on; only nothing at the path is no rules file.
        struct stat st {};
        platform::rules_file::Status opened;
        const int file = rulesPath.empty() ? -1 : platform::rules_file::Open(rulesPath, opened, st);
        if (rulesPath.empty() || opened.Missing()) {
            rules = Rules::kMissing;
        } else if (file < 0) {
            rules = Rules::kUnreadable;
            why = opened.Reason();
        } else if (header.stamp = StampOf(st); rulesPath == knownPath && header.stamp == known) {
            rules = Rules::kUnchanged;
        } else {
            rules = Rules::kRead;
            // As large as it said it was, and larger while it grows, up to the bound and a byte.
            text.resize(std::min<size_t>(static_cast<size_t>(st.st_size) + 4096, kMaxRulesBytes + 1));
            size_t done = 0;
            for (;;) {
                const ssize_t n = ::read(file, text.data() + done, text.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    rules = Rules::kUnreadable;
                    why = std::strerror(errno);
                }
                if (n <= 0)
                    break;
                done += static_cast<size_t>(n);
                if (done == text.size()) {
                    if (done > kMaxRulesBytes)
                        break;
                    text.resize(std::min<size_t>(text.size() * 2, kMaxRulesBytes + 1));
                }
            }
            if (done > kMaxRulesBytes) {
                rules = Rules::kUnreadable;
                why = "larger than " + std::to_string(kMaxRulesBytes >> 20) + " MiB";
            }
            text.resize(rules == Rules::kRead ? done : 0);
        }
        if (file >= 0)
            ::close(file);
        header.rules = static_cast<uint8_t>(rules);
    }
    const std::string* texts[] = {&keyFolder, &rulesPath, &why, &text};
    for (size_t i = 0; i < 4; ++i)
        header.lengths[i] = std::min<uint64_t>(texts[i]->size(), i == 3 ? kMaxRulesBytes : kMaxTextBytes);
    bool sent = WriteAll(fd, &header, sizeof header);
    for (size_t i = 0; sent && i < 4; ++i)
        sent = WriteAll(fd, texts[i]->data(), header.lengths[i]);
    ::_exit(sent ? 0 : 1);
}
