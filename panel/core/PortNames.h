#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panel {

// The ports list's names by number, for "80(http)".
class PortNames {
public:
    PortNames() = default;
    explicit PortNames(std::vector<std::pair<std::string, int>> ports) : ports_(std::move(ports)) {}
    // From the ports list's text: a name, a blank, and the port number
    // somewhere after it ("http 80/tcp"); lines without one are passed over.
    static PortNames FromText(const std::string& text);
    // "(" + name + ")" for the port's exact number, "" when it has none.
    std::string NameOf(std::string_view port) const;

private:
    std::vector<std::pair<std::string, int>> ports_;
};

}  // namespace panel
