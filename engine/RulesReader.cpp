#include "engine/RulesReader.h"

#include "engine/RuleTable.h"
#include "rules/Document.h"
#include "rules/DocumentReader.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>


namespace engine {

namespace rf = rules::rules_format;

namespace {

static_assert(static_cast<int>(rules::Permission::kDeny) == kDeny && static_cast<int>(rules::Permission::kPermit) == kPermit
              && static_cast<int>(rules::Permission::kAsk) == kAsk);
static_assert(static_cast<int>(rules::Direction::kIncoming) == kIncoming
              && static_cast<int>(rules::Direction::kOutgoing) == kOutgoing);

enum class AppRead { kSkipped, kRead, kStop };

// One port of a rule as its entries: by address, by host name, or for
// every peer.
void AddPort(RuleTable& table, const rules::Port& port, int number, int direction, int permission)
{
    // An incoming peer has no name: incoming rules read their ports as if
    // they named no host.
    const std::vector<std::string>* hosts = direction == kIncoming || !port.hosts ? nullptr : &*port.hosts;
    if (port.addresses) {
        for (const std::string& address : *port.addresses)
            table.AddEntry(number, direction, permission, address.c_str());
    } else if (!hosts) {
        table.AddEntry(number, direction, permission, nullptr);
    }
    if (hosts)
        for (const std::string& host : *hosts)
            table.AddHostEntry(number, direction, permission, host);
}

// Whether the entry named name is one of the program's parent-limited
// entries: limited to its parent's name or to its parent's path.
bool IsLimitedToParent(std::string_view name, const ProgramIdentity& program)
{
    return rf::IsLimitedEntryName(name, program.name, program.parentName)
        || rf::IsLimitedEntryName(name, program.name, program.parentPath);
}

// Whether the reading of program looks at the entry named name: in a plain
// reading the program's own entry and "ANY"; in a limited one "ANY" and the
// entries limited to the program's parent, which a plain reading notes.
bool Concerns(std::string_view name, const ProgramIdentity& program)
{
    if (!program.HasParent())
        return rf::EntryApplies(name, program.name);
    const bool limited = IsLimitedToParent(name, program);
    if (program.limited)
        return limited || name == rf::kGeneralApp;
    if (limited && program.limitedSeen)
        *program.limitedSeen = true;
    return rf::EntryApplies(name, program.name);
}

// Whether the entry applies to program: by its name, its path when it is
// bound, and its parent. An entry whose PARENT and name disagree applies to
// no program; the kernel layer, which knows no parent, takes no limited one.
bool Applies(const rules::Application& app, const ProgramIdentity& program)
{
    if (program.everyPath)
        return !app.IsLimited() && rf::EntryApplies(*app.name, program.name);
    if (!Concerns(*app.name, program))
        return false;
    if (app.IsBound() && app.path != program.path)
        return false;
    if (!app.IsLimited())
        return rf::LimitedProgramName(*app.name).empty() && app.AppliesTo(program.name, program.path);
    return rf::IsLimitedEntryName(*app.name, program.name, app.parent) && IsLimitedToParent(*app.name, program);
}

AppRead ReadApplication(const rules::Application& app, RuleTable& table, ProgramIdentity program)
{
    // An entry without a name applies to no program. Passed over, it takes
    // nothing from those after it.
    if (!app.name)
        return AppRead::kSkipped;
    if (!Applies(app, program))
        return AppRead::kSkipped;
    if (app.IsLimited() && program.limitedSeen)
        *program.limitedSeen = true;
    // A file that is not the one the entry was checked against (changed,
    // replaced) is asked about where the entry would permit; what the entry
    // blocks stays blocked. The kernel layer, which knows names alone, takes
    // the entry as it stands.
    if (!app.IsGeneral())
        table.ownEntry = true;
    const bool doubted = !program.everyPath && app.IsBound() && !app.fileHash.empty()
        && (!program.digest || program.digest(program.digestContext) != app.fileHash);
    // Only an entry known to be this program's leaves the lists out: not
    // "ANY", and not a file other than the one the entry was checked against.
    if (app.ignoreLists && !app.IsGeneral() && !doubted)
        table.ignoresLists = true;
    const auto own = [doubted](rules::Permission permission) {
        const int value = static_cast<int>(permission);
        return doubted && value == kPermit ? kAsk : value;
    };
    if (app.incoming)
        table.defaultIncoming = own(*app.incoming);
    if (app.outgoing)
        table.defaultOutgoing = own(*app.outgoing);
    // Those past their end too: the decision compares the end with the clock.
    // An end at or before 1970 is no end of its own, which a held answer's 0
    // would be: it has ended. A doubted file's are not its own: it is asked about.
    if (!doubted)
        for (const rules::TimedAnswer& answer : app.timed)
            if (answer.until > 0)
                if (auto held = HeldAnswer::Of(answer))
                    table.timedAnswers.Append(std::move(*held));
    // A rule that lacks what it must hold is read as no more than it could
    // have meant (rules::MeaningOf), and the reading goes on.
    for (const rules::Rule& rule : app.rules) {
        const rules::RuleMeaning meaning = rules::MeaningOf(rule);
        if (!meaning.decides)
            continue;
        for (const rules::Port& port : rule.ports) {
            const rules::PortMeaning covered = rules::MeaningOf(port, meaning.permission);
            if (!covered.number)
                continue;
            const int permission = own(covered.permission);
            if (meaning.direction) {
                AddPort(table, port, *covered.number, static_cast<int>(*meaning.direction), permission);
            } else {
                AddPort(table, port, *covered.number, kIncoming, permission);
                AddPort(table, port, *covered.number, kOutgoing, permission);
            }
        }
    }
    return app.incoming ? AppRead::kStop : AppRead::kRead;
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
    // Not zero-filled: a small rules file touches one page of the block, not
    // sixteen (each a page fault in a program at its first decision).
    explicit Window(const RulesSource& source) : source_(source), buffer_(new char[kBlock]), size_(kBlock) {}

    // At least count bytes ahead, unless the document ends first.
    bool Ensure(size_t count) { return end_ - pos_ >= count || Refill(count); }
    size_t Ahead() const { return end_ - pos_; }
    const char* Here() const { return buffer_.get() + pos_; }
    void Pass(size_t count)
    {
        if (keeping_)
            kept_.append(buffer_.get() + pos_, count);
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
                std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
                end_ -= pos_;
                pos_ = 0;
            }
            if (size_ - end_ < kBlock / 2) {
                std::unique_ptr<char[]> larger(new char[size_ + kBlock]);
                std::memcpy(larger.get(), buffer_.get(), end_);
                buffer_ = std::move(larger);
                size_ += kBlock;
            }
            const ssize_t n = source_(buffer_.get() + end_, size_ - end_);
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
    std::unique_ptr<char[]> buffer_;
    size_t size_;
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
    kNone,     // not inside one
    kSeeking,  // inside one, kept until its EXENAME tells whose it is
    kNameText, // inside its EXENAME, whose text is the name
    kKept,     // kept whole, to be read from memory
    kPassed,   // not the program's: passed
};

// Reads the applications of a document in order until the reading ends;
// nameAt gives an application's name without reading it whole.
template <typename NameAt, typename ApplicationAt>
int ReadApplications(size_t count, const NameAt& nameAt, const ApplicationAt& applicationAt, RuleTable& table,
                     ProgramIdentity program)
{
    // A plain reading that notes limited entries looks at every name, also
    // past the end of its own reading: such an entry may follow.
    const bool watching = program.HasParent() && !program.limited && program.limitedSeen;
    int stopped = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::optional<std::string> name = nameAt(i);
        if (name && !Concerns(*name, program))
            continue;
        if (stopped)
            continue;
        if (ReadApplication(applicationAt(i), table, program) == AppRead::kStop) {
            stopped = 1;
            if (!watching)
                break;
        }
    }
    return stopped;
}

}  // namespace

