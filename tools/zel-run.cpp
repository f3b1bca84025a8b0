// zel-run [--] PROGRAM [ARGS...]: runs a program under the firewall. The hook is
// put first in LD_PRELOAD, so the program and every program it starts have
// their connections decided; the program's exit status is zel-run's.
//
// It stands in front of every program it starts, so it costs no more than
// the preload it sets: a static program of its own (no dynamic loading, no
// C++ runtime) that checks what it must and replaces itself at once.
#include "os/hooksafe/RuntimeFolder.h"
#include "text/hooksafe/QmCatalog.h"
#include "text/hooksafe/Version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <unistd.h>

namespace {

constexpr const char* kHookFileName = "libzelhook.so";

// The hook beside the installation: ZEL_HOOK_LIBRARY, else
// BIN/../ZEL_PKG_DIR/libzelhook.so from where zel-run itself lies.
bool HookLibrary(char* path, size_t size)
{
    if (const char* configured = ::secure_getenv("ZEL_HOOK_LIBRARY"); configured && *configured) {
        const int n = std::snprintf(path, size, "%s", configured);
        return n > 0 && static_cast<size_t>(n) < size;
    }
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[n > 0 ? n : 0] = '\0';
    char* slash = std::strrchr(self, '/');
    if (slash)
        *slash = '\0';
    char relative[PATH_MAX + 64];
    const int written = std::snprintf(relative, sizeof relative, "%s/../" ZEL_PKG_DIR "/%s", self, kHookFileName);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof relative)
        return false;
    char real[PATH_MAX];
    const int copied = std::snprintf(path, size, "%s", ::realpath(relative, real) ? real : relative);
    return copied > 0 && static_cast<size_t>(copied) < size;
}

// zel-run's few words in the user's language. The translation is read only
// when a text is shown: a program started the usual way pays nothing for it.
const char* Tr(const char* context, const char* text)
{
    static text::QmCatalog catalog;
    static bool loaded = false;
    static char translated[2048];
    if (!loaded) {
        loaded = true;
        const char* folder = ::secure_getenv("ZEL_TRANSLATIONS_DIR");
        catalog.LoadForLocale(folder && *folder ? folder : text::QmCatalog::InstalledFolder(), "zel-tools");
    }
    const long length = catalog.Find(context, text, nullptr, -1, translated, sizeof translated);
    return length >= 0 && static_cast<size_t>(length) < sizeof translated ? translated : text;
}

// A line on standard error after "zel-run: ", %1 and %2 in text replaced by first and second.
void Complain(const char* text, const char* first = "", const char* second = "")
{
    std::fputs("zel-run: ", stderr);
    for (const char* c = text; *c; ++c) {
        if (c[0] == '%' && (c[1] == '1' || c[1] == '2'))
            std::fputs(*++c == '1' ? first : second, stderr);
        else
            std::fputc(*c, stderr);
    }
    std::fputc('\n', stderr);
}

// On standard error for a mistake (exit status 2), on standard output when asked for.
int Usage(std::FILE* out)
{
    std::fputs(Tr("zel-run", "usage: zel-run [--] PROGRAM [ARGS...]\n"
                             "Runs PROGRAM with its network connections decided by the firewall. See zel-run(1).\n"),
               out);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Only the first argument can be zel-run's own: everything from PROGRAM
    // on is the program's.
    int program = 1;
    if (argc > 1 && text::IsHelpOption(argv[1]))
        return Usage(stdout);
    if (argc > 1 && text::IsVersionOption(argv[1]))
        return text::PrintVersion("zel-run");
    if (argc > 1 && !std::strcmp(argv[1], "--"))
        program = 2;
    else if (argc > 1 && argv[1][0] == '-')
        return Usage(stderr);
    if (program >= argc)
        return Usage(stderr);
    char hook[PATH_MAX];
    if (!HookLibrary(hook, sizeof hook) || ::access(hook, R_OK) != 0) {
        const char* reason = std::strerror(errno ? errno : ENAMETOOLONG);
        Complain(Tr("zel-run", "the hook library %1 cannot be read: %2"), hook, reason);
        return 127;
    }
    // The program runs all the same, but its connections are refused: say why.
    char folder[PATH_MAX];
    os::RuntimeFolderSource source {};
    if (const auto problem = os::ResolveRuntimeFolder(folder, sizeof folder, &source);
        problem != os::RuntimeFolderProblem::kNone) {
        char text[PATH_MAX + 512];
        os::DescribeRuntimeFolderProblem(problem, source, folder, text, sizeof text);
        std::fprintf(stderr, "zel-run: %s\n", text);
    }
    // In a session whose programs start under the hook already it is named
    // once: two hooks would each decide every connection. The user's other
    // entries stay, after it.
    static char preload[2 * PATH_MAX + 4096];
    size_t used = 0;
    const auto append = [&](const char* text, size_t length) {
        if (used + length + 2 > sizeof preload)
            return false;
        if (used > 0)
            preload[used++] = ':';
        std::memcpy(preload + used, text, length);
        used += length;
        preload[used] = '\0';
        return true;
    };
    bool fits = append(hook, std::strlen(hook));
    const char* existing = std::getenv("LD_PRELOAD");
    for (const char* entry = existing ? existing : ""; fits && *entry;) {
        // The loader separates entries with colons and blanks.
        const size_t length = std::strcspn(entry, ": \t");
        const char* slash = static_cast<const char*>(::memrchr(entry, '/', length));
        const char* fileName = slash ? slash + 1 : entry;
        const size_t nameLength = length - static_cast<size_t>(fileName - entry);
        const bool isHook = nameLength == std::strlen(kHookFileName) && std::memcmp(fileName, kHookFileName, nameLength) == 0;
        if (length > 0 && !isHook)
            fits = append(entry, length);
        entry += length;
        entry += std::strspn(entry, ": \t");
    }
    if (!fits) {
        Complain(Tr("zel-run", "LD_PRELOAD is too long"));
        return 126;
    }
    ::setenv("LD_PRELOAD", preload, 1);
    ::execvp(argv[program], argv + program);
    const int error = errno;
    Complain(Tr("zel-run", "cannot run %1: %2"), argv[program], std::strerror(error));
    return error == ENOENT ? 127 : 126;
}
