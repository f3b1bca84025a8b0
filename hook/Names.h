#pragma once
// EngineHost.cpp still names the header here; it moved to hook/names/Names.h.
#include "hook/names/Names.h"
