#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

// What the command-line tools say the same way: the exit statuses, a fault
// told on standard error, the usage, and JSON written for scripts.
namespace tools {

// 0: done; kFailed: what was asked could not be done; kMisused: the
// arguments are wrong (the usage, or what is wrong, told).
constexpr int kFailed = 1;
constexpr int kMisused = 2;

// "program: text" on standard error; returns status.
int Fail(const char* program, int status, const std::string& text);

// The usage on out. For --help (out is standard output) the line about the
// tool follows and the status is 0, else kMisused.
int PrintUsage(std::FILE* out, const std::string& usage, const std::string& about);

// Standard output written out: 0, or kFailed when it could not be (a full
// disk, a closed pipe), so that a script does not take a cut answer as whole.
int FinishOutput();

// A JSON value as text, on one line (indent -1) or indented; text that is
// not UTF-8 (a name from a program or the network) is replaced, not fatal.
std::string JsonText(const nlohmann::ordered_json& json, int indent = -1);

}  // namespace tools
