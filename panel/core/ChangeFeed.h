#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace panel {

// What changed in the panel's core, as the views hear it.
struct Change {
    enum class Kind {
        kApplicationChanged, // name: the application's key ("ANY" for the system settings)
        kRulesReplaced,      // the rules were read from the file again
        kSettingChanged,     // name: the setting's name ("SecurityStatus", "SecurityMode")
    };
    Kind kind;
    std::string name;
};

// Tells whoever listens of the core's changes, in the order they are made,
// right after each (so that a window acting next finds its parts current).
// A listener is heard until its subscription goes; a feed that went first
// leaves the subscription nothing to do.
class ChangeFeed {
public:
    using Listener = std::function<void(const Change&)>;

    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept { *this = std::move(other); }
        Subscription& operator=(Subscription&& other) noexcept;
        ~Subscription() { Cancel(); }
        void Cancel();

    private:
        friend class ChangeFeed;
        struct Listeners;
        std::weak_ptr<Listeners> listeners_;
        uint64_t id_ = 0;
    };

    ChangeFeed();
    // A copy (of a core) has listeners of its own: none at first.
    ChangeFeed(const ChangeFeed&) : ChangeFeed() {}
    ChangeFeed& operator=(const ChangeFeed&) { return *this; }
    [[nodiscard]] Subscription Subscribe(Listener listener);
    void Announce(const Change& change) const;

private:
    std::shared_ptr<Subscription::Listeners> listeners_;
};

}  // namespace panel
