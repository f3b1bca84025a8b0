#include "backstop/KernelSupport.h"

#include "text/Translate.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace backstop {

namespace kernel_support {

std::string CgroupTwoMount(const std::string& mountInfo)
{
    std::ifstream mounts(mountInfo);
    for (std::string line; std::getline(mounts, line);) {
        // ... mount-point ... - fstype source options
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos)
            continue;
        std::istringstream tail(line.substr(dash + 3));
        std::string type;
        tail >> type;
        if (type != "cgroup2")
            continue;
        std::istringstream head(line.substr(0, dash));
        std::string field, mountPoint;
        for (int i = 0; i < 5 && head >> field; ++i)
            if (i == 4)
                mountPoint = field;
        return mountPoint;
    }
    return {};
}

std::string Missing(const std::string& mountInfo, const std::string& typeInformation)
{
    std::string missing;
    const auto add = [&](const std::string& what) { missing += (missing.empty() ? "" : "; ") + what; };
    if (CgroupTwoMount(mountInfo).empty())
        add(text::Tr("zel-backstop", "no cgroup v2 hierarchy is mounted"));
    if (::access(typeInformation.c_str(), R_OK) != 0)
        add(text::Tr("zel-backstop", "the kernel has no type information (BTF)"));
    return missing;
}

}  // namespace kernel_support

}  // namespace backstop
