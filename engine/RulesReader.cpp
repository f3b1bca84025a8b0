#include "engine/RulesReader.h"

#include "engine/RuleTable.h"
#include "platform/RulesFormat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace engine {

namespace rf = platform::rules_format;

namespace {

std::string_view TextOf(const pugi::xml_node& node) { return node.text().get(); }

enum class AppRead { kSkipped, kRead, kStop, kFail };

AppRead ReadApplication(const pugi::xml_node& app, RuleTable& table, std::string_view exeName)
{
    const pugi::xml_node nameNode = app.first_child();
    if (!nameNode)
        return AppRead::kFail;
    if (!rf::EntryApplies(TextOf(nameNode), exeName))
        return AppRead::kSkipped;
    bool stop = false;
    if (const auto text = TextOf(app.child(rf::kInDef)); !text.empty()) {
        table.defaultIncoming = PermissionFromText(text);
        stop = true;
    }
    if (const auto text = TextOf(app.child(rf::kOutDef)); !text.empty())
        table.defaultOutgoing = PermissionFromText(text);
    if (const pugi::xml_node rules = app.child(rf::kRules)) {
        for (pugi::xml_node rule = rules.first_child(); rule; rule = rule.next_sibling()) {
            const pugi::xml_node state = rule.child(rf::kState);
            if (!state)
                return AppRead::kFail;
            if (TextOf(state) != "1")
                continue;
            const pugi::xml_node permissionNode = rule.child(rf::kPermission);
            if (!permissionNode)
                return AppRead::kFail;
            const int permission = PermissionFromText(TextOf(permissionNode));
            const pugi::xml_node directionNode = rule.child(rf::kDirection);
            if (!directionNode)
                return AppRead::kFail;
            const int direction = DirectionFromText(TextOf(directionNode));
            const pugi::xml_node ports = rule.child(rf::kPorts);
            if (!ports)
                continue;
            for (pugi::xml_node port = ports.first_child(); port; port = port.next_sibling()) {
                const pugi::xml_node number = port.child(rf::kNumber);
                if (!number)
                    return AppRead::kFail;
                const std::optional<int> portNumber = PortFromText(TextOf(number));
                if (!portNumber)
                    continue;
                const pugi::xml_node ips = port.child(rf::kIps);
                // An incoming peer has no name: incoming rules read their
                // ports as if they named no host.
                const pugi::xml_node hosts = direction == kIncoming ? pugi::xml_node() : port.child(rf::kHosts);
                if (ips) {
                    for (pugi::xml_node ip = ips.first_child(); ip; ip = ip.next_sibling())
                        table.AddEntry(*portNumber, direction, permission, ip.text().get());
                } else if (!hosts) {
                    table.AddEntry(*portNumber, direction, permission, nullptr);
                }
                for (pugi::xml_node host = hosts.first_child(); host; host = host.next_sibling())
                    table.AddHostEntry(*portNumber, direction, permission, host.text().get());
            }
        }
    }
    return stop ? AppRead::kStop : AppRead::kRead;
}

// Character classes by table: the reader looks at every byte of a tag.
enum : uint8_t { kSpace = 1, kNameStart = 2, kNameChar = 4 };
constexpr auto kClasses = [] {
    std::array<uint8_t, 256> classes {};
    for (const char c : {' ', '\t', '\n', '\r'})
        classes[static_cast<uint8_t>(c)] = kSpace;
    for (int c = 0; c < 256; ++c) {
        const bool start = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
        if (start)
            classes[c] |= kNameStart | kNameChar;
        if ((c >= '0' && c <= '9') || c == '-' || c == '.')
            classes[c] |= kNameChar;
    }
    return classes;
}();
bool Is(char c, uint8_t kind) { return kClasses[static_cast<uint8_t>(c)] & kind; }
bool IsSpace(char c) { return Is(c, kSpace); }

// Longer tags than this are not the control panel's: read whole instead.
constexpr size_t kMaxTag = 256;

// A window over the source: bytes are read in blocks and, while an element
// is being kept, copied into it as they are passed.
class Window {
public:
    explicit Window(const RulesSource& source) : source_(source), buffer_(kBlock) {}

    // At least count bytes ahead, unless the document ends first.
    bool Ensure(size_t count) { return end_ - pos_ >= count || Refill(count); }
    size_t Ahead() const { return end_ - pos_; }
    const char* Here() const { return buffer_.data() + pos_; }
    void Pass(size_t count)
    {
        if (keeping_)
            kept_.append(buffer_.data() + pos_, count);
        pos_ += count;
    }
    bool Failed() const { return failed_; }

