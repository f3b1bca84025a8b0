// zel-reg: reads and writes the settings store from the command line, in the
// manner of reg.exe:
//   zel-reg query  KEY [/v NAME]
//   zel-reg set    KEY /v NAME /d DATA     ("add" is accepted too)
//   zel-reg delete KEY /v NAME
// KEY starts with HKLM or HKEY_LOCAL_MACHINE; "\" or "/" separate its parts.
#include "protocol/Registry.h"
#include "text/ToolStart.h"
#include "text/Translate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace protocol::registry;
using text::Arg;
using text::Tr;

// What went wrong, in the user's language; the values printed by query keep
// their fixed form for the scripts that read them.
void Complain(const std::string& text) { std::fprintf(stderr, "zel-reg: %s\n", text.c_str()); }

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out = stderr)
{
    std::fputs(Tr("zel-reg", "usage: zel-reg query KEY [/v NAME]\n"
                             "       zel-reg set KEY /v NAME /d DATA\n"
                             "       zel-reg delete KEY /v NAME\n"
                             "KEY: HKLM\\Software\\KORVEL\\QRB (\"/\" may stand for \"\\\")\n")
                   .c_str(),
               out);
    if (out == stdout)
        std::fputs(Tr("zel-reg", "Reads and changes the firewall's settings. See zel-reg(1).\n").c_str(), out);
    return out == stdout ? 0 : 2;
}

bool IsOption(std::string_view arg, char letter)
{
    return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == letter - 'a' + 'A');
}

std::string DisplayKey(std::string_view subKey)
{
    std::string text = "HKEY_LOCAL_MACHINE";
    if (!subKey.empty())
        text += "\\";
    for (char c : subKey)
        text += c == '/' ? '\\' : c;
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    if (const auto answered = text::StartTool({"zel-reg", argc, argv, Usage}))
        return *answered;
    if (argc < 3)
        return Usage();
    const std::string_view command = argv[1];
    const std::string_view key = argv[2];
    const size_t split = key.find_first_of("\\/");
    const auto root = ParseRootKey(key.substr(0, split));
    if (!root) {
        Complain(Arg(Tr("zel-reg", "only HKLM (HKEY_LOCAL_MACHINE) is kept: %1"), {key}));
        return 2;
    }
    const std::string_view subKey = split == std::string_view::npos ? std::string_view() : key.substr(split + 1);

    std::optional<std::string> name;
    std::optional<std::string> data;
    for (int i = 3; i < argc; ++i) {
        if (IsOption(argv[i], 'v') && i + 1 < argc)
            name = argv[++i];
        else if (IsOption(argv[i], 'd') && i + 1 < argc)
            data = argv[++i];
        else if (IsOption(argv[i], 'f'))
            continue; // reg.exe's "force": we never ask
        else
            return Usage();
    }

    if (command == "query") {
        if (name) {
            const auto text = Query(*root, subKey, *name);
            if (!text) {
                Complain(Arg(Tr("zel-reg", "the value %1 does not exist under %2"), {*name, DisplayKey(subKey)}));
                return 1;
            }
            std::printf("%s\n    %s    REG_SZ    %s\n", DisplayKey(subKey).c_str(), name->c_str(), text->c_str());
            return 0;
        }
        std::printf("%s\n", DisplayKey(subKey).c_str());
        for (const auto& [valueName, text] : ListValues(*root, subKey))
            std::printf("    %s    REG_SZ    %s\n", valueName.c_str(), text.c_str());
        return 0;
    }
    if (command == "set" || command == "add") {
        if (!name || !data)
            return Usage();
        if (!SetString(*root, subKey, *name, *data)) {
            const std::string reason = IsValidName(*name) ? std::strerror(errno) : Tr("zel-reg", "not a valid value name");
            Complain(Arg(Tr("zel-reg", "cannot write %1 under %2: %3"), {*name, DisplayKey(subKey), reason}));
            return 1;
        }
        return 0;
    }
    if (command == "delete") {
        if (!name)
            return Usage();
        if (!Query(*root, subKey, *name)) {
            Complain(Arg(Tr("zel-reg", "the value %1 does not exist under %2"), {*name, DisplayKey(subKey)}));
            return 1;
        }
        if (!DeleteValue(*root, subKey, *name)) {
            const std::string reason = std::strerror(errno);
            Complain(Arg(Tr("zel-reg", "cannot delete %1: %2"), {*name, reason}));
            return 1;
        }
        return 0;
    }
    return Usage();
}
