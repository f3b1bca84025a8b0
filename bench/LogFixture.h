#pragma once

// 30 days of traffic logs, 100,000 connection records in all, a quarter of
// them in each of the four views: made once per benchmark process.
#include "os/Files.h"
#include "protocol/LogFiles.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace bench_support {

inline constexpr int kLogDays = 30;

inline const std::string& LogFolder()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/zel-log-bench-XXXXXX";
        const std::string made = ::mkdtemp(pattern);
        const std::time_t now = std::time(nullptr);
        for (int day = 0; day < kLogDays; ++day) {
            std::string text;
            for (int i = 0; i < 100000 / kLogDays + 1; ++i) {
                const int direction = i % 2;
                text += "<DATE>08.12.2026</DATE><TIME>10:00:00</TIME><EXEPATH>/usr/bin/program" + std::to_string(i % 50)
                    + "</EXEPATH><APPLICATION>PROGRAM" + std::to_string(i % 50)
                    + "</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>" + std::to_string(direction)
                    + "</DIRECTION><IP>10.0.0." + std::to_string(i % 250) + "</IP><LOCALPORT>"
                    + std::to_string(40000 + i % 1000) + "</LOCALPORT><REMOTEPORT>" + std::to_string(i % 1024)
                    + "</REMOTEPORT><PERMISSION>" + std::to_string((i / 2) % 2) + "</PERMISSION><SERVICE>0</SERVICE>\r\n";
            }
            os::WriteFileAtomically(protocol::TrafficLogFileName(made, now - day * 86400), text, 0644, false);
        }
        return made;
    }();
    return folder;
}

inline constexpr const char* kPortsText = "ftp 21\r\nssh 22\r\ndns 53\r\nhttp 80\r\nhttps 443\r\n";

}  // namespace bench_support
