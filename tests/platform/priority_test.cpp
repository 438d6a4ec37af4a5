#include "platform/priority.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process (priority changes must not leak into the
// test runner) and returns its exit code.
template <typename F> int InChild(F body) {
  pid_t pid = fork();
  if (pid == 0)
    _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

int Nice() {
  errno = 0;
  return getpriority(PRIO_PROCESS, 0);
}

TEST(Priority, IdleClassIsNiceTen) {
  if (Nice() > 10 && geteuid() != 0)
    GTEST_SKIP() << "already below the idle class; going back up needs privilege";
  EXPECT_EQ(InChild([] {
              if (SetPriorityClass(kIdlePriorityClass) != 1)
                return 1;
              return Nice() == 10 ? 0 : 2;
            }),
            0);
}

TEST(Priority, UnknownClassChangesNothing) {
  EXPECT_EQ(InChild([] {
              int nBefore = Nice();
              if (SetPriorityClass(0x1234) != 0 || SetPriorityClass(0) != 0)
                return 1;
              return Nice() == nBefore ? 0 : 2;
            }),
            0);
}

TEST(Priority, RaisingIsAppliedOrQuietlyRefused) {
  // Raising needs privilege: with it the nice values are exact, without it
  // the call reports 0 and nothing changes.
  EXPECT_EQ(InChild([] {
              int nBefore = Nice();
              int32_t r = SetPriorityClass(kRealtimePriorityClass);
              if (r == 1 && Nice() != -10)
                return 1;
              if (r == 0 && Nice() != nBefore)
                return 2;
              if (r == 1 && (SetPriorityClass(kHighPriorityClass) != 1 || Nice() != -5))
                return 3;
              if (r == 1 && (SetPriorityClass(kNormalPriorityClass) != 1 || Nice() != 0))
                return 4;
              return 0;
            }),
            0);
}

} // namespace
