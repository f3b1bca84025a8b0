#pragma once
// EngineHost.cpp still names the header here; it moved to hook/decisions/StandIns.h.
#include "hook/decisions/StandIns.h"
