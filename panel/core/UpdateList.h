#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace panel {

// The names of the programs whose rules changed, as the running engines
// read them: the control panel publishes the list (its message box's window
// text, relayed by the interceptor), and each engine of a listed program
// reads its rules again.

class UpdateList {
public:
    using Publisher = std::function<void(const std::string& text)>;

    // Where the list goes each time it changes (or is published again).
    void SetPublisher(Publisher publisher) { publisher_ = std::move(publisher); }

    // A program's name goes on the list (upper case, once; the system
    // settings' "ANY" never), and the list is published.
    void Add(std::string_view programName);
    // The name comes off the list, compared whole (taking PAD off leaves
    // NOTEPAD), and the list is published.
    void Remove(std::string_view programName);
    // The list as published: each name after a blank.
    const std::string& Text() const { return text_; }
    void Publish() const;

private:
    std::string text_;
    Publisher publisher_;
};

}  // namespace panel
