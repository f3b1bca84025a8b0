#pragma once

// The engine library as the interceptor sees it: eight functions bound by
// their mangled names, and ApproveNames, ApproveNamed and
// UserApproveWithdrawable when the engine has them (an older engine decides
// by one name, or without names, and cannot take a question back).
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
    // UserApprove that a descriptor withdraws: when an engine has it, a
    // question asked without waiting is taken back when the program closes
    // the socket it was about.
    int (*UserApproveWithdrawable)(unsigned int, int, const char*, const char*, int, unsigned int, int) = nullptr;

    // Loads the library at path; false (and nothing bound) when any export is missing.
    bool Load(const char* path);
};
