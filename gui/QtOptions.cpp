#include "gui/QtOptions.h"

#include <cstring>
#include <string_view>

namespace gui {

namespace {

// Options with a value, as "-name value" or "-name=value".
constexpr const char* kWithValue[] = {"style", "stylesheet", "platform", "platformpluginpath", "platformtheme",
                                      "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                      "display", "geometry", "qmljsdebugger", "dialogs", "fontengine"};
// Options without one.
constexpr const char* kFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

}  // namespace

int QtOptionLength(int argc, char** argv, int at)
{
    std::string_view argument = argv[at];
    if (argument.size() < 2 || argument[0] != '-')
        return 0;
    argument.remove_prefix(argument[1] == '-' ? 2 : 1);
    const size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    for (const char* option : kWithValue) {
        if (name != option)
            continue;
        if (equals != std::string_view::npos)
            return 1;
        return at + 1 < argc ? 2 : 0;
    }
    for (const char* option : kFlags)
        if (equals == std::string_view::npos && name == option)
            return 1;
    return 0;
}

}  // namespace gui
