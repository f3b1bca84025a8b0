#pragma once

// The engine library's exports, written once. Everything else is made from
// this list: the definitions (engine/Exports.cpp), the list of symbols the
// library exports (exports.map, made at build time), the hook's binding
// (hook/EngineBinding) and the tests' calls.
//
// X(name, result, parameters, arguments, symbol, required):
// - symbol: the mangled name the function has with C++ linkage; a hook that
//   predates this list binds the exports by these names, so they never change.
// - required: 1 when a hook cannot work without it; the others are newer and
//   a hook makes do without them (an older engine decides by one name, or
//   without names).
//
// No export lets an exception out: a failure inside one returns its safe
// answer (0, a refusal, where a decision was asked; nothing otherwise) and
// is written to the error log once.
//
// This file is read by the preprocessor alone to make the export list: it
// includes nothing and holds nothing but the list.
#define ZEL_ENGINE_EXPORTS(X)                                                                                         \
    X(Approve, int, (unsigned int localPort, int direction, const char* remoteAddress, int protocol,                \
                     unsigned int remotePort),                                                                        \
      (localPort, direction, remoteAddress, protocol, remotePort), _Z7ApprovejiPKcij, 1)                              \
    X(UserApprove, int, (unsigned int localPort, int direction, const char* remoteAddress, const char* remoteName,   \
                         int protocol, unsigned int remotePort),                                                      \
      (localPort, direction, remoteAddress, remoteName, protocol, remotePort), _Z11UserApprovejiPKcS0_ij, 1)          \
    X(LoadRules, int, (), (), _Z9LoadRulesv, 1)                                                                       \
    X(IsBlockAll, bool, (), (), _Z10IsBlockAllv, 1)                                                                   \
    X(IsInService, int, (), (), _Z11IsInServicev, 1)                                                                  \
    X(WriteTraffic, void, (int counterSelect, unsigned int byteCount), (counterSelect, byteCount),                   \
      _Z12WriteTrafficij, 1)                                                                                          \
    X(GetUpdateString, void, (char* buffer), (buffer), _Z15GetUpdateStringPc, 1)                                      \
    X(PostUpdateDone, void, (), (), _Z14PostUpdateDonev, 1)                                                           \
    /* Approve with the name the program looked the peer up as. */                                                    \
    X(ApproveNamed, int, (unsigned int localPort, int direction, const char* remoteAddress, const char* remoteName,  \
                          int protocol, unsigned int remotePort),                                                     \
      (localPort, direction, remoteAddress, remoteName, protocol, remotePort), _Z12ApproveNamedjiPKcS0_ij, 0)         \
    /* UserApprove that withdrawFd readable takes back (0 with errno ECANCELED, nothing decided): for a question  \
       the program does not wait for, withdrawn when it closes the socket. */                                        \
    X(UserApproveWithdrawable, int, (unsigned int localPort, int direction, const char* remoteAddress,              \
                                     const char* remoteName, int protocol, unsigned int remotePort, int withdrawFd), \
      (localPort, direction, remoteAddress, remoteName, protocol, remotePort, withdrawFd),                           \
      _Z23UserApproveWithdrawablejiPKcS0_iji, 0)                                                                      \
    /* Approve with every name the program knows the peer by (the most recently learnt first); usedName gets the   \
       index of the one the decision went by, -1 for none. */                                                         \
    X(ApproveNames, int, (unsigned int localPort, int direction, const char* remoteAddress,                         \
                          const char* const* remoteNames, unsigned int nameCount, int protocol,                      \
                          unsigned int remotePort, int* usedName),                                                    \
      (localPort, direction, remoteAddress, remoteNames, nameCount, protocol, remotePort, usedName),                 \
      _Z12ApproveNamesjiPKcPKS0_jijPi, 0)                                                                             \
    /* ApproveNames with the socket's own address (null: not known): a connection between this computer's     \
       addresses counts as local only when both of its ends do. */                                                    \
    X(ApproveNamesAt, int, (unsigned int localPort, int direction, const char* remoteAddress,                       \
                            const char* const* remoteNames, unsigned int nameCount, int protocol,                    \
                            unsigned int remotePort, int* usedName, const char* localAddress),                        \
      (localPort, direction, remoteAddress, remoteNames, nameCount, protocol, remotePort, usedName, localAddress),   \
      _Z14ApproveNamesAtjiPKcPKS0_jijPiS0_, 0)                                                                        \
    /* 1 when the program's lookups of the encrypted-DNS canary name go to its resolver; 0 (also when it fails):   \
       the hook answers them "no such name". */                                                                       \
    X(PassesDnsCanary, int, (), (), _Z15PassesDnsCanaryv, 0)