    void Keep()
    {
        kept_.clear();
        keeping_ = true;
    }
    void Drop()
    {
        keeping_ = false;
        kept_.clear();
    }
    bool Keeping() const { return keeping_; }
    const std::string& Kept() const { return kept_; }

private:
    __attribute__((noinline)) bool Refill(size_t count)
    {
        while (end_ - pos_ < count && !ended_) {
            if (pos_ > 0) {
                std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
                end_ -= pos_;
                pos_ = 0;
            }
            if (buffer_.size() - end_ < kBlock / 2)
                buffer_.resize(buffer_.size() + kBlock);
            const ssize_t n = source_(buffer_.data() + end_, buffer_.size() - end_);
            if (n < 0)
                failed_ = true;
            if (n <= 0)
                ended_ = true;
            else
                end_ += static_cast<size_t>(n);
        }
        return end_ - pos_ >= count;
    }

    static constexpr size_t kBlock = 64 << 10;
    const RulesSource& source_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    bool keeping_ = false;
    std::string kept_;
};

// Passes a comment; false when it never ends or holds a zero byte.
bool PassComment(Window& window)
{
    window.Pass(4); // "<!--"
    for (;;) {
        if (!window.Ensure(3))
            return false;
        const char* here = window.Here();
        const size_t ahead = window.Ahead();
        const void* found = memmem(here, ahead, "-->", 3);
        const size_t passed = found ? static_cast<size_t>(static_cast<const char*>(found) - here) + 3 : ahead - 2;
        // The document parser takes a zero byte for the end of the text.
        if (std::memchr(here, '\0', passed))
            return false;
        window.Pass(passed);
        if (found)
            return true;
    }
}

struct Tag {
    bool closing = false;
    bool empty = false; // <NAME/>
    std::string_view name;
    size_t length = 0;
};

// Reads the tag at the window's position (a '<' followed by a name or by
// "/" and a name) without passing it. nullopt when it is not of the plain
// shape.
std::optional<Tag> PeekTag(Window& window)
{
    window.Ensure(kMaxTag);
    const char* text = window.Here();
    const size_t ahead = std::min(window.Ahead(), kMaxTag);
    Tag tag;
    size_t i = 1;
    if (i < ahead && text[i] == '/') {
        tag.closing = true;
        ++i;
    }
    if (i >= ahead || !Is(text[i], kNameStart))
        return std::nullopt;
    const size_t nameStart = i;
    while (i < ahead && Is(text[i], kNameChar))
        ++i;
    tag.name = std::string_view(text + nameStart, i - nameStart);
    while (i < ahead && IsSpace(text[i]))
        ++i;
    if (i < ahead && text[i] == '>') {
        tag.length = i + 1;
        return tag;
    }
    if (!tag.closing && i + 1 < ahead && text[i] == '/' && text[i + 1] == '>') {
        tag.empty = true;
        tag.length = i + 2;
        return tag;
    }
    return std::nullopt;
}

// The names of the open elements, the root first. Deeper documents or
// longer names than the control panel writes are read whole instead.
class OpenElements {
public:
    bool Push(std::string_view name)
    {
        if (depth_ == kMaxDepth || name.size() > kMaxName)
            return false;
        Name& slot = names_[depth_++];
        slot.length = static_cast<uint8_t>(name.size());
        std::memcpy(slot.text, name.data(), name.size());
        return true;
    }
    void pop_back() { --depth_; }
    bool empty() const { return depth_ == 0; }
    size_t size() const { return depth_; }
    std::string_view back() const { return {names_[depth_ - 1].text, names_[depth_ - 1].length}; }

private:
    static constexpr size_t kMaxDepth = 32;
    static constexpr size_t kMaxName = 32;
    struct Name {
        char text[kMaxName];
        uint8_t length;
    };
    Name names_[kMaxDepth];
    size_t depth_ = 0;
};

// What is known of the application element being passed.
enum class AppState {
    kNone,          // not inside one
    kFirstChild,    // its start tag passed: its first child decides its name
    kNameText,      // inside the first child, whose text is the name
    kNameEnd,       // the name's text read: the first child must end now
    kKept,          // kept whole, to be read from memory
    kPassed,        // not the program's: passed
};

}  // namespace

int ReadRulesDocument(const pugi::xml_document& document, RuleTable& table, std::string_view exeName)
{
    // The document element, not merely the first node: a declaration or a
    // comment before the root must not leave the engine without rules.
    const pugi::xml_node root = document.document_element();
    if (!root)
        return 0;
    for (pugi::xml_node app = root.first_child(); app; app = app.next_sibling()) {
        switch (ReadApplication(app, table, exeName)) {
        case AppRead::kFail:
            return 0;
        case AppRead::kStop:
            return 1;
        default:
            break;
        }
    }
    return 0;
}

