#pragma once

// A control panel that runs beside a real interceptor process (zelconn) and
// programs under the hook: the single instance taken, zelconn started and
// its shared block open before a test begins.
#include "panel/core/ErrorLog.h"
#include "panel/core/SingleInstance.h"

#include "protocol/SharedBlock.h"
#include "tests/InterceptorFixture.h"

#include "tests/EventLoopWait.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace testing_support {

class PanelWithInterceptor : public InterceptorTest {
protected:
    void SetUp() override
    {
        using namespace std::chrono_literals;
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        sandbox.SetSetting("LogFileCount", "30");
        ASSERT_TRUE(instance.Acquire());
        zelconn = std::make_unique<ChildProcess>(std::vector<std::string> {TestLibrary("ZEL_TEST_ZELCONN", ZELCONN)});
        const std::string block = protocol::SharedBlock::DefaultPath();
        WaitForFile(block.substr(0, block.rfind('/')), [&block] { return bool(protocol::SharedBlock::Open(block)); },
                    2s);
    }
    void TearDown() override { panel::TheErrorLog().Close(); }

    // Lets the window work until ready() or about ten seconds passed.
    static bool WaitFor(const std::function<bool()>& ready)
    {
        return WaitUntil(ready, 10000);
    }

    panel::SingleInstance instance;
    std::unique_ptr<ChildProcess> zelconn;
};

}  // namespace testing_support
