// Platform services seen from more than one thread.
#include <gtest/gtest.h>

#include <thread>

#include "../platform/Platform.h"

TEST(Threads, IdsDifferBetweenThreads) {
  unsigned long mine = platform::CurrentThreadId(), other = 0;
  std::thread t([&] { other = platform::CurrentThreadId(); });
  t.join();
  EXPECT_NE(mine, other);
  EXPECT_NE(mine, 0ul);
}
