#pragma once

#include <ctime>
#include <string>

namespace panel {

// Old daily logs go: a traffic log or error log whose last change lies
// `days` or more day boundaries back is deleted. Only the daily files the
// firewall writes are considered, so that a log folder set to a folder that
// holds other files never loses them. Returns how many files were deleted.

int DeleteOldLogFiles(const std::string& logFolder, int days, std::time_t now);
int DeleteOldErrFiles(const std::string& errorFolder, int days, std::time_t now);

// The number of local day boundaries between two moments (0 on the same day).
int DayBoundariesBetween(std::time_t earlier, std::time_t later);

}  // namespace panel
