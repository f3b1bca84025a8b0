#include "rules/hooksafe/ScriptArguments.h"

#include <cstring>

namespace rules {

namespace {

enum class Language { kNone, kPython, kPerl, kRuby, kNode, kJava, kShell };

bool Equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

bool IsOneOf(const char* text, const char* const* list)
{
    for (; *list; ++list)
        if (Equal(text, *list))
            return true;
    return false;
}

// name is stem followed by nothing or by a version such as "3.11".
bool IsVersioned(const char* name, const char* stem)
{
    const size_t length = std::strlen(stem);
    if (std::strncmp(name, stem, length) != 0)
        return false;
    const char* version = name + length;
    if (*version == '.')
        return false;
    for (; *version; ++version)
        if (!(*version >= '0' && *version <= '9') && *version != '.')
            return false;
    return true;
}

Language LanguageOf(const char* exePath)
{
    const char* slash = std::strrchr(exePath, '/');
    const char* name = slash ? slash + 1 : exePath;
    static const char* const kShells[] = {"sh", "bash", "dash", "zsh", nullptr};
    if (IsVersioned(name, "python"))
        return Language::kPython;
    if (IsVersioned(name, "perl"))
        return Language::kPerl;
    if (IsVersioned(name, "ruby"))
        return Language::kRuby;
    if (Equal(name, "node") || Equal(name, "nodejs"))
        return Language::kNode;
    if (Equal(name, "java"))
        return Language::kJava;
    if (IsOneOf(name, kShells))
        return Language::kShell;
    return Language::kNone;
}

constexpr ScriptArgument kNothing {};

ScriptArgument File(const char* path) { return {ScriptKind::kFile, path}; }

// The argument after "--": a file, unless it is "-" (standard input) or missing.
ScriptArgument AfterEnd(const char* const* argv, size_t argc, size_t i)
{
    return i < argc && !Equal(argv[i], "-") ? File(argv[i]) : kNothing;
}

// The value of an option: what follows its letter in the same argument, or
// the next argument (i moves past it). Null when there is none.
const char* Value(const char* rest, const char* const* argv, size_t argc, size_t& i)
{
    if (*rest)
        return rest;
    if (i + 1 >= argc)
        return nullptr;
    return argv[++i];
}

// A long option "--name" or "--name=value" that is one of names.
bool IsLong(const char* arg, const char* const* names, bool& withValue)
{
    const char* equals = std::strchr(arg, '=');
    const size_t length = equals ? static_cast<size_t>(equals - arg) : std::strlen(arg);
    for (; *names; ++names)
        if (std::strlen(*names) == length && std::strncmp(arg, *names, length) == 0) {
            withValue = equals != nullptr;
            return true;
        }
    return false;
}

// python [-bBdEhiIOPqRsSuvVx] [-W arg] [-X opt] [-c cmd | -m mod | file | -] [args]
ScriptArgument Python(const char* const* argv, size_t argc)
{
    static const char* const kValued[] = {"--check-hash-based-pycs", nullptr};
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-')
            return File(arg);
        if (Equal(arg, "-"))
            return kNothing;
        if (Equal(arg, "--"))
            return AfterEnd(argv, argc, i + 1);
        if (arg[1] == '-') {
            bool withValue = false;
            if (!IsLong(arg, kValued, withValue))
                return kNothing; // --help, --version and the unknown: nothing runs
            if (!withValue && ++i >= argc)
                return kNothing;
            continue;
        }
        for (const char* letter = arg + 1; *letter; ++letter) {
            if (std::strchr("bBdEiIOPqRsSuvx", *letter))
                continue;
            if (*letter == 'm') {
                const char* module = Value(letter + 1, argv, argc, i);
                return module ? ScriptArgument {ScriptKind::kModule, module} : kNothing;
            }
            if (*letter == 'W' || *letter == 'X') {
                if (!Value(letter + 1, argv, argc, i))
                    return kNothing;
                break;
            }
            return kNothing; // -c, -h, -V and the unknown
        }
    }
    return kNothing;
}

// perl [switches] [--] [programfile] [args]; switches cluster ("-lane").
ScriptArgument Perl(const char* const* argv, size_t argc)
{
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-')
            return File(arg);
        if (Equal(arg, "-"))
            return kNothing;
        if (Equal(arg, "--"))
            return AfterEnd(argv, argc, i + 1);
        for (const char* letter = arg + 1; *letter; ++letter) {
            if (std::strchr("acnpstTuUwWX", *letter))
                continue;
            if (*letter == '0' || *letter == 'l') { // octal digits may follow, or for -0 "x" and hex ones
                const bool hex = *letter == '0' && letter[1] == 'x';
                if (hex)
                    ++letter;
                const char* digits = hex ? "0123456789abcdefABCDEF" : "01234567";
                while (letter[1] && std::strchr(digits, letter[1]))
                    ++letter;
                continue;
            }
            if (*letter == 'I') {
                if (!Value(letter + 1, argv, argc, i))
                    return kNothing;
                break;
            }
            if (*letter == 'M' || *letter == 'm') { // the module only attached
                if (!letter[1])
                    return kNothing;
                break;
            }
            if (std::strchr("CdDFix", *letter)) // an optional value: the rest of the argument
                break;
            return kNothing; // -e, -E, -h, -v, -V, -S (a search of PATH) and the unknown
        }
    }
    return kNothing;
}

