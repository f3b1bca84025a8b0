#include "text/ToolTranslation.h"

#include "text/Translate.h"
#include "text/hooksafe/QmCatalog.h"

#include <cstdlib>
#include <mutex>
#include <string>

namespace text {

namespace {

struct ToolCatalog {
    const char* name = nullptr;
    bool folderFromEnvironment = false;
    std::once_flag loaded;
    QmCatalog catalog;
};

ToolCatalog& Tool()
{
    static ToolCatalog tool;
    return tool;
}

std::string Translated(const char* context, const char* text, const char* disambiguation, int n)
{
    ToolCatalog& tool = Tool();
    std::call_once(tool.loaded, [&tool] {
        const char* folder = tool.folderFromEnvironment ? ::secure_getenv("ZEL_TRANSLATIONS_DIR") : nullptr;
        tool.catalog.LoadForLocale(folder && *folder ? folder : QmCatalog::InstalledFolder(), tool.name);
    });
    std::string translation(256, '\0');
    long length = tool.catalog.Find(context, text, disambiguation, n, translation.data(), translation.size() + 1);
    if (length < 0)
        return WithCount(text, n);
    if (size_t(length) > translation.size()) {
        translation.resize(size_t(length));
        tool.catalog.Find(context, text, disambiguation, n, translation.data(), translation.size() + 1);
    }
    translation.resize(size_t(length));
    return WithCount(std::move(translation), n);
}

}  // namespace

void UseToolTranslation(const char* name, bool folderFromEnvironment)
{
    Tool().name = name;
    Tool().folderFromEnvironment = folderFromEnvironment;
    SetTranslator(&Translated);
}

}  // namespace text
