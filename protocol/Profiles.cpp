#include "protocol/Profiles.h"

#include "protocol/FirewallMode.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "text/Strings.h"

#include <algorithm>

namespace protocol::profiles {

namespace {

namespace registry = protocol::registry;
constexpr auto kRoot = registry::RootKey::LocalMachine;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Whole UTF-8 sequences, none of them a C1 control or an overlong form.
bool IsCleanUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (IsControl(c))
                return false;
            ++i;
            continue;
        }
        const size_t length = c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xf0 && c < 0xf5 ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        unsigned value = c & (0x7f >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (next & 0x3f);
        }
        if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10ffff))
            || (value >= 0xd800 && value <= 0xdfff) || (value >= 0x80 && value < 0xa0))
            return false;
        i += length;
    }
    return true;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return lower;
}

std::string Setting(const char* name) { return registry::GetString(kRoot, registry::kSettingsKey, name); }

bool Put(const char* name, const std::optional<std::string>& text)
{
    return text ? registry::SetString(kRoot, registry::kSettingsKey, name, *text)
                : registry::DeleteValue(kRoot, registry::kSettingsKey, name);
}

// "in", "out" or "both", then the path.
std::optional<ProgramOverride> ParseOverride(bool allow, std::string_view value)
{
    const size_t blank = value.find(' ');
    if (blank == std::string_view::npos)
        return std::nullopt;
    const std::string_view way = value.substr(0, blank);
    ProgramOverride program;
    program.allow = allow;
    program.path = value.substr(blank + 1);
    program.incoming = way == "in" || way == "both";
    program.outgoing = way == "out" || way == "both";
    if ((!program.incoming && !program.outgoing) || !PathProblem(program.path).empty())
        return std::nullopt;
    return program;
}

}  // namespace

const ProgramOverride* Profile::OverrideFor(std::string_view path) const
{
    for (const ProgramOverride& program : programs)
        if (program.path == path)
            return &program;
    return nullptr;
}

std::string NameProblem(std::string_view name)
{
    if (name.empty())
        return "it is empty";
    if (name.size() > kMaxNameBytes)
        return "it is longer than 64 bytes";
    if (!IsCleanUtf8(name))
        return "it holds control characters or is not UTF-8";
    if (name.find_first_of("/\\") != std::string_view::npos)
        return "it holds '/' or '\\'";
    if (name.front() == ' ' || name.front() == '.')
        return "it starts with a blank or '.'";
    return {};
}

std::string NetworkProblem(std::string_view network)
{
    if (network.empty())
        return "it is empty";
    if (network.size() > kMaxNetworkBytes)
        return "it is longer than 200 bytes";
    if (!IsCleanUtf8(network))
        return "it holds control characters or is not UTF-8";
    return {};
}

std::string PathProblem(std::string_view path)
{
    if (path.empty() || path.front() != '/')
        return "it is no absolute path";
    if (path.size() > kMaxPathBytes)
        return "it is longer than 4096 bytes";
    if (!IsCleanUtf8(path))
        return "it holds control characters or is not UTF-8";
    return {};
}

bool IsModeWord(std::string_view word) { return mode::Parse(word).has_value(); }

std::optional<Answer> ParseAnswer(std::string_view word)
{
    if (word == "ask")
        return Answer::kAsk;
    if (word == "allow")
        return Answer::kAllow;
    if (word == "block")
        return Answer::kBlock;
    return std::nullopt;
}

const char* AnswerWord(Answer answer)
{
    switch (answer) {
    case Answer::kAllow: return "allow";
    case Answer::kBlock: return "block";
    case Answer::kAsk: break;
    }
    return "ask";
}

std::string Serialize(const Profile& profile)
{
    std::string text = "network=" + profile.network + "\n";
    if (profile.blockAll)
        text += std::string("block-all=") + (*profile.blockAll ? "on" : "off") + "\n";
    if (!profile.mode.empty())
        text += "mode=" + profile.mode + "\n";
    if (profile.incoming)
        text += std::string("incoming=") + AnswerWord(*profile.incoming) + "\n";
    if (profile.outgoing)
        text += std::string("outgoing=") + AnswerWord(*profile.outgoing) + "\n";
    for (const ProgramOverride& program : profile.programs)
        text += std::string(program.allow ? "allow=" : "block=")
            + (program.incoming && program.outgoing ? "both" : program.incoming ? "in" : "out") + " " + program.path
            + "\n";
    return text;
}

