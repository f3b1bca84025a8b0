#pragma once

#include "hook/names/Names.h"

#include <cstdint>
#include <netinet/in.h>

// Questions to the user that the program does not wait for. Each is asked
// on a thread of the firewall's, started for it and ended when no question
// is left for it: a program with no open question has no thread of the
// firewall's. Up to 32 are asked at once; past them a question waits its
// turn (a few hundred bytes), and the first thread done with its own asks
// it. The thread waits in the engine for the answer, with every signal
// blocked (the program's handlers run on its own threads, as before), and
// then tells the question's owner (a connection being made, one held back
// from accept, a datagram peer). The owner may withdraw the question
// meanwhile (the program closed the socket): the alert takes it back and
// nothing is decided.
namespace hook {

struct Question {
    unsigned localPort = 0;
    int direction = 0;
    int protocol = 0;
    unsigned remotePort = 0;
    char address[INET6_ADDRSTRLEN] = {};
    char name[kNameSize] = {}; // the name to ask with; empty: the address
};

enum class UserAnswer { kPermitted, kDenied, kWithdrawn };

// How the engine is asked: waits for the answer, or until withdrawFd is
// readable (kWithdrawn). Set by the hook before any question is asked.
using AskFn = UserAnswer (*)(const Question& question, int withdrawFd);
void SetAsker(AskFn ask);

// What the owner is told, on the question's thread with no lock of this
// module held. withdrawFd stays open until it returns: the owner may wait on
// it for more (the connection it makes after the answer).
using AnsweredFn = void (*)(uint64_t token, const Question& question, UserAnswer answer, int withdrawFd);

// Starts asking, or puts the question in line; its number, or -1 when no
// thread could be started or too many questions are open (the caller asks
// and waits, as before).
// watched (-1: none): a socket held for the answer, whose reset by its peer
// withdraws the question (the owner is told kWithdrawn); it stays open
// while the question does.
int AskInBackground(const Question& question, AnsweredFn answered, uint64_t token, int watched = -1);
// Withdraws question, which must still be open: its owner calls this before
// it has been told the answer, under the lock it tells answers under. True
// when it was still waiting its turn: it is gone, and its owner is never
// told (the owner lets go of what it kept for it now); else the owner is
// told kWithdrawn as usual.
bool WithdrawQuestion(int question);
int OpenQuestions();

// Around fork: the child has none of the threads, and closes its copies of
// the questions' descriptors.
void LockQuestionsForFork();
void UnlockQuestionsAfterFork(bool inChild);

}  // namespace hook
