#pragma once

#include <ctime>
#include <string>
#include <string_view>

// The daily error log: "<folder>/<day>_<month>_<year>_err.LOG", one line per
// error: date ":" time " " label " : " description.
namespace platform {

std::string ErrorLogFileName(const std::string& folder, std::time_t when);
std::string ErrorLogLine(std::string_view label, std::string_view description, std::time_t when);

}  // namespace platform
