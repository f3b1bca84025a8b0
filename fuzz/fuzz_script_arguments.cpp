// Any command line under each interpreter: never a read past an argument,
// and a script named only by a pointer into one of the arguments.
#include "rules/hooksafe/ScriptArguments.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kInterpreters[] = {"/usr/bin/python3.11", "/usr/bin/perl", "/usr/bin/ruby3.1",
                                                "/usr/bin/node", "/usr/bin/java", "/usr/bin/bash", "/usr/bin/curl"};
    if (size == 0)
        return 0;
    const char* exe = kInterpreters[data[0] % (sizeof kInterpreters / sizeof kInterpreters[0])];
    // Each argument a copy of exactly its size, so that the sanitizer sees any overread.
    std::vector<std::unique_ptr<char[]>> copies;
    std::vector<size_t> lengths;
    for (size_t start = 1; start <= size;) {
        const void* nul = std::memchr(data + start, '\0', size - start);
        const size_t end = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
        copies.emplace_back(new char[end - start + 1]);
        std::memcpy(copies.back().get(), data + start, end - start);
        copies.back()[end - start] = '\0';
        lengths.push_back(end - start);
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& copy : copies)
        argv.push_back(copy.get());
    const rules::ScriptArgument found = rules::FindScriptArgument(exe, argv.data(), argv.size());
    if ((found.kind == rules::ScriptKind::kNone) != (found.text == nullptr))
        std::abort();
    if (found.text) {
        bool inside = false;
        for (size_t i = 1; i < argv.size(); ++i)
            inside = inside || (found.text >= argv[i] && found.text < argv[i] + lengths[i] + 1);
        if (!inside || !*found.text)
            std::abort();
    }
    return 0;
}
