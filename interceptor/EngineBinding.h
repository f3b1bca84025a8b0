#pragma once

// The engine library as the interceptor sees it: eight functions bound by
// their mangled names, and ApproveNames and ApproveNamed when the engine has
// them (an older engine decides by one name, or without names).
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
    int (*ApproveNames)(unsigned int, int, const char*, const char* const*, unsigned int, int, unsigned int,
                        int*) = nullptr;

    // Loads the library at path; false (and nothing bound) when any export is missing.
    bool Load(const char* path);
};
