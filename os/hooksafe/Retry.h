#pragma once

// Header only and free of the C++ runtime: the hook and zel-run use it too.
#include <errno.h>

namespace os {

// Makes the call again for as long as it fails with EINTR (a signal's handler
// ran before the call did anything) and returns its last result, with errno
// as that call left it. For calls that return a negative number on failure.
template <typename Call>
inline auto RetryOnInterrupt(Call call)
{
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

}  // namespace os
