#include "text/Translate.h"

#include "text/hooksafe/QmCatalog.h"

#include <algorithm>
#include <atomic>

namespace text {

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
    std::vector<std::string> languages;
    ForEachMessageLanguage(
        [](const char* language, void* context) {
            auto& found = *static_cast<std::vector<std::string>*>(context);
            if (std::find(found.begin(), found.end(), language) == found.end())
                found.emplace_back(language);
            return false;
        },
        &languages);
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

}  // namespace text
