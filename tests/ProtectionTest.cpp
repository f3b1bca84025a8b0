// The Protection view's reading of the process table: which of the user's
// programs with network sockets the firewall decides, and why the others
// escape it. A process table of the test's own for every reason, and the
// real one with real programs.
#include "os/Files.h"
#include "session/ProgramCoverage.h"
#include "tests/ChildProcess.h"
#include "tests/Sandbox.h"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace session::coverage;
using testing_support::ChildProcess;
using testing_support::Sandbox;
using testing_support::WriteText;

namespace {

// An ELF file laid out by hand: a header, one program header (the program
// interpreter's, or a plain load), and section headers with their names.
template <class Header, class ProgramHeader, class SectionHeader>
std::string ElfImage(unsigned char elfClass, bool interpreter, const std::vector<std::string>& sections)
{
    std::string names(1, '\0');
    std::vector<uint32_t> offsets;
    for (const std::string& name : sections) {
        offsets.push_back(static_cast<uint32_t>(names.size()));
        names += name + '\0';
    }
    const uint32_t namesName = static_cast<uint32_t>(names.size());
    names += std::string(".shstrtab") + '\0';

    Header header {};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = elfClass;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_EXEC;
    header.e_machine = elfClass == ELFCLASS64 ? EM_X86_64 : EM_386;
    header.e_version = EV_CURRENT;
    header.e_ehsize = sizeof(Header);
    header.e_phoff = sizeof(Header);
    header.e_phentsize = sizeof(ProgramHeader);
    header.e_phnum = 1;
    const size_t namesAt = sizeof(Header) + sizeof(ProgramHeader);
    header.e_shoff = namesAt + names.size();
    header.e_shentsize = sizeof(SectionHeader);
    header.e_shnum = static_cast<uint16_t>(sections.size() + 2);
    header.e_shstrndx = static_cast<uint16_t>(sections.size() + 1);

    ProgramHeader program {};
    program.p_type = interpreter ? PT_INTERP : PT_LOAD;
    std::vector<SectionHeader> table(sections.size() + 2);
    for (size_t i = 0; i < sections.size(); ++i) {
        table[i + 1].sh_name = offsets[i];
        table[i + 1].sh_type = SHT_PROGBITS;
    }
    SectionHeader& strings = table.back();
    strings.sh_name = namesName;
    strings.sh_type = SHT_STRTAB;
    strings.sh_offset = namesAt;
    strings.sh_size = names.size();

    std::string image(reinterpret_cast<const char*>(&header), sizeof header);
    image.append(reinterpret_cast<const char*>(&program), sizeof program);
    image += names;
    image.append(reinterpret_cast<const char*>(table.data()), table.size() * sizeof(SectionHeader));
    return image;
}

std::string Elf64(bool interpreter, const std::vector<std::string>& sections = {})
{
    return ElfImage<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(ELFCLASS64, interpreter, sections);
}

ExecutableKind KindOfImage(const std::string& path, const std::string& image)
{
    WriteText(path, image);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ExecutableKind kind = ReadExecutableKind(fd);
    ::close(fd);
    return kind;
}

// A process table laid out as /proc is, for the parts the scan reads.
class FakeProc {
public:
    explicit FakeProc(std::string root) : root_(std::move(root)) { os::MakeDirectories(root_ + "/net"); }
    const std::string& Root() const { return root_; }

