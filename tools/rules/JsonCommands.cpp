// The commands that carry the rules whole as JSON (RulesJson): export and
// import, the document replaced in one change.
#include "tools/rules/Commands.h"

#include "os/Files.h"
#include "rules/RulesFormat.h"
#include "text/Translate.h"
#include "tools/rules/LoadedRules.h"
#include "tools/rules/RulesJson.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <iterator>

namespace tools::zel_rules {

using text::Arg;
using text::Tr;

int Export(const Call& call)
{
    if (!call.args.empty())
        return Usage();
    LoadedRules rules;
    if (const int status = Load(call.target, rules))
        return status;
    std::fputs(rules_json::Export(rules.core.Rules().Document()).c_str(), stdout);
    return FinishOutput();
}

int Import(const Call& call)
{
    if (call.args.size() > 1)
        return Usage();
    const std::string file = call.args.empty() ? std::string() : call.args[0];
    std::string text;
    if (file.empty() || file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        const auto read = os::ReadFile(file, rules::rules_format::kMaxRulesFileBytes * 4);
        if (!read) {
            const std::string reason = std::strerror(errno ? errno : EIO);
            return Fail(kFailed, Arg(Tr("zel-rules", "cannot read %1: %2"), {file, reason}));
        }
        text = *read;
    }
    std::string problem;
    std::optional<rules::Document> document = rules_json::Import(text, problem, std::time(nullptr));
    if (!document)
        return Fail(kMisused, (file.empty() ? Tr("zel-rules", "standard input") : file) + ": " + problem);
    // Into the services' rules, every entry is a service's.
    if (call.target.services)
        for (rules::Application& app : document->applications)
            app.service = true;
    return Change(
        call.target,
        [&](LoadedRules& rules) {
            rules.core.Rules().Document() = *document;
            return 0;
        },
        true);
}

}  // namespace tools::zel_rules