StreamResult ReadRulesStream(const RulesSource& source, RuleTable& table, std::string_view exeName)
{
    const StreamResult unusual;
    RuleTable read = table;
    Window window(source);
    OpenElements open;
    bool rootSeen = false;
    bool reading = true; // false once an application ended the reading
    int stopped = 0;
    AppState app = AppState::kNone;
    std::string name;
    // An application kept whole, read as the document reader reads it;
    // false when the parser does not take it.
    const auto readKept = [&] {
        pugi::xml_document element;
        if (!element.load_buffer(window.Kept().data(), window.Kept().size()))
            return false;
        const AppRead result = ReadApplication(element.document_element(), read, exeName);
        if (result == AppRead::kFail || result == AppRead::kStop)
            reading = false;
        if (result == AppRead::kStop)
            stopped = 1;
        return true;
    };

    for (;;) {
        // Text up to the next tag.
        if (!window.Ensure(1))
            break;
        const char* text = window.Here();
        const size_t ahead = window.Ahead();
        const char* lt = *text == '<' ? text : static_cast<const char*>(std::memchr(text, '<', ahead));
        const size_t run = lt ? static_cast<size_t>(lt - text) : ahead;
        if (run > 0) {
            if (std::memchr(text, '\0', run))
                return unusual;
            const bool blank = std::all_of(text, text + run, IsSpace);
            // Text beside the root or the applications is a node of its own
            // in the document: read whole.
            if (!blank && open.size() <= 1)
                return unusual;
            if (app == AppState::kFirstChild && !blank)
                app = AppState::kKept; // the name is text: let the document reader judge it
            if (app == AppState::kNameText) {
                name.append(text, run);
            }
            window.Pass(run);
            continue;
        }
        if (!window.Ensure(2))
            return unusual; // a '<' at the very end
        const char next = window.Here()[1];
        if (next == '!') {
            if (!window.Ensure(4) || std::memcmp(window.Here(), "<!--", 4) != 0)
                return unusual;
            if (app == AppState::kFirstChild || app == AppState::kNameText || app == AppState::kNameEnd)
                app = AppState::kKept; // comments split texts: let the document reader judge it
            if (!PassComment(window))
                return unusual;
            continue;
        }
        const std::optional<Tag> tag = PeekTag(window);
        if (!tag)
            return unusual;
        if (tag->closing) {
            if (open.empty() || open.back() != tag->name)
                return unusual;
            window.Pass(tag->length);
            open.pop_back();
            if (app == AppState::kNameText) {
                app = AppState::kNameEnd;
            }
            if (app == AppState::kNameEnd && open.size() == 2) {
                // The name is whole: an application of another program is passed.
                const bool plain = !name.empty() && !std::all_of(name.begin(), name.end(), IsSpace)
                    && name.find_first_of("&\r") == std::string::npos;
                if (plain && !rf::EntryApplies(name, exeName)) {
                    app = AppState::kPassed;
                    window.Drop();
                } else {
                    app = AppState::kKept;
                }
            } else if (app == AppState::kFirstChild && open.size() == 1) {
                app = AppState::kKept; // an application without children
            }
            if (open.size() == 1 && app != AppState::kNone) {
                if (app == AppState::kKept && reading && !readKept())
                    return unusual;
                window.Drop();
                app = AppState::kNone;
            }
            continue;
        }
        // A start tag.
        if (open.empty() && rootSeen)
            return unusual; // a second root
        if (app == AppState::kNameText || app == AppState::kNameEnd)
            app = AppState::kKept; // the name element holds elements
        if (open.size() == 1) {
            app = reading ? AppState::kFirstChild : AppState::kPassed;
            if (reading)
                window.Keep();
            name.clear();
        } else if (app == AppState::kFirstChild) {
            app = tag->empty ? AppState::kKept : AppState::kNameText;
        }
        if (open.empty())
            rootSeen = true;
        const bool empty = tag->empty;
        if (!empty && !open.Push(tag->name))
            return unusual;
        window.Pass(tag->length);
        if (empty && open.size() == 1 && app != AppState::kNone) {
            // <APPLICATION/>: an application without children.
            if (reading && !readKept())
                return unusual;
            window.Drop();
            app = AppState::kNone;
        }
    }
    if (window.Failed() || !rootSeen || !open.empty())
        return unusual;
    table = std::move(read);
    return {StreamOutcome::kRead, stopped};
}

}  // namespace engine