    struct Entry {
        int pid = 0;
        int parent = 1;
        std::string ids = "1000 1000 1000 1000"; // real, effective, saved, file system
        std::string exe = {};
        std::vector<int> descriptors = {}; // socket inodes
        bool hiddenDescriptors = false;
        std::string maps = {};
        std::string environment = {}; // NUL-separated
        std::string cgroup = "0::/user.slice/user-1000.slice/session-2.scope\n";
        bool secure = false;
    };
    void Add(const Entry& entry) const
    {
        const std::string folder = root_ + "/" + std::to_string(entry.pid);
        os::MakeDirectories(folder);
        const std::string gid = entry.ids.substr(0, entry.ids.find(' '));
        WriteText(folder + "/status", "Name:\tprog" + std::to_string(entry.pid) + "\nPPid:\t" + std::to_string(entry.parent)
                                          + "\nUid:\t" + entry.ids + "\nGid:\t" + gid + " " + gid + " " + gid + " " + gid
                                          + "\nCapPrm:\t0000000000000000\n");
        if (!entry.exe.empty())
            ::symlink(entry.exe.c_str(), (folder + "/exe").c_str());
        if (entry.hiddenDescriptors) {
            WriteText(folder + "/fd", ""); // not a folder: cannot be listed
        } else {
            os::MakeDirectories(folder + "/fd");
            ::symlink("/dev/null", (folder + "/fd/0").c_str());
            int fd = 3;
            for (const int inode : entry.descriptors)
                ::symlink(("socket:[" + std::to_string(inode) + "]").c_str(), (folder + "/fd/" + std::to_string(fd++)).c_str());
        }
        WriteText(folder + "/cgroup", entry.cgroup);
        // What keeps the descriptors from the user keeps these too.
        if (entry.hiddenDescriptors)
            return;
        WriteText(folder + "/maps", entry.maps);
        WriteText(folder + "/environ", entry.environment);
        const unsigned long auxv[] = {AT_PAGESZ, 4096, AT_SECURE, entry.secure ? 1ul : 0ul, AT_NULL, 0};
        WriteText(folder + "/auxv", std::string(reinterpret_cast<const char*>(auxv), sizeof auxv));
    }
    // A socket of the internet tables, made under uid.
    void Socket(const char* table, int inode, int uid) const
    {
        Append(table, "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n",
               "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  " + std::to_string(uid)
                   + "        0 " + std::to_string(inode) + " 1 0000000000000000 100 0 0 10 0\n");
    }
    // A local socket, and one of the kernel's own.
    void LocalSocket(int inode) const
    {
        Append("unix", "Num       RefCount Protocol Flags    Type St Inode Path\n",
               "0000000000000000: 00000002 00000000 00010000 0001 01 " + std::to_string(inode) + " /run/user/1000/bus\n");
    }
    void KernelSocket(int inode) const
    {
        Append("netlink", "sk               Eth Pid        Groups   Rmem     Wmem     Dump  Locks    Drops    Inode\n",
               "0000000000000000 0   1234       00000000 0        0        0     2        0        " + std::to_string(inode) + "\n");
    }

private:
    void Append(const char* table, const std::string& heading, const std::string& line) const
    {
        const std::string path = root_ + "/net/" + table;
        const std::string text = testing_support::ReadText(path);
        WriteText(path, (text.empty() ? heading : text) + line);
    }

    std::string root_;
};

const Program* Find(const std::vector<Program>& programs, pid_t pid)
{
    for (const Program& program : programs)
        if (program.pid == pid)
            return &program;
    return nullptr;
}

}  // namespace

TEST(ExecutableKinds, StaticGoAndOtherWordSizesAreToldApart)
{
    Sandbox sandbox;
    const std::string path = sandbox.root + "/image";
    const struct {
        const char* what;
        std::string image;
        ExecutableKind kind;
    } cases[] = {
        {"dynamic", Elf64(true, {".text", ".dynamic"}), {true, false, false, false}},
        {"static", Elf64(false, {".text"}), {true, true, false, false}},
        {"go", Elf64(true, {".text", ".go.buildinfo"}), {true, false, true, false}},
        {"go build id", Elf64(false, {".note.go.buildid"}), {true, true, true, false}},
        {"32-bit", ElfImage<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(ELFCLASS32, true, {".text"}), {true, false, false, true}},
        {"no sections", Elf64(true).substr(0, sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr)), {true, false, false, false}},
        {"script", "#!/bin/sh\necho\n", {false, false, false, false}},
        {"cut short", Elf64(true).substr(0, 10), {false, false, false, false}},
    };
    for (const auto& c : cases) {
        const ExecutableKind kind = KindOfImage(path, c.image);
        EXPECT_EQ(kind.readable, c.kind.readable) << c.what;
        EXPECT_EQ(kind.isStatic, c.kind.isStatic) << c.what;
        EXPECT_EQ(kind.isGo, c.kind.isGo) << c.what;
        EXPECT_EQ(kind.foreignClass, c.kind.foreignClass) << c.what;
    }
}

