#include "text/hooksafe/Version.h"

#include <cstdio>
#include <cstring>

namespace text {

// ZEL_VERSION is given to this file alone, so that a new version rebuilds
// one file.
const char* Version() { return ZEL_VERSION; }

int PrintVersion(const char* program)
{
    std::printf("%s (Tessary) %s\n", program, ZEL_VERSION);
    return 0;
}

bool IsHelpOption(const char* argument) { return !std::strcmp(argument, "--help") || !std::strcmp(argument, "-h"); }

bool IsVersionOption(const char* argument) { return !std::strcmp(argument, "--version"); }

}  // namespace text
