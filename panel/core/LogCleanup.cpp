#include "panel/core/LogCleanup.h"

#include "panel/core/ErrorLog.h"
#include "protocol/LogFiles.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace panel {

namespace {

long long LocalDayNumber(std::time_t when)
{
    std::tm local {};
    ::localtime_r(&when, &local);
    // Days since the civil epoch of the local calendar date.
    const int y = local.tm_year + 1900 - (local.tm_mon < 2 ? 1 : 0);
    const int m = local.tm_mon + 1;
    const int d = local.tm_mday;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

int DeleteOldFiles(const std::string& folder, int days, std::time_t now, bool (*isOurs)(std::string_view),
                   const char* label)
{
    if (folder.empty())
        return 0;
    // Keeping a log for less than a day would delete today's, which the
    // engines are writing to.
    if (days < 1) {
        WriteErrLog(label, "keeping logs for " + std::to_string(days) + " days deletes nothing");
        return 0;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (!dir) {
        if (dirFd >= 0)
            ::close(dirFd);
        if (errno != ENOENT)
            WriteErrLogErrno(label, "cannot read the folder " + folder, errno);
        return 0;
    }
    int deleted = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isOurs(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (DayBoundariesBetween(st.st_mtime, now) < days)
            continue;
        if (::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++deleted;
        else
            WriteErrLogErrno(label, "cannot delete " + folder + "/" + entry->d_name, errno);
    }
    ::closedir(dir);
    return deleted;
}

}  // namespace

int DayBoundariesBetween(std::time_t earlier, std::time_t later)
{
    return static_cast<int>(LocalDayNumber(later) - LocalDayNumber(earlier));
}

int DeleteOldLogFiles(const std::string& logFolder, int days, std::time_t now)
{
    return DeleteOldFiles(logFolder, days, now, protocol::IsTrafficLogFileName, "LogMdl : DeleteOldLogFiles");
}

int DeleteOldErrFiles(const std::string& errorFolder, int days, std::time_t now)
{
    return DeleteOldFiles(errorFolder, days, now, protocol::IsErrorLogFileName, "LogMdl : DeleteOldErrFiles");
}

}  // namespace panel
