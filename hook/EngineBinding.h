#pragma once

#include "engine/EngineExports.h"

namespace hook {

// The engine library as the hook sees it: its exports (engine/EngineExports.h)
// bound by their mangled names. The required ones must all be there; the
// newer ones are null when the engine predates them.
struct EngineBinding {
#define ZEL_BINDING_MEMBER(name, result, parameters, arguments, symbol, required) result(*name) parameters = nullptr;
    ZEL_ENGINE_EXPORTS(ZEL_BINDING_MEMBER)
#undef ZEL_BINDING_MEMBER

    // Loads the library at path; false (and nothing bound) when a required export is missing.
    bool Load(const char* path);
};

}  // namespace hook
