#pragma once
// EngineHost.cpp still names the header here; it moved to hook/names/DnsReplies.h.
#include "hook/names/DnsReplies.h"
