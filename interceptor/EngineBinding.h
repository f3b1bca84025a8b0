#pragma once

// The engine library as the interceptor sees it: eight functions bound by
// their mangled names, and ApproveNamed when the engine has it (an older
// engine decides without names).
struct EngineBinding {
    int (*Approve)(unsigned int, int, const char*, int, unsigned int) = nullptr;
    int (*UserApprove)(unsigned int, int, const char*, const char*, int, unsigned int) = nullptr;
    int (*LoadRules)() = nullptr;
    bool (*IsBlockAll)() = nullptr;
    int (*IsInService)() = nullptr;
    void (*WriteTraffic)(int, unsigned int) = nullptr;
    void (*GetUpdateString)(char*) = nullptr;
    void (*PostUpdateDone)() = nullptr;
    int (*ApproveNamed)(unsigned int, int, const char*, const char*, int, unsigned int) = nullptr;

    // Loads the library at path; false (and nothing bound) when any export is missing.
    bool Load(const char* path);
};
