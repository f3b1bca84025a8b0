#include "tools/common/ToolOutput.h"

namespace tools {

int Fail(const char* program, int status, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", program, text.c_str());
    return status;
}

int PrintUsage(std::FILE* out, const std::string& usage, const std::string& about)
{
    std::fputs(usage.c_str(), out);
    if (out == stdout)
        std::fputs(about.c_str(), out);
    return out == stdout ? 0 : kMisused;
}

int FinishOutput()
{
    return std::fflush(stdout) == 0 ? 0 : kFailed;
}

std::string JsonText(const nlohmann::ordered_json& json, int indent)
{
    return json.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace tools