// ruby [switches] [--] [programfile] [args]
ScriptArgument Ruby(const char* const* argv, size_t argc)
{
    static const char* const kValued[] = {"--enable",  "--disable",         "--encoding",        "--external-encoding",
                                          "--internal-encoding", "--dump",  "--backtrace-limit", "--crash-report",
                                          "--parser",  nullptr};
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-')
            return File(arg);
        if (Equal(arg, "-"))
            return kNothing;
        if (Equal(arg, "--"))
            return AfterEnd(argv, argc, i + 1);
        if (arg[1] == '-') {
            bool withValue = false;
            if (IsLong(arg, kValued, withValue)) {
                if (!withValue && ++i >= argc)
                    return kNothing;
                continue;
            }
            if (Equal(arg, "--verbose") || !std::strncmp(arg, "--enable-", 9) || !std::strncmp(arg, "--disable-", 10)
                || !std::strncmp(arg, "--yjit", 6) || !std::strncmp(arg, "--jit", 5) || !std::strncmp(arg, "--rjit", 6))
                continue;
            return kNothing; // --help, --version, --copyright and the unknown
        }
        for (const char* letter = arg + 1; *letter; ++letter) {
            if (std::strchr("acdlnpsUvwy", *letter))
                continue;
            if (*letter == '0') {
                while (letter[1] >= '0' && letter[1] <= '7')
                    ++letter;
                continue;
            }
            if (*letter == 'I' || *letter == 'r' || *letter == 'E') {
                if (!Value(letter + 1, argv, argc, i))
                    return kNothing;
                break;
            }
            if (std::strchr("FiKTW", *letter)) // an optional value: the rest of the argument
                break;
            return kNothing; // -e, -h, -C and -x (another folder), -S (a search of PATH), the unknown
        }
    }
    return kNothing;
}

// node [options] [script.js | -e "code" | -] [arguments]
ScriptArgument Node(const char* const* argv, size_t argc)
{
    static const char* const kValued[] = {
        "--require",           "--import",           "--loader",         "--experimental-loader",
        "--conditions",        "--inspect-port",     "--debug-port",     "--title",
        "--input-type",        "--env-file",         "--icu-data-dir",   "--openssl-config",
        "--redirect-warnings", "--tls-cipher-list",  "--unhandled-rejections", "--experimental-policy",
        "--policy-integrity",  "--disable-warning",  "--diagnostic-dir", "--report-dir",
        "--report-directory",  "--report-filename",  "--report-signal",  "--heapsnapshot-signal",
        "--secure-heap",       "--secure-heap-min",  "--dns-result-order", "--max-http-header-size",
        "--stack-size",        "--stack-trace-limit", "--max-old-space-size", "--max-semi-space-size",
        nullptr};
    static const char* const kNoScript[] = {"--eval", "--print", "--version", "--help", "--v8-options",
                                            "--run", "--interactive", nullptr};
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-')
            return File(arg);
        if (Equal(arg, "-"))
            return kNothing;
        if (Equal(arg, "--"))
            return AfterEnd(argv, argc, i + 1);
        if (arg[1] == '-') {
            bool withValue = false;
            if (IsLong(arg, kNoScript, withValue))
                return kNothing;
            if (IsLong(arg, kValued, withValue) && !withValue && ++i >= argc)
                return kNothing;
            continue; // the other long options are switches, or carry "=value"
        }
        if (Equal(arg, "-r") || Equal(arg, "-C")) {
            if (++i >= argc)
                return kNothing;
            continue;
        }
        if (Equal(arg, "-c")) // --check
            continue;
        return kNothing; // -e, -p, -pe, -i, -v, -h and the unknown
    }
    return kNothing;
}

