#pragma once

#include "rules/Document.h"
#include "tools/common/ToolOutput.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// zel-rules' commands. Each is a function of its own, in a file with the
// commands it shares code with, named by one row of the table in Main.cpp.
namespace tools::zel_rules {

constexpr const char* kProgram = "zel-rules";

// Which rules the command acts on: the user's (the file the settings name),
// or with --services the machine's for the system services.
struct Target {
    bool services = false;
    std::string path; // the services' rules file
};

// What a command is given: the rules it acts on, the word that named it,
// the arguments after that word.
struct Call {
    Target target;
    std::string command;
    std::vector<std::string> args;
};

// A row of the command table: the word, and what runs for it. run returns
// the exit status; arguments it cannot take get the usage (Usage()).
struct Command {
    std::string_view name;
    int (*run)(const Call& call);
};

// The usage on out: see tools::PrintUsage.
int Usage(std::FILE* out = stderr);

inline int Fail(int status, const std::string& text) { return tools::Fail(kProgram, status, text); }

// ShowCommands.cpp
int List(const Call& call);
int Show(const Call& call);
// The word a user types for what a rule does (allow, block, ask; the
// commands' names), "system" for an entry that leaves it to the system
// settings; a list as the command line takes one ("443,80").
const char* Verb(std::optional<rules::Permission> permission);
std::string Joined(const std::vector<std::string>& items);
// EntryCommands.cpp
int SetDefault(const Call& call); // allow, block, ask
int Add(const Call& call);
int Remove(const Call& call);
// JsonCommands.cpp
int Export(const Call& call);
int Import(const Call& call);
// HostListCommands.cpp: lists, lists add|remove|update
int HostLists(const Call& call);
// Seconds since 1970 in local time ("2026-12-11 10:40:00"), "never" for 0.
std::string LocalTime(int64_t seconds);
// ReviewCommands.cpp: mode [WORD [--days N]]; review [--json], review accept|reject
int Mode(const Call& call);
int Review(const Call& call);
// ProfileCommands.cpp: profile, profile list|add|remove|use
int Profiles(const Call& call);

}  // namespace tools::zel_rules
