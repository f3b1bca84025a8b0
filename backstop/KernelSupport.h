#pragma once

#include <string>

namespace backstop {

// What the backstop needs of the running kernel, looked at without
// privileges (the control panel asks too): a cgroup v2 hierarchy to attach
// at, and the kernel's type information (BTF) its programs are fitted to.
namespace kernel_support {

// The cgroup v2 hierarchy, wherever this system mounted it (pure v2 at
// /sys/fs/cgroup, or beside v1 controllers in a hybrid layout); empty when
// none is mounted.
std::string CgroupTwoMount(const std::string& mountInfo = "/proc/self/mountinfo");

// What is missing, in words ("no cgroup v2 hierarchy is mounted", "the
// kernel has no type information (BTF)"), one after the other; empty when
// nothing is.
std::string Missing(const std::string& mountInfo = "/proc/self/mountinfo",
                    const std::string& typeInformation = "/sys/kernel/btf/vmlinux");

}  // namespace kernel_support

}  // namespace backstop