std::optional<Profile> Parse(std::string_view name, std::string_view text)
{
    if (text.size() >= kMaxValueBytes)
        return std::nullopt;
    Profile profile;
    profile.name = name;
    bool tooMany = false;
    text::ForEachLine(text, [&](std::string_view line) {
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "network" && NetworkProblem(value).empty()) {
            profile.network = value;
        } else if (key == "block-all" && (value == "on" || value == "off")) {
            profile.blockAll = value == "on";
        } else if (key == "mode" && IsModeWord(value)) {
            profile.mode = value;
        } else if (key == "incoming") {
            profile.incoming = ParseAnswer(value);
        } else if (key == "outgoing") {
            profile.outgoing = ParseAnswer(value);
        } else if (key == "allow" || key == "block") {
            if (auto program = ParseOverride(key == "allow", value)) {
                tooMany |= profile.programs.size() >= kMaxOverrides;
                profile.programs.push_back(std::move(*program));
            }
        }
    });
    if (tooMany)
        return std::nullopt;
    return profile;
}

std::vector<Profile> All()
{
    std::vector<Profile> profiles;
    for (const auto& [name, text] : registry::ListValues(kRoot, kProfilesKey))
        if (NameProblem(name).empty())
            if (auto profile = Parse(name, text))
                profiles.push_back(std::move(*profile));
    return profiles;
}

std::optional<Profile> Find(std::string_view name)
{
    if (!NameProblem(name).empty())
        return std::nullopt;
    const auto text = registry::Query(kRoot, kProfilesKey, name);
    if (!text)
        return std::nullopt;
    // The name as the store spells it: two spellings are one profile.
    for (const auto& [stored, value] : registry::ListValues(kRoot, kProfilesKey))
        if (Lower(stored) == Lower(name))
            return Parse(stored, value);
    return Parse(name, *text);
}

bool Save(const Profile& profile)
{
    const std::string text = Serialize(profile);
    if (!NameProblem(profile.name).empty() || text.size() >= kMaxValueBytes || profile.programs.size() > kMaxOverrides)
        return false;
    return registry::SetString(kRoot, kProfilesKey, profile.name, text);
}

bool Remove(std::string_view name) { return registry::DeleteValue(kRoot, kProfilesKey, name); }

std::string ActiveName() { return Setting(kActiveProfile); }

std::optional<Profile> Active()
{
    // One value read, as the engine does at every reload: ActiveProfile
    // holds the name as the store spells it.
    const std::string name = ActiveName();
    if (!NameProblem(name).empty())
        return std::nullopt;
    const auto text = registry::Query(kRoot, kProfilesKey, name);
    return text ? Parse(name, *text) : std::nullopt;
}

bool SetActive(std::string_view name)
{
    return registry::SetString(kRoot, registry::kSettingsKey, kActiveProfile, name);
}

const Profile* ForNetwork(const std::vector<Profile>& profiles, std::string_view id)
{
    for (const Profile& profile : profiles)
        if (!id.empty() && profile.network == id)
            return &profile;
    return nullptr;
}

std::string ChosenName() { return Setting(kProfileChosen); }

bool Choose(std::string_view name) { return registry::SetString(kRoot, registry::kSettingsKey, kProfileChosen, name); }

bool Apply(const Profile* profile)
{
    // The values before any profile: "-" for a value that was missing.
    std::optional<std::string> status, mode;
    const auto saved = registry::Query(kRoot, registry::kSettingsKey, kProfileRestore);
    const auto take = [](std::string_view value) {
        return value == "-" ? std::nullopt : std::optional<std::string>(value);
    };
    bool ok = true;
    if (saved) {
        text::ForEachLine(*saved, [&](std::string_view line) {
            if (line.starts_with("SecurityStatus="))
                status = take(line.substr(15));
            else if (line.starts_with("FirewallMode="))
                mode = take(line.substr(13));
        });
    } else {
        status = registry::Query(kRoot, registry::kSettingsKey, settings::kSecurityStatus);
        mode = registry::Query(kRoot, registry::kSettingsKey, settings::kFirewallMode);
        if (profile)
            ok &= registry::SetString(kRoot, registry::kSettingsKey, kProfileRestore,
                                      "SecurityStatus=" + status.value_or("-") + "\nFirewallMode=" + mode.value_or("-")
                                          + "\n");
    }
    if (profile && profile->blockAll)
        ok &= Put(settings::kSecurityStatus, std::string(*profile->blockAll ? "0" : "1"));
    else if (saved)
        ok &= Put(settings::kSecurityStatus, status);
    if (profile && !profile->mode.empty())
        ok &= Put(settings::kFirewallMode, profile->mode);
    else if (saved)
        ok &= Put(settings::kFirewallMode, mode);
    ok &= SetActive(profile ? profile->name : std::string());
    if (!profile && saved && ok)
        ok &= registry::DeleteValue(kRoot, registry::kSettingsKey, kProfileRestore);
    return ok;
}

}  // namespace protocol::profiles
