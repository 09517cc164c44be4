#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <thread>

#include "capture/ThreadPriority.h"

namespace halvik {
namespace {

TEST(ThreadPriority, GrantedOrLeftAsItWas) {
  // Whether the system grants real-time priority depends on the machine; either way the thread
  // must end up in a consistent state: FIFO at the priority asked for, or exactly as before.
  std::thread worker([] {
    int policyBefore = 0;
    sched_param before{};
    ASSERT_EQ(pthread_getschedparam(pthread_self(), &policyBefore, &before), 0);
    const bool raised = RaiseThreadPriority(pthread_self(), 31);
    int policy = 0;
    sched_param after{};
    ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &after), 0);
    if (raised) {
      EXPECT_EQ(policy, SCHED_FIFO);
      EXPECT_EQ(after.sched_priority, 31);
      // Back to normal before the thread does anything else.
      sched_param normal{};
      EXPECT_EQ(pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal), 0);
    } else {
      EXPECT_EQ(policy, policyBefore);
      EXPECT_EQ(after.sched_priority, before.sched_priority);
    }
    // Out of range is brought into range, not refused for its number.
    const bool high = RaiseThreadPriority(pthread_self(), 1000);
    ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &after), 0);
    if (high) {
      EXPECT_EQ(after.sched_priority, sched_get_priority_max(SCHED_FIFO));
      sched_param normal{};
      pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    }
    EXPECT_EQ(raised, high) << "the number asked for does not change the system's answer";
  });
  worker.join();
}

}  // namespace
}  // namespace halvik
