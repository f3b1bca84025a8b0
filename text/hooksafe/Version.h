#pragma once

namespace text {

// The release the programs were built as (the build's project version).
const char* Version();

// --version as every program of the firewall answers it: "PROGRAM (Tessary)
// VERSION" on standard output. Returns the exit status, 0.
int PrintVersion(const char* program);

// Whether an argument asks for help: "--help" or "-h".
bool IsHelpOption(const char* argument);
bool IsVersionOption(const char* argument);

}  // namespace text
