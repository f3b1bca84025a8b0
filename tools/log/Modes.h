#pragma once

#include "tools/common/Arguments.h"
#include "tools/common/ToolOutput.h"

#include <cstdio>
#include <string>
#include <string_view>

// zel-log's modes. What it shows is picked by its first argument (the
// records when that names no mode); each mode is a function of its own, in
// a file of its own, named by one row of the table in Main.cpp.
namespace tools::zel_log {

constexpr const char* kProgram = "zel-log";

// A row of the mode table: the option that picks it (empty: the records,
// when the first argument picks no other), and what runs with the
// arguments after that option. run returns the exit status; arguments it
// cannot take get the usage (Usage()).
struct Mode {
    std::string_view option;
    int (*run)(Arguments& args);
};

// The usage on out: see tools::PrintUsage.
int Usage(std::FILE* out = stderr);

inline int Fail(int status, const std::string& text) { return tools::Fail(kProgram, status, text); }

// Records.cpp: the records of the daily files, as a table or JSON lines.
int ShowRecords(Arguments& args);

// Connections.cpp: the user's open connections now, as a table or JSON lines.
int ShowConnections(Arguments& args);

}  // namespace tools::zel_log
