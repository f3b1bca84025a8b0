#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The control panel's copy of the rules file. Records are plain objects
// shared by reference: a look-up hands out the record itself, and a caller
// that changes it changes the buffer. Positions of applications, rules and
// ports are 1-based.
namespace panel {

// One port entry of a rule.
struct AppPorts {
    int32_t nPort = 0;
    std::string ALIAS;
    std::vector<std::string> Ips; // remote addresses or ranges as written; none: every address
    std::vector<std::string> Hosts; // host patterns as written (outgoing rules); kept through every save

    // The addresses a person wrote: without the range that covers nothing,
    // which only tells older readers not to permit a port of host names.
    std::vector<std::string> WrittenIps() const;
};


// One rule.
struct AppRules {
    std::string RuleName;
    std::string Permission; // "PERMIT", "ASK" or "DENY"
    std::string Direction;  // "INCOMING" or "OUTGOING"
    std::string State;      // "1" in force, "0" switched off
    int32_t Enable = 0;     // 1: listed in the rule lists; 0: kept out of sight
    std::vector<std::shared_ptr<AppPorts>> PORTS;
};

// One application.
struct XmlStrRules {
    std::string ExeName; // upper case once saved; "ANY" for the general application
    std::string DescriptionFile;
    std::string AppPath;
    std::string InDef;
    std::string OutDef;
    std::string IsService; // "1" for a service
    std::vector<std::shared_ptr<AppRules>> RULES;
};

using AppRecord = std::shared_ptr<XmlStrRules>;
using RuleRecord = std::shared_ptr<AppRules>;
using PortRecord = std::shared_ptr<AppPorts>;

class AppBuffer {
public:
    // Results of the operations that report a status.
    enum Status : int { kDone = 0, kNotFound = 1, kOutOfRange = 2 };

    std::vector<AppRecord> AllRules;

    enum class LoadOutcome {
        kLoaded,      // the file's applications
        kCreated,     // there was none: the default document, written and loaded
        kReplacedBad, // read whole, it did not parse: kept aside, the defaults written and loaded
        kUnreadable,  // not read (or no default could be written): nothing changed
    };
    struct LoadResult {
        LoadOutcome outcome = LoadOutcome::kUnreadable;
        std::string problem; // why it was not loaded as it was, in words
    };
    // Replaces AllRules with the file's applications. A file that is missing
    // or is read whole and does not parse is replaced by the default
    // document, and loaded from it; one that does not parse is kept beside
    // it first, as "<file>.bad" (or "<file>.bad.N" when that is taken; for a
    // link, beside the file it leads to, which the defaults then replace). A
    // file that cannot be read (rules_file::Status) is left alone with
    // AllRules as they were, and saving is refused until a load succeeds.
    LoadResult LoadRules(const std::string& fileToLoad);
    // Why the rules file could not be read at the last load; empty when it was.
    const std::string& ReadProblem() const { return readProblem_; }
    // Loads from text, as LoadRules does from a file; false when it does not parse.
    bool LoadFromText(std::string_view document);

    // Writes the whole buffer: every application but "ANY" in buffer order,
    // then "ANY". The file is replaced at once (a reader sees the old or the
    // new file), keeping its permissions, and a link stays a link; false when
    // it could not be (the old file is then left as it was), when the last
    // load could not read the file, or when the document would be larger
    // than the format's limit.
    bool SaveRulesToXmlFile(const std::string& filePath);
    // The document SaveRulesToXmlFile writes.
    std::string ToText();

    // The first application whose ExeName equals exeName, ignoring letter
    // case, else the first whose DescriptionFile does (the general
    // application first: its description is its own); "ANY" is never found
    // by a description. 0 when there is none.
    int GetItemNoByExeName(std::string_view exeName) const;
    AppRecord GetAppFromBuffer(std::string_view exeName) const;
    void AddRuleToBuffer(AppRecord currApp);

    // ruleNo 0: removes the application; portNo 0: removes the rule;
    // otherwise removes the port of the rule.
    Status DeleteAppFromBuffer(std::string_view exeName, int ruleNo, int portNo);
    Status RemoveRuleFromApp(std::string_view exeName, int ruleNo);
    RuleRecord ReturnRuleFromApp(std::string_view exeName, int ruleNo) const;
    Status AddNewRuleToApp(std::string_view exeName, std::string_view direction, std::string_view permission);
    Status AddPortToRule(std::string_view exeName, int ruleNo, PortRecord portToAdd);
    Status RemovePortFromRule(std::string_view exeName, int ruleNo, int portNo);
    PortRecord ReturnPortFromApp(std::string_view exeName, int ruleNo, int portNo) const;
    // Swaps two rules of the application; afterwards every rule of it is a new record.
    void ReplaceRules(std::string_view exeName, int firstRule, int secondRule);

    // A new application with the same fields whose rule list holds the same
    // rule records.
    static AppRecord CopyApp(const XmlStrRules& appToCopy);
    // A new rule with new port records.
    static RuleRecord CopyRule(const AppRules& ruleToCopy);

    // The found application's DescriptionFile when exeName is its ExeName
    // exactly, else its ExeName; empty when none is found.
    std::string GetDesc_ExeName(std::string_view exeName) const;
    // The found application's ExeName (a description turned into a name).
    std::string GetExeName(std::string_view exeDescName) const;
    int32_t GetIsService(std::string_view exeName) const;
    std::string GetExeFileName(std::string_view exeName) const;
    std::string GetExeInDef(std::string_view exeName) const;
    std::string GetExeOutDef(std::string_view exeName) const;
    void SetInDef(std::string_view exeName, std::string_view value);
    void SetOutDef(std::string_view exeName, std::string_view value);

private:
    RuleRecord RuleAt(const XmlStrRules& app, int ruleNo, const char* label) const;

    std::string readProblem_;
};

// The description a program's entry gets: never one the system settings are
// known by ("ANY", "SYSTEM SETTINGS", in any case) or none, so that a look-up
// by description cannot take one for the other; the program's name stands
// for it then.
std::string ProgramDescription(std::string_view description, std::string_view exeName);

}  // namespace panel
