#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Profiles: what changes while the computer is on one network (Block All,
// the firewall's mode, the defaults of programs without rules, per-program
// overrides). Each is a value of the settings store under kProfilesKey,
// named as the profile, holding "field=value" lines; the one in force is
// named by the setting ActiveProfile (empty or missing: none). A field that
// does not read changes nothing, so a damaged value never lets more through
// than its readable words say.
namespace protocol::profiles {

inline constexpr std::string_view kProfilesKey = "Software\\KORVEL\\QRB\\Profiles";
inline constexpr const char* kActiveProfile = "ActiveProfile";
// What the settings held before a profile changed them, put back when no
// profile is in force any more: "SecurityStatus=..." and "FirewallMode=..." lines.
inline constexpr const char* kProfileRestore = "ProfileRestore";

// A value larger than this, or with more overrides, is no profile.
inline constexpr size_t kMaxValueBytes = 64 * 1024;
inline constexpr size_t kMaxOverrides = 256;
inline constexpr size_t kMaxNameBytes = 64;
inline constexpr size_t kMaxNetworkBytes = 200;
inline constexpr size_t kMaxPathBytes = 4096;

enum class Answer { kAsk, kAllow, kBlock };

struct ProgramOverride {
    std::string path; // absolute
    bool allow = false;
    bool incoming = true;
    bool outgoing = true;
    bool operator==(const ProgramOverride&) const = default;
};

struct Profile {
    std::string name;
    std::string network; // the network's id, as NetworkIdentity gives it ("gw:...", "nm:...", "ssid:...")
    std::optional<bool> blockAll;
    std::string mode; // empty: left as it is
    std::optional<Answer> incoming;
    std::optional<Answer> outgoing;
    std::vector<ProgramOverride> programs;
    bool operator==(const Profile&) const = default;

    // The override for the program at path, or nullptr.
    const ProgramOverride* OverrideFor(std::string_view path) const;
};

// Empty when the text is good for its place, else why not. Names: 1 to 64
// bytes of UTF-8 without control characters, '/' or '\', not starting with
// a blank or '.'; two names that differ only in case are one profile.
std::string NameProblem(std::string_view name);
// A network id: 1 to 200 bytes of printable text (ids are given escaped).
std::string NetworkProblem(std::string_view network);
std::string PathProblem(std::string_view path);
bool IsModeWord(std::string_view word);
std::optional<Answer> ParseAnswer(std::string_view word);
const char* AnswerWord(Answer answer);

std::string Serialize(const Profile& profile);
// nullopt when the text is too large to be a profile.
std::optional<Profile> Parse(std::string_view name, std::string_view text);

// The profiles the store holds, in name order; values that are no profile are left out.
std::vector<Profile> All();
std::optional<Profile> Find(std::string_view name);
bool Save(const Profile& profile);
bool Remove(std::string_view name);

// The profile named by ActiveProfile (nullopt: none, or it does not read).
std::string ActiveName();
std::optional<Profile> Active();
bool SetActive(std::string_view name);

// The first profile of the list whose network is id, exactly; nullptr when none.
const Profile* ForNetwork(const std::vector<Profile>& profiles, std::string_view id);

// A profile chosen by hand (zel-rules profile use NAME) stays in force
// whatever the network; missing or empty: the network chooses.
inline constexpr const char* kProfileChosen = "ProfileChosen";
std::string ChosenName();
bool Choose(std::string_view name); // empty: by the network again

// Puts profile in force (nullptr: none): ActiveProfile, and the settings it
// changes (Block All, the mode). What those settings held before any profile
// changed them is kept in ProfileRestore and put back for what a profile
// leaves alone, and wholly once none is in force. False when a setting
// could not be written.
bool Apply(const Profile* profile);

}  // namespace protocol::profiles