int ReadRulesDocument(const rules::DocumentReader& document, RuleTable& table, ProgramIdentity program)
{
    return ReadApplications(
        document.Count(), [&](size_t i) { return document.NameAt(i); }, [&](size_t i) { return document.At(i); },
        table, program);
}

int ReadRulesDocument(const rules::Document& document, RuleTable& table, ProgramIdentity program)
{
    const auto& applications = document.applications;
    return ReadApplications(
        applications.size(), [&](size_t i) { return applications[i].name; },
        [&](size_t i) -> const rules::Application& { return applications[i]; }, table, program);
}

StreamResult ReadRulesStream(const RulesSource& source, RuleTable& table, ProgramIdentity program)
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
    // A plain reading that notes limited entries looks at every name, also
    // past the end of its own reading.
    const bool watching = program.HasParent() && !program.limited && program.limitedSeen;
    // An application kept whole, read as the document reader reads it;
    // false when the parser does not take it.
    const auto readKept = [&] {
        const std::optional<rules::Application> kept = rules::ReadApplication(window.Kept());
        if (!kept)
            return false;
        if (ReadApplication(*kept, read, program) == AppRead::kStop) {
            reading = false;
            stopped = 1;
        }
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
            // Text beside the root or the applications is a node of its own
            // in the document: read whole.
            if (open.size() <= 1 && !std::all_of(text, text + run, IsSpace))
                return unusual;
            if (app == AppState::kNameText)
                name.append(text, run);
            window.Pass(run);
            continue;
        }
        if (!window.Ensure(2))
            return unusual; // a '<' at the very end
        const char next = window.Here()[1];
        if (next == '!') {
            if (!window.Ensure(4) || std::memcmp(window.Here(), "<!--", 4) != 0)
                return unusual;
            if (app == AppState::kNameText)
                app = AppState::kKept; // a comment splits the name: let the document reader judge it
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
            if (app == AppState::kNameText && open.size() == 2) {
                // The name is whole: an application of another program is passed.
                const bool plain = !name.empty() && !std::all_of(name.begin(), name.end(), IsSpace)
                    && name.find_first_of("&\r") == std::string::npos;
                if (plain && !Concerns(name, program)) {
                    app = AppState::kPassed;
                    window.Drop();
                } else {
                    app = AppState::kKept;
                }
            }
            if (open.size() == 1 && app != AppState::kNone) {
                // An application without EXENAME is kept: the document
                // reader passes over it, and so does this one.
                if ((app == AppState::kKept || app == AppState::kSeeking) && reading && !readKept())
                    return unusual;
                window.Drop();
                app = AppState::kNone;
            }
            continue;
        }
        // A start tag.
        if (open.empty() && rootSeen)
            return unusual; // a second root
        if (app == AppState::kNameText)
            app = AppState::kKept; // the name element holds elements
        if (open.size() == 1) {
            app = reading || watching ? AppState::kSeeking : AppState::kPassed;
            if (reading)
                window.Keep();
            name.clear();
        } else if (app == AppState::kSeeking && open.size() == 2 && tag->name == rf::kExeName) {
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
