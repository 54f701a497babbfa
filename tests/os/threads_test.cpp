// Locks, events and threads across several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "os/sysutil.h"

namespace {

struct Gate {
    SysHandle go = SysCreateEvent(1, 0);
    SysHandle done = SysCreateEvent(1, 0);
    std::atomic<int> runs{0};
    ~Gate()
    {
        SysCloseEvent(go);
        SysCloseEvent(done);
    }
};

// Waits for the gate, counts one run, signals done.
void GatedWork(void *p)
{
    auto *g = static_cast<Gate *>(p);
    SysWaitEvent(g->go, SYS_INFINITE);
    g->runs.fetch_add(1);
    SysSetEvent(g->done);
}

TEST(SysThread, JoinableThreadIsWaitedOnRepeatedly)
{
    Gate g;
    SysHandle t = SysStartThread(GatedWork, 0, &g, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(SysWaitHandle(t, 0), 0);   // still running
    EXPECT_EQ(SysWaitHandle(t, 20), 0);  // a short wait on a running thread times out
    SysSetEvent(g.go);
    EXPECT_EQ(SysWaitHandle(t, SYS_INFINITE), 1);
    EXPECT_EQ(SysWaitHandle(t, 0), 1);  // and stays signalled
    EXPECT_EQ(g.runs.load(), 1);
    EXPECT_EQ(SysCloseHandle(t), 1);
}

TEST(SysThread, CloseBeforeTheThreadEnds)
{
    // The handle is released while the thread runs; the thread still ends cleanly (LSan and
    // TSan watch the shared handle record).
    Gate g;
    SysHandle t = SysStartThread(GatedWork, 64 * 1024, &g, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(SysCloseHandle(t), 1);
    SysSetEvent(g.go);
    EXPECT_EQ(SysWaitEvent(g.done, SYS_INFINITE), 1);
    EXPECT_EQ(g.runs.load(), 1);
}

TEST(SysThread, DetachedThreadRuns)
{
    Gate g;
    SysSetEvent(g.go);
    SysHandle t = SysStartThread(GatedWork, 0, &g, 1);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(SysWaitEvent(g.done, SYS_INFINITE), 1);
    EXPECT_EQ(g.runs.load(), 1);
    EXPECT_EQ(SysCloseHandle(t), 0);  // nothing to release
    EXPECT_EQ(SysStartThread(nullptr, 0, nullptr, 0), nullptr);
}

TEST(SysThread, ManyThreadsStartAndEnd)
{
    Gate g;
    SysSetEvent(g.go);
    std::vector<SysHandle> threads;
    for (int i = 0; i < 16; ++i)
        threads.push_back(SysStartThread(GatedWork, 0, &g, 0));
    for (SysHandle t : threads) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(SysWaitHandle(t, SYS_INFINITE), 1);
        EXPECT_EQ(SysCloseHandle(t), 1);
    }
    EXPECT_EQ(g.runs.load(), 16);
}

struct Waiters {
    SysHandle event;
    SysHandle released = SysCreateEvent(0, 0);  // one signal per released waiter
    std::atomic<int> count{0};
};

void WaitOnce(void *p)
{
    auto *w = static_cast<Waiters *>(p);
    if (SysWaitEvent(w->event, SYS_INFINITE)) {
        w->count.fetch_add(1);
        SysSetEvent(w->released);
    }
}

TEST(SysEventThreads, AutoResetReleasesOneWaiter)
{
    Waiters w;
    w.event = SysCreateEvent(0, 0);
    SysHandle a = SysStartThread(WaitOnce, 0, &w, 0);
    SysHandle b = SysStartThread(WaitOnce, 0, &w, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    SysSetEvent(w.event);
    EXPECT_EQ(SysWaitEvent(w.released, SYS_INFINITE), 1);
    // The second waiter stays blocked: nothing more is released for a while.
    EXPECT_EQ(SysWaitEvent(w.released, 100), 0);
    EXPECT_EQ(w.count.load(), 1);
    SysSetEvent(w.event);  // let the other one go
    EXPECT_EQ(SysWaitHandle(a, SYS_INFINITE), 1);
    EXPECT_EQ(SysWaitHandle(b, SYS_INFINITE), 1);
    EXPECT_EQ(w.count.load(), 2);
    SysCloseHandle(a);
    SysCloseHandle(b);
    SysCloseEvent(w.event);
    SysCloseEvent(w.released);
}

TEST(SysEventThreads, ManualResetReleasesAllAndStaysSet)
{
    Waiters w;
    w.event = SysCreateEvent(1, 0);
    std::vector<SysHandle> threads;
    for (int i = 0; i < 4; ++i)
        threads.push_back(SysStartThread(WaitOnce, 0, &w, 0));
    SysSetEvent(w.event);
    for (SysHandle t : threads) {
        EXPECT_EQ(SysWaitHandle(t, SYS_INFINITE), 1);
        SysCloseHandle(t);
    }
    EXPECT_EQ(w.count.load(), 4);
    EXPECT_EQ(SysWaitEvent(w.event, 0), 1);
    SysResetEvent(w.event);
    EXPECT_EQ(SysWaitEvent(w.event, 0), 0);
    SysCloseEvent(w.event);
    SysCloseEvent(w.released);
}

struct Counter {
    SysLockRec *lock = SysCreateLock();
    long value = 0;
    ~Counter() { SysDeleteLock(lock); }
};

void AddMany(void *p)
{
    auto *c = static_cast<Counter *>(p);
    for (int i = 0; i < 10000; ++i) {
        SysLock(c->lock);
        SysLock(c->lock);  // nested entry by the owner
        ++c->value;
        SysUnlock(c->lock);
        SysUnlock(c->lock);
    }
}

TEST(SysLockThreads, ExcludesOtherThreads)
{
    Counter c;
    std::vector<SysHandle> threads;
    for (int i = 0; i < 4; ++i)
        threads.push_back(SysStartThread(AddMany, 0, &c, 0));
    for (SysHandle t : threads) {
        EXPECT_EQ(SysWaitHandle(t, SYS_INFINITE), 1);
        SysCloseHandle(t);
    }
    EXPECT_EQ(c.value, 40000);
}

}  // namespace
