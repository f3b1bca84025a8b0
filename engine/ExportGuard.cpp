#include "engine/ExportGuard.h"

#include "os/Clock.h"
#include "os/Paths.h"
#include "os/hooksafe/Descriptors.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace engine {

namespace {

char g_errorFolder[PATH_MAX];
std::atomic<bool> g_told[ExportGuard::kSlots];

}  // namespace

void ExportGuard::Prepare() noexcept
{
    try {
        using namespace protocol::registry;
        // Read through the store's kept folders, as every later setting is,
        // and kept so that they stay open for them: a one-off query would
        // walk the store's path from the root again. Never destroyed, as the
        // settings are not.
        static const Value& errorLogs = *new Value(RootKey::LocalMachine, kSettingsKey, protocol::settings::kErrLogs);
        const std::string folder = os::SettingPath(errorLogs.Read().value_or(std::string()));
        if (folder.size() < sizeof g_errorFolder)
            std::snprintf(g_errorFolder, sizeof g_errorFolder, "%s", folder.c_str());
    } catch (...) {
        // No folder: failures are not told, the calls still refused.
    }
}

void ExportGuard::TellFailure(unsigned slot, const char* name, const char* what) noexcept
{
    if (slot >= kSlots || g_told[slot].exchange(true) || !g_errorFolder[0])
        return;
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char path[PATH_MAX + 64];
    const int length = std::snprintf(path, sizeof path, "%s/%d_%d_%d_err.LOG", g_errorFolder, local.tm_mday,
                                     local.tm_mon + 1, local.tm_year + 1900);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return;
    char date[64];
    char time[64];
    os::FormatLocalDate(local, date, sizeof date);
    os::FormatLocalTime(local, time, sizeof time);
    char line[768];
    const int written = std::snprintf(line, sizeof line,
                                      "%s:%s qrbruler : %s : the call failed (%s); it was refused, or did nothing, "
                                      "and the program goes on\r\n",
                                      date, time, name, what ? what : "");
    if (written <= 0)
        return;
    const int fd = os::OpenRegularFile(path, O_WRONLY | O_CREAT | O_APPEND, 0644, false);
    if (fd < 0)
        return;
    const size_t size = static_cast<size_t>(written) < sizeof line ? static_cast<size_t>(written) : sizeof line - 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, line, size);
    ::close(fd);
}

}  // namespace engine
