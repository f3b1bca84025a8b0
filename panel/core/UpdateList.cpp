#include "panel/core/UpdateList.h"

#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <sstream>
#include <vector>

namespace panel {

namespace {

std::vector<std::string> Names(const std::string& list)
{
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string word; words >> word;)
        names.push_back(word);
    return names;
}

}  // namespace

void UpdateList::Add(std::string_view programName)
{
    if (programName == rules::rules_format::kGeneralApp)
        return;
    const std::string key = text::ToUpper(programName);
    bool listed = false;
    for (const std::string& name : Names(text_))
        listed = listed || text::EqualsNoCase(name, key);
    if (!listed && !key.empty())
        text_ += " " + key;
    Publish();
}

void UpdateList::Remove(std::string_view programName)
{
    const std::string key = text::ToUpper(programName);
    std::string kept;
    for (const std::string& name : Names(text_))
        if (name != key)
            kept += " " + name;
    text_ = kept;
    Publish();
}

void UpdateList::Publish() const
{
    if (publisher_)
        publisher_(text_);
}

}  // namespace panel
