#pragma once

// What the interceptor's end-to-end tests share: real programs under the
// hook, servers on 127.0.0.2 and up, clients bound to another loopback
// source. ZEL_TEST_HOOK_LIBRARY and ZEL_TEST_ENGINE_LIBRARY put other builds
// of the hook and the engine under the same tests (and ZEL_TEST_ZELCONN of
// the interceptor's process).
#include "os/Files.h"
#include "protocol/PanelMessages.h"
#include "protocol/Presence.h"
#include "protocol/Windows.h"
#include "tests/ChildProcess.h"
#include "tests/EventWait.h"
#include "tests/Sandbox.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace testing_support {

inline std::string TestLibrary(const char* variable, const char* built)
{
    const char* other = std::getenv(variable);
    return other && *other ? other : built;
}

inline std::map<std::string, std::string> HookedEnvironment()
{
    return {{"LD_PRELOAD", TestLibrary("ZEL_TEST_HOOK_LIBRARY", HOOK_LIBRARY)},
            {"ZEL_ENGINE_LIBRARY", TestLibrary("ZEL_TEST_ENGINE_LIBRARY", ENGINE_LIBRARY)},
            {"ZEL_ALERT_PROGRAM", SCRIPTED_ALERT}};
}

inline std::string App(const std::string& name, const std::string& inDef, const std::string& outDef,
                       const std::string& rules = "")
{
    return "<APPLICATION><EXENAME>" + name + "</EXENAME><INDEF>" + inDef + "</INDEF><OUTDEF>" + outDef + "</OUTDEF>"
        + (rules.empty() ? "" : "<RULES>" + rules + "</RULES>") + "</APPLICATION>";
}

// A rule for one port, limited to one remote address when ip is given.
inline std::string Rule(const std::string& direction, const std::string& permission, int port,
                        const std::string& ip = "")
{
    return "<RULE><DIRECTION>" + direction + "</DIRECTION><PERMISSION>" + permission + "</PERMISSION><STATE>1</STATE>"
           "<PORTS><PORT><NUMBER>" + std::to_string(port) + "</NUMBER>"
        + (ip.empty() ? "" : "<IPS><IP>" + ip + "</IP></IPS>") + "</PORT></PORTS></RULE>";
}

class InterceptorTest : public testing::Test {
protected:
    Sandbox sandbox;
    const std::map<std::string, std::string> hooked = HookedEnvironment();

    void WriteRules(const std::string& applications)
    {
        ASSERT_TRUE(os::WriteFileAtomically(sandbox.rulesFile, RulesDocument(applications)));
    }

    // The hooked environment with more variables.
    std::map<std::string, std::string> Hooked(const std::map<std::string, std::string>& more) const
    {
        auto env = hooked;
        for (const auto& [name, value] : more)
            env[name] = value;
        return env;
    }

    // A netpeer server, ready when it says so; under the firewall when hooked.
    std::unique_ptr<ChildProcess> Server(const std::vector<std::string>& args, bool underHook = false)
    {
        std::vector<std::string> argv = {NETPEER};
        argv.insert(argv.end(), args.begin(), args.end());
        auto server = std::make_unique<ChildProcess>(argv, underHook ? hooked : std::map<std::string, std::string> {});
        EXPECT_EQ(server->ReadLine(), std::optional<std::string>("listening"));
        return server;
    }

    // A Python program under the firewall (or not), started with its script.
    std::unique_ptr<ChildProcess> Python(const std::string& script, bool underHook = true,
                                         const std::map<std::string, std::string>& more = {})
    {
        return std::make_unique<ChildProcess>(std::vector<std::string> {"/usr/bin/python3", "-u", "-c", script},
                                              underHook ? Hooked(more) : more);
    }

    std::vector<std::string> Records(const std::string& needle) const
    {
        std::vector<std::string> found;
        for (const auto& record : sandbox.ConnectionRecords())
            if (record.find(needle) != std::string::npos)
                found.push_back(record);
        return found;
    }

    // Lines of the log holding needle, records or not.
    size_t LogLinesWith(const std::string& needle) const
    {
        size_t count = 0;
        for (const auto& line : sandbox.LogLines())
            count += line.find(needle) != std::string::npos;
        return count;
    }

    // How many alerts the scripted alert program was asked to show.
    size_t AlertsShown() const
    {
        const std::string record = ReadText(sandbox.root + "/alerts.txt");
        size_t count = 0;
        for (size_t at = record.find("---\n"); at != std::string::npos; at = record.find("---\n", at + 1))
            ++count;
        return count;
    }
    std::map<std::string, std::string> Alerting(const std::string& script) const
    {
        return {{"ZEL_TEST_ALERT_SCRIPT", script}, {"ZEL_TEST_ALERT_RECORD", sandbox.root + "/alerts.txt"}};
    }
};

// The control panel as the interceptor sees it: its presence lock and its
// message picture box.
struct PanelStandIn {
    int lock = protocol::presence::HoldControlPanelLock(protocol::presence::ControlPanelLockPath());
    std::unique_ptr<protocol::windows::Window> window =
        protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
    ~PanelStandIn() { ::close(lock); }
    std::string Box() const { return window->ChildHandle(0); }
    int Socket() const { return window->ChildSocket(0); }
};

}  // namespace testing_support