// java [options] MainClass | -jar file.jar | -m module[/class] | Source.java [args]
ScriptArgument Java(const char* const* argv, size_t argc)
{
    static const char* const kValued[] = {"-cp", "-classpath", "--class-path", "-p", "--module-path",
                                          "--upgrade-module-path", "--add-modules", "--limit-modules",
                                          "--add-reads", "--add-exports", "--add-opens", "--patch-module",
                                          "--enable-native-access", "--source", nullptr};
    static const char* const kNoProgram[] = {"-version", "--version", "-help", "--help", "-?", "-h",
                                             "--dry-run", "--list-modules", "-d", "--describe-module",
                                             "-X", "--help-extra", "--full-version", "-fullversion", nullptr};
    bool source = false; // --source: the program is a source file, whatever its name
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '@')
            return kNothing; // arguments read from a file
        if (arg[0] != '-') {
            const size_t length = std::strlen(arg);
            if (source || (length > 5 && Equal(arg + length - 5, ".java")))
                return File(arg);
            return {ScriptKind::kMainClass, arg};
        }
        if (Equal(arg, "-jar"))
            return i + 1 < argc ? File(argv[i + 1]) : kNothing;
        if (Equal(arg, "-m") || Equal(arg, "--module"))
            return i + 1 < argc ? ScriptArgument {ScriptKind::kModule, argv[i + 1]} : kNothing;
        if (!std::strncmp(arg, "--module=", 9))
            return {ScriptKind::kModule, arg + 9};
        if (IsOneOf(arg, kNoProgram))
            return kNothing;
        if (!std::strncmp(arg, "--source", 8))
            source = true;
        bool withValue = false;
        if (IsLong(arg, kValued, withValue) && !withValue && ++i >= argc)
            return kNothing;
        // -D..., -X..., -ea, -verbose:..., -javaagent:... and the like stand alone.
    }
    return kNothing;
}

// sh [-abCefhimnuvx] [-o option] [+...] [-c string | -s | file] [args]
ScriptArgument Shell(const char* const* argv, size_t argc)
{
    static const char* const kValued[] = {"--rcfile", "--init-file", "--emulate", nullptr};
    static const char* const kNoScript[] = {"--help", "--version", nullptr};
    for (size_t i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' && arg[0] != '+')
            return File(arg);
        if (Equal(arg, "-") || Equal(arg, "--"))
            return i + 1 < argc ? File(argv[i + 1]) : kNothing;
        if (arg[0] == '-' && arg[1] == '-') {
            bool withValue = false;
            if (IsLong(arg, kNoScript, withValue))
                return kNothing;
            if (IsLong(arg, kValued, withValue) && !withValue && ++i >= argc)
                return kNothing;
            continue;
        }
        for (const char* letter = arg + 1; *letter; ++letter) {
            if (*letter == 'c' || *letter == 's')
                return kNothing; // code from the command line or standard input
            if (*letter == 'o' || *letter == 'O') { // each takes the next argument
                if (++i >= argc)
                    return kNothing;
                continue;
            }
            if (!((*letter >= 'a' && *letter <= 'z') || (*letter >= 'A' && *letter <= 'Z')))
                return kNothing;
        }
    }
    return kNothing;
}

}  // namespace

ScriptArgument FindScriptArgument(const char* exePath, const char* const* argv, size_t argc)
{
    if (!exePath || !argv)
        return kNothing;
    for (size_t i = 0; i < argc; ++i)
        if (!argv[i])
            return kNothing;
    ScriptArgument found;
    switch (LanguageOf(exePath)) {
    case Language::kPython:
        found = Python(argv, argc);
        break;
    case Language::kPerl:
        found = Perl(argv, argc);
        break;
    case Language::kRuby:
        found = Ruby(argv, argc);
        break;
    case Language::kNode:
        found = Node(argv, argc);
        break;
    case Language::kJava:
        found = Java(argv, argc);
        break;
    case Language::kShell:
        found = Shell(argv, argc);
        break;
    case Language::kNone:
        break;
    }
    // An empty name (python3 -m "", java "") names nothing.
    return found.text && *found.text ? found : kNothing;
}

}  // namespace rules
