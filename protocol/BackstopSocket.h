#pragma once

#include <string>
#include <sys/types.h>

// Where a kernel backstop tells its user what it decided: one socket per user
// ("/run/zel-backstop/UID.sock", the user's, in a folder only root writes)
// and one for the system services ("services.sock"). The backstop, zelconn,
// the panel and zel-admin all find it here.
namespace protocol::backstop_socket {

inline constexpr const char* kFolder = "/run/zel-backstop";
inline constexpr const char* kServicesName = "services";

// NAME is a uid in decimal or kServicesName.
std::string PathFor(const std::string& name);

// ZEL_BACKSTOP_SOCKET when set (tests), else the calling user's.
std::string ForThisUser();

// A connected, non-blocking, close-on-exec descriptor when a process of
// serviceUid (root: the backstop) answers at PATH; else -1. Anyone may make
// a socket of that name's shape elsewhere; only the peer's uid says who
// serves it.
int Connect(const std::string& path, uid_t serviceUid = 0);

// Whether the backstop answers at PATH (connects and lets go).
bool Answers(const std::string& path, uid_t serviceUid = 0);

}  // namespace protocol::backstop_socket
