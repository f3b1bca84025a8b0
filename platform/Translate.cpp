#include "platform/Translate.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace platform {

namespace {

std::atomic<Translator> g_translator {nullptr};

}  // namespace

void SetTranslator(Translator translator) { g_translator.store(translator, std::memory_order_release); }

std::string WithCount(std::string text, int n)
{
    if (n < 0)
        return text;
    const std::string number = std::to_string(n);
    for (size_t at = text.find("%n"); at != std::string::npos; at = text.find("%n", at + number.size()))
        text.replace(at, 2, number);
    return text;
}

std::string Tr(const char* context, const char* text, const char* disambiguation, int n)
{
    if (Translator translator = g_translator.load(std::memory_order_acquire))
        return translator(context, text, disambiguation, n);
    return WithCount(text, n);
}

std::vector<std::string> MessageLanguages()
{
    const auto value = [](const char* name) -> std::string_view {
        const char* text = std::getenv(name);
        return text ? text : "";
    };
    std::string_view locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (!(locale = value(name)).empty())
            break;
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C."))
        return {};
    std::vector<std::string> languages;
    const auto add = [&languages](std::string_view entry) {
        // "de_AT.UTF-8@euro": the code set and the modifier do not choose a language.
        entry = entry.substr(0, entry.find_first_of(".@"));
        if (entry.empty() || entry == "C" || entry == "POSIX")
            return;
        for (std::string_view each : {entry, entry.substr(0, entry.find('_'))})
            if (std::find(languages.begin(), languages.end(), each) == languages.end())
                languages.emplace_back(each);
    };
    std::string_view list = value("LANGUAGE");
    while (!list.empty()) {
        const size_t colon = list.find(':');
        add(list.substr(0, colon));
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    // LANGUAGE, when it names any, stands instead of the locale.
    if (languages.empty())
        add(locale);
    return languages;
}

std::string Arg(std::string_view text, std::initializer_list<std::string_view> args)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const size_t index = next >= '1' && next <= '9' ? size_t(next - '1') : args.size();
        if (text[i] == '%' && index < args.size()) {
            result += args.begin()[index];
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

}  // namespace platform
