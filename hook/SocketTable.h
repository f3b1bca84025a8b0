#pragma once
// EngineHost.cpp still names the header here; it moved to hook/descriptors/SocketTable.h.
#include "hook/descriptors/SocketTable.h"
