#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tools {

// A command's arguments read in turn: each option is taken where it stands,
// one with a value only when the value follows it; what is left unread is
// the caller's to refuse (with its usage).
class Arguments {
public:
    explicit Arguments(std::vector<std::string> args) : args_(std::move(args)) {}
    Arguments(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}

    bool Done() const { return next_ == args_.size(); }
    size_t Left() const { return args_.size() - next_; }
    // The next argument; only when not Done().
    const std::string& Peek() const { return args_[next_]; }
    // The next argument, taken; only when not Done().
    std::string Take() { return args_[next_++]; }
    // Whether the next argument is option; taken when it is.
    bool Take(std::string_view option);
    // The value after option when the next argument is option and a value
    // follows it (both taken); nullopt (nothing taken) otherwise.
    std::optional<std::string> TakeValue(std::string_view option);
    // What is left, all taken.
    std::vector<std::string> TakeRest();

private:
    std::vector<std::string> args_;
    size_t next_ = 0;
};

// The items of a list given as one argument ("443,80"), each without the
// blanks around it.
std::vector<std::string> ListItems(std::string_view list, char separator = ',');

}  // namespace tools
