// Forced into every GoogleTest compile of the MinGW build. GoogleTest's
// Notification uses std::mutex and std::condition_variable, which the
// win32-threads MinGW toolchain does not have; this stand-in (an atomic flag)
// takes its place. GoogleTest uses it only to start threads of its own
// thread helpers, which our tests do not use.
#ifndef MIRL_TESTS_GTEST_WIN32_THREADS_H
#define MIRL_TESTS_GTEST_WIN32_THREADS_H
#ifdef __cplusplus

#include <atomic>

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : m_bNotified(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  void Notify() { m_bNotified.store(true); }
  void WaitForNotification() {
    while (!m_bNotified.load()) {
    }
  }

 private:
  std::atomic<bool> m_bNotified;
};

}  // namespace internal
}  // namespace testing

#endif
#endif