TEST(ProgramCoverage, EveryReasonIsToldFromTheProcessTable)
{
    Sandbox sandbox;
    FakeProc proc(sandbox.root + "/proc");
    const std::string dynamic = sandbox.root + "/dynamic", isStatic = sandbox.root + "/static", go = sandbox.root + "/go",
                      narrow = sandbox.root + "/narrow";
    WriteText(dynamic, Elf64(true, {".text"}));
    WriteText(isStatic, Elf64(false, {".text"}));
    WriteText(go, Elf64(true, {".go.buildinfo"}));
    WriteText(narrow, ElfImage<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(ELFCLASS32, true, {".text"}));
    const std::string hookMap = "7f0000000000-7f0000001000 r-xp 00000000 08:01 42 /opt/k/lib/korvel/libzelhook.so\n";
    const std::string hookEnv = std::string("HOME=/h\0LD_PRELOAD=/opt/k/lib/korvel/libzelhook.so\0", 51);
    int inode = 5000;
    const auto socket = [&](int uid = 1000) {
        proc.Socket(inode % 2 ? "tcp" : "udp6", inode, uid);
        return inode++;
    };

    proc.Add({.pid = 100, .exe = dynamic, .descriptors = {socket()}});
    proc.Add({.pid = 101, .exe = dynamic, .descriptors = {socket(), socket()}, .maps = hookMap});
    proc.Add({.pid = 102, .exe = dynamic, .descriptors = {socket()}, .environment = std::string("HOME=/h\0", 8)});
    proc.Add({.pid = 103, .exe = dynamic, .descriptors = {socket()}, .environment = hookEnv});
    proc.Add({.pid = 104, .exe = isStatic, .descriptors = {socket()}});
    proc.Add({.pid = 105, .exe = go, .descriptors = {socket()}, .maps = hookMap, .environment = hookEnv});
    proc.Add({.pid = 106, .exe = narrow, .descriptors = {socket()}, .environment = hookEnv});
    proc.Add({.pid = 107, .ids = "1000 0 0 0", .exe = dynamic, .descriptors = {socket()}, .secure = true});
    proc.Add({.pid = 108, .exe = dynamic, .descriptors = {socket()},
              .cgroup = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-flatpak-org.example.App-9.scope\n"});
    proc.Add({.pid = 109, .parent = 102, .ids = "1001 1001 1001 1001", .exe = dynamic, .descriptors = {socket(1001)}});
    // Not listed: no network socket (a local one and one of the kernel's),
    // another user's program the user did not start, a program of the
    // user's whose descriptors cannot be seen for no plain reason.
    proc.LocalSocket(998);
    proc.KernelSocket(999);
    proc.Add({.pid = 110, .exe = dynamic, .descriptors = {998, 999}});
    proc.Add({.pid = 111, .parent = 1, .ids = "1001 1001 1001 1001", .exe = dynamic, .descriptors = {socket(1001)}});
    proc.Add({.pid = 112, .exe = dynamic, .hiddenDescriptors = true});
    // Listed without seeing their sockets: a set-user-ID program of the
    // user's, another user's program started by the user while that user
    // holds sockets; not one of a user without any.
    socket(1002);
    proc.Add({.pid = 113, .parent = 102, .ids = "1002 1002 1002 1002", .exe = dynamic, .hiddenDescriptors = true});
    proc.Add({.pid = 114, .parent = 102, .ids = "1003 1003 1003 1003", .exe = dynamic, .hiddenDescriptors = true});
    proc.Add({.pid = 115, .ids = "1000 0 0 0", .exe = dynamic, .hiddenDescriptors = true});
    proc.Add({.pid = 116, .exe = dynamic, .descriptors = {socket()}, .maps = hookMap});

    Scanner scanner;
    ScanSettings settings {.procRoot = proc.Root(), .uid = 1000, .registered = {100}, .backstop = false, .self = 116};
    const std::vector<Program> programs = scanner.Scan(settings);
    const struct {
        pid_t pid;
        State state;
        Reason reason;
        int sockets;
    } expected[] = {
        {100, State::kFirewall, Reason::kNone, 1},
        {101, State::kFirewall, Reason::kNone, 2},
        {102, State::kNotCovered, Reason::kStartedWithout, 1},
        {103, State::kNotCovered, Reason::kHookNotLoaded, 1},
        {104, State::kNotCovered, Reason::kStatic, 1},
        {105, State::kNotCovered, Reason::kOwnSystemCalls, 1},
        {106, State::kNotCovered, Reason::kForeignArchitecture, 1},
        {107, State::kNotCovered, Reason::kSecureExecution, 1},
        {108, State::kNotCovered, Reason::kSandboxed, 1},
        {109, State::kNotCovered, Reason::kOtherUser, 1},
        {113, State::kNotCovered, Reason::kOtherUser, -1},
        {115, State::kNotCovered, Reason::kSecureExecution, -1},
    };
    ASSERT_EQ(programs.size(), std::size(expected));
    for (size_t i = 0; i < programs.size(); ++i) {
        SCOPED_TRACE(expected[i].pid);
        EXPECT_EQ(programs[i].pid, expected[i].pid) << "in process order";
        EXPECT_EQ(programs[i].state, expected[i].state);
        EXPECT_EQ(programs[i].reason, expected[i].reason);
        EXPECT_EQ(programs[i].sockets, expected[i].sockets);
    }
    EXPECT_TRUE(Find(programs, 100)->registered);
    EXPECT_FALSE(Find(programs, 101)->registered);
    EXPECT_EQ(Find(programs, 109)->uid, 1001u);
    EXPECT_EQ(Find(programs, 102)->exePath, dynamic);
    EXPECT_EQ(Find(programs, 102)->command, "prog102");
    EXPECT_TRUE(Find(programs, 102)->CanRestartUnderHook());
    EXPECT_TRUE(Find(programs, 103)->CanRestartUnderHook());
    for (const pid_t pid : {100, 104, 105, 107, 109})
        EXPECT_FALSE(Find(programs, pid)->CanRestartUnderHook()) << pid;

    // With the backstop, what the hook misses of the user's is the kernel's.
    settings.backstop = true;
    for (const Program& program : scanner.Scan(settings)) {
        const State wanted = program.reason == Reason::kNone ? State::kFirewall
            : program.reason == Reason::kOtherUser          ? State::kNotCovered
                                                            : State::kBackstop;
        EXPECT_EQ(program.state, wanted) << program.pid;
    }
}

TEST(ProgramCoverage, LaunchIsReadFromTheProcess)
{
    Sandbox sandbox;
    const std::string folder = sandbox.root + "/proc/77";
    os::MakeDirectories(folder);
    WriteText(folder + "/cmdline", std::string("/usr/bin/prog\0--flag\0two words\0", 31));
    WriteText(folder + "/environ", std::string("HOME=/h\0DISPLAY=:1\0", 19));
    ::symlink("/work/folder", (folder + "/cwd").c_str());
    const Launch launch = LaunchOf(sandbox.root + "/proc", 77);
    EXPECT_EQ(launch.arguments, (std::vector<std::string> {"/usr/bin/prog", "--flag", "two words"}));
    EXPECT_EQ(launch.environment, (std::vector<std::string> {"HOME=/h", "DISPLAY=:1"}));
    EXPECT_EQ(launch.folder, "/work/folder");
    EXPECT_TRUE(LaunchOf(sandbox.root + "/proc", 78).arguments.empty()) << "a process that is gone";
}

// The real process table: a program under the hook, a statically linked one
// (or, without a static C library, one marked as Go), one started without
// the hook as before protection, and a set-user-ID one, each with its reason.
TEST(ProgramCoverage, RealProgramsAreNamedWithTheirReasons)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a set-user-ID copy of another user is made as root";
    Sandbox sandbox;
    const std::string hook = HOOK_LIBRARY;
    const auto server = [](const std::string& program, const std::map<std::string, std::string>& env) {
        auto child = std::make_unique<ChildProcess>(std::vector<std::string> {program, "tcp-server", "127.0.0.1", "0"}, env);
        EXPECT_EQ(child->ReadLine(), std::optional<std::string>("listening")) << program;
        return child;
    };
    auto hooked = server(NETPEER, {{"LD_PRELOAD", hook}});
    auto before = server(NETPEER, {});

#ifdef STATIC_LISTENER
    const std::string odd = STATIC_LISTENER;
    const Reason oddReason = Reason::kStatic;
    auto unusual = std::make_unique<ChildProcess>(std::vector<std::string> {odd}, std::map<std::string, std::string> {{"LD_PRELOAD", hook}});
    ASSERT_EQ(unusual->ReadLine(), std::optional<std::string>("listening"));
#else
    // Go's runtime marks its programs with this section.
    const std::string odd = sandbox.root + "/go-like";
    ASSERT_EQ(std::system(("objcopy --add-section .go.buildinfo=/dev/null " NETPEER " " + odd).c_str()), 0);
    const Reason oddReason = Reason::kOwnSystemCalls;
    auto unusual = server(odd, {{"LD_PRELOAD", hook}});
#endif

    const std::string setuid = sandbox.root + "/setuid-peer";
    ASSERT_TRUE(os::WriteFileAtomically(setuid, *os::ReadFile(NETPEER, 64 << 20), 0755));
    ASSERT_EQ(::chown(setuid.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(setuid.c_str(), 04755), 0);
    auto privileged = server(setuid, {{"LD_PRELOAD", hook}});

    Scanner scanner;
    const std::vector<Program> programs = scanner.Scan({.uid = ::getuid(), .self = ::getpid()});
    const struct {
        const char* what;
        pid_t pid;
        State state;
        Reason reason;
    } expected[] = {
        {"under the hook", hooked->Pid(), State::kFirewall, Reason::kNone},
        {"started before protection", before->Pid(), State::kNotCovered, Reason::kStartedWithout},
        {"static or Go", unusual->Pid(), State::kNotCovered, oddReason},
        {"set-user-ID", privileged->Pid(), State::kNotCovered, Reason::kSecureExecution},
    };
    for (const auto& e : expected) {
        const Program* program = Find(programs, e.pid);
        ASSERT_NE(program, nullptr) << e.what << " is not listed";
        EXPECT_EQ(program->state, e.state) << e.what;
        EXPECT_EQ(program->reason, e.reason) << e.what;
        EXPECT_EQ(program->sockets, 1) << e.what;
    }
    EXPECT_TRUE(Find(programs, before->Pid())->CanRestartUnderHook());
}
