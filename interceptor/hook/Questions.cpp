#include "Questions.h"

#include "Kernel.h"
#include "SocketTable.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <sys/eventfd.h>

namespace hook {

namespace {

// More open at once than this in one program is a flood, not a user's
// questions: the rest are asked the old way, one at a time.
constexpr int kMaxQuestions = 64;
// The engine's alert code is modest; the pages are only touched as used.
constexpr size_t kThreadStack = 512 * 1024;

struct Slot {
    bool used;
    Question question;
    int withdraw; // an eventfd: readable once withdrawn
    AnsweredFn answered;
    uint64_t token;
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
Slot g_slots[kMaxQuestions];
std::atomic<AskFn> g_ask {nullptr};
std::atomic<int> g_open {0};

void* Run(void* argument)
{
    Slot& slot = *static_cast<Slot*>(argument);
    const AskFn ask = g_ask.load(std::memory_order_acquire);
    const UserAnswer answer = ask ? ask(slot.question, slot.withdraw) : UserAnswer::kDenied;
    slot.answered(slot.token, slot.question, answer, slot.withdraw);
    pthread_mutex_lock(&g_mutex);
    ClearMark(slot.withdraw, kMarkKept);
    kernel::Close(slot.withdraw);
    slot.used = false;
    // Whoever sees the count drop sees all the question's work done.
    g_open.fetch_sub(1, std::memory_order_release);
    pthread_mutex_unlock(&g_mutex);
    return nullptr;
}

}  // namespace

void SetAsker(AskFn ask) { g_ask.store(ask, std::memory_order_release); }

int AskInBackground(const Question& question, AnsweredFn answered, uint64_t token)
{
    pthread_mutex_lock(&g_mutex);
    int index = 0;
    while (index < kMaxQuestions && g_slots[index].used)
        ++index;
    const int withdraw = index < kMaxQuestions
        ? kernel::MoveHigh(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
        : -1;
    if (withdraw < 0) {
        pthread_mutex_unlock(&g_mutex);
        return -1;
    }
    Slot& slot = g_slots[index];
    slot = {true, question, withdraw, answered, token};
    SetMark(withdraw, kMarkKept);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, kThreadStack);
    // The thread starts with every signal blocked: a signal meant for the
    // program is delivered to one of the program's own threads.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const int started = pthread_create(&thread, &attributes, Run, &slot);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        ClearMark(withdraw, kMarkKept);
        kernel::Close(withdraw);
        slot.used = false;
        pthread_mutex_unlock(&g_mutex);
        return -1;
    }
    g_open.fetch_add(1, std::memory_order_relaxed);
    pthread_mutex_unlock(&g_mutex);
    return index;
}

void WithdrawQuestion(int question)
{
    if (question < 0 || question >= kMaxQuestions)
        return;
    pthread_mutex_lock(&g_mutex);
    if (g_slots[question].used) {
        const uint64_t one = 1;
        kernel::Write(g_slots[question].withdraw, &one, sizeof one);
    }
    pthread_mutex_unlock(&g_mutex);
}

int OpenQuestions() { return g_open.load(std::memory_order_acquire); }

void LockQuestionsForFork() { pthread_mutex_lock(&g_mutex); }

void UnlockQuestionsAfterFork(bool inChild)
{
    if (inChild) {
        for (Slot& slot : g_slots)
            if (slot.used) {
                ClearMark(slot.withdraw, kMarkKept);
                kernel::Close(slot.withdraw);
                slot.used = false;
            }
        g_open.store(0, std::memory_order_relaxed);
    }
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace hook
