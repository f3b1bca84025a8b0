#include "tools/common/Arguments.h"

#include "text/Strings.h"

#include <sstream>

namespace tools {

bool Arguments::Take(std::string_view option)
{
    if (Done() || Peek() != option)
        return false;
    ++next_;
    return true;
}

std::optional<std::string> Arguments::TakeValue(std::string_view option)
{
    if (Left() < 2 || Peek() != option)
        return std::nullopt;
    next_ += 2;
    return args_[next_ - 1];
}

std::vector<std::string> Arguments::TakeRest()
{
    std::vector<std::string> rest(args_.begin() + static_cast<long>(next_), args_.end());
    next_ = args_.size();
    return rest;
}

std::vector<std::string> ListItems(std::string_view list, char separator)
{
    std::vector<std::string> items;
    std::istringstream in {std::string(list)};
    for (std::string item; std::getline(in, item, separator);)
        items.emplace_back(text::TrimBlanks(item));
    return items;
}

}  // namespace tools
