#pragma once
// EngineHost.cpp still names the header here; it moved to hook/decisions/Datagrams.h.
#include "hook/decisions/Datagrams.h"
