#include "hook/decisions/Questions.h"

#include "hook/descriptors/Kernel.h"
#include "hook/Memory.h"
#include "hook/descriptors/SocketTable.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>

namespace hook {

namespace {

// Questions asked at once, each on a thread of its own: the user answers
// one at a time anyway. Past them a question waits its turn, and is asked
// on the first thread that is done with its own: the program goes on all
// the same.
constexpr int kMaxAskers = 32;
// More open at once than this in one program is a flood, not a user's
// questions: the rest are asked the old way, one at a time.
constexpr int kMaxQuestions = 1024;
// The engine's alert code is modest; the pages are only touched as used.
constexpr size_t kThreadStack = 512 * 1024;

enum class State : unsigned char { kFree, kWaiting, kAsking };

struct Slot {
    State state;
    uint64_t turn; // while waiting: the order it came in
    Question question;
    int withdraw; // while asking: an eventfd, readable once withdrawn (-1: none could be made)
    int watched;  // the socket whose reset withdraws it too (-1: none)
    int waitOn;   // what the engine waits on: withdraw, or a set of it and the watched socket
    AnsweredFn answered;
    uint64_t token;
};

struct Slots {
    Slot items[kMaxQuestions];
};

pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;
// Made at the first question: a few hundred bytes for each one open.
std::atomic<Slots*> g_slots {nullptr};
int g_askers = 0;      // threads asking
int g_used = 0;        // slots past this one are free
uint64_t g_turns = 0;  // questions that had to wait
std::atomic<AskFn> g_ask {nullptr};
std::atomic<int> g_open {0};

void CloseWithdrawal(Slot& slot)
{
    if (slot.waitOn >= 0 && slot.waitOn != slot.withdraw) {
        ClearMark(slot.waitOn, kMarkKept);
        kernel::Close(slot.waitOn);
    }
    if (slot.withdraw >= 0) {
        ClearMark(slot.withdraw, kMarkKept);
        kernel::Close(slot.withdraw);
    }
    slot.withdraw = -1;
    slot.waitOn = -1;
}

// The slot's withdrawal: an eventfd the owner writes to; with a watched
// socket, an epoll set of both, ready once either is: the peer that reset
// a connection held for the answer has given up, and the question goes.
// Only a reset or a hang-up counts, never an end of what the peer sends: a
// client may shut its side and still wait for the reply.
void MakeWithdrawal(Slot& slot)
{
    slot.withdraw = kernel::MoveHigh(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    slot.waitOn = slot.withdraw;
    if (slot.withdraw < 0)
        return;
    SetMark(slot.withdraw, kMarkKept);
    if (slot.watched < 0)
        return;
    const int set = kernel::MoveHigh(::epoll_create1(EPOLL_CLOEXEC));
    epoll_event readable {};
    readable.events = EPOLLIN;
    epoll_event hangUp {}; // EPOLLERR and EPOLLHUP are always reported
    if (set >= 0 && kernel::EpollControl(set, EPOLL_CTL_ADD, slot.withdraw, &readable) == 0
        && kernel::EpollControl(set, EPOLL_CTL_ADD, slot.watched, &hangUp) == 0) {
        SetMark(set, kMarkKept);
        slot.waitOn = set;
    } else if (set >= 0) {
        kernel::Close(set); // asked all the same, withdrawn by the owner alone
    }
}

void Free(Slot& slot)
{
    CloseWithdrawal(slot);
    slot.state = State::kFree;
    Slot* items = g_slots.load(std::memory_order_relaxed)->items;
    while (g_used > 0 && items[g_used - 1].state == State::kFree)
        --g_used;
}

// The question that has waited longest, now asked; null when none waits.
Slot* NextTurn()
{
    Slot* next = nullptr;
    Slot* items = g_slots.load(std::memory_order_relaxed)->items;
    for (int i = 0; i < g_used; ++i)
        if (items[i].state == State::kWaiting && (!next || items[i].turn < next->turn))
            next = &items[i];
    if (next) {
        next->state = State::kAsking;
        MakeWithdrawal(*next); // without one it is asked all the same, as before
    }
    return next;
}

void* Run(void* argument)
{
    for (Slot* slot = static_cast<Slot*>(argument); slot;) {
        const AskFn ask = g_ask.load(std::memory_order_acquire);
        const UserAnswer answer = ask ? ask(slot->question, slot->waitOn) : UserAnswer::kDenied;
        slot->answered(slot->token, slot->question, answer, slot->withdraw);
        pthread_mutex_lock(&g_mutex);
        Free(*slot);
        // Whoever sees the count drop sees all the question's work done.
        g_open.fetch_sub(1, std::memory_order_release);
        slot = NextTurn();
        if (!slot)
            --g_askers;
        pthread_mutex_unlock(&g_mutex);
    }
    return nullptr;
}

bool StartAsker(Slot& slot)
{
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
    return started == 0;
}

}  // namespace

void SetAsker(AskFn ask) { g_ask.store(ask, std::memory_order_release); }

int AskInBackground(const Question& question, AnsweredFn answered, uint64_t token, int watched)
{
    pthread_mutex_lock(&g_mutex);
    Slots* slots = MapOnce(g_slots);
    int index = 0;
    while (slots && index < kMaxQuestions && slots->items[index].state != State::kFree)
        ++index;
    if (!slots || index == kMaxQuestions) {
        pthread_mutex_unlock(&g_mutex);
        return -1;
    }
    Slot& slot = slots->items[index];
    slot = {State::kWaiting, ++g_turns, question, -1, watched, -1, answered, token};
    if (index >= g_used)
        g_used = index + 1;
    if (g_askers < kMaxAskers) {
        slot.state = State::kAsking;
        MakeWithdrawal(slot);
        if (slot.withdraw >= 0 && StartAsker(slot)) {
            ++g_askers;
        } else if (g_askers == 0) {
            // Nobody would ever ask it: the caller asks and waits.
            Free(slot);
            pthread_mutex_unlock(&g_mutex);
            return -1;
        } else {
            // No thread now: it waits for one that is done with its question.
            CloseWithdrawal(slot);
            slot.state = State::kWaiting;
        }
    }
    g_open.fetch_add(1, std::memory_order_relaxed);
    pthread_mutex_unlock(&g_mutex);
    return index;
}

bool WithdrawQuestion(int question)
{
    if (question < 0 || question >= kMaxQuestions)
        return false;
    pthread_mutex_lock(&g_mutex);
    Slot* items = g_slots.load(std::memory_order_relaxed)->items;
    Slot& slot = items[question];
    const bool waiting = slot.state == State::kWaiting;
    if (waiting) {
        Free(slot);
        g_open.fetch_sub(1, std::memory_order_release);
    } else if (slot.state == State::kAsking && slot.withdraw >= 0) {
        const uint64_t one = 1;
        kernel::Write(slot.withdraw, &one, sizeof one);
    }
    pthread_mutex_unlock(&g_mutex);
    return waiting;
}

int OpenQuestions() { return g_open.load(std::memory_order_acquire); }

void LockQuestionsForFork() { pthread_mutex_lock(&g_mutex); }

void UnlockQuestionsAfterFork(bool inChild)
{
    if (Slots* slots = inChild ? g_slots.load(std::memory_order_relaxed) : nullptr) {
        for (int i = 0; i < g_used; ++i)
            if (slots->items[i].state != State::kFree) {
                // Free only closes; g_used shrinks behind the loop.
                CloseWithdrawal(slots->items[i]);
                slots->items[i].state = State::kFree;
            }
        g_used = 0;
        g_askers = 0;
        g_open.store(0, std::memory_order_relaxed);
    }
    pthread_mutex_unlock(&g_mutex);
}

}  // namespace hook
