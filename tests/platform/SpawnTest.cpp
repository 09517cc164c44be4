#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/PosixSpawner.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

// Blocks until the child has ended without reaping it, so the reaping stays the spawner's.
// A child the spawner has reaped already (in the sweep of a later spawn) has ended too.
void AwaitExitUnreaped(pid_t pid) {
  siginfo_t info{};
  int rc;
  do {
    rc = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (rc < 0 && errno == EINTR);
  ASSERT_TRUE(rc == 0 || errno == ECHILD);
}

// True when the child has been reaped already (it is no longer ours to wait for).
bool Reaped(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

// The value of a "Name:\t<hex>" line of /proc/<pid>/status text.
unsigned long long StatusMask(const std::string& status, const std::string& name) {
  std::size_t at = status.find(name + ":");
  if (at == std::string::npos) return ~0ull;
  return std::strtoull(status.c_str() + at + name.size() + 1, nullptr, 16);
}

TEST(PosixSpawner, ArgumentsArriveWholeWithoutAShell) {
  TempDir dir;
  PosixSpawner spawner;

  // --- blanks, quotes, semicolons and expansions are one argument, untouched
  const std::string name = "capture 2001 'NOAA 15'; echo $(id) `x` * &";
  pid_t pid = spawner.SpawnChild("/usr/bin/touch", {"touch", (dir.path() / name).string()});
  ASSERT_GT(pid, 0);
  AwaitExitUnreaped(pid);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / name));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);

  // --- a program that does not exist does not start
  EXPECT_FALSE(spawner.Spawn(dir.path() / "ppnoaa.exe", {"ppnoaa.exe", "x"}));
  EXPECT_EQ(spawner.ReapExited(), 0u);
}

TEST(PosixSpawner, ChildInheritsTheEnvironmentButNotBlockedOrIgnoredSignals) {
  TempDir dir;
  PosixSpawner spawner;
  ::setenv("HALVIK_SPAWN_PROBE", "value with blanks", 1);
  sigset_t block;
  sigset_t old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR2, &ignore, &previous);

  std::string out = (dir.path() / "env").string();
  std::string status = (dir.path() / "status").string();
  pid_t pid = spawner.SpawnChild("/bin/sh", {"sh", "-c",
                                             "printf %s \"$HALVIK_SPAWN_PROBE\" > \"$1\"; exec cat "
                                             "/proc/self/status > \"$2\"",
                                             "sh", out, status});

  sigaction(SIGUSR2, &previous, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  ::unsetenv("HALVIK_SPAWN_PROBE");
  ASSERT_GT(pid, 0);
  AwaitExitUnreaped(pid);

  EXPECT_EQ(dir.Read("env"), "value with blanks");
  std::string text = dir.Read("status");
  EXPECT_EQ(StatusMask(text, "SigBlk") & (1ull << (SIGUSR1 - 1)), 0u);
  EXPECT_EQ(StatusMask(text, "SigIgn") & (1ull << (SIGUSR2 - 1)), 0u);
}

TEST(PosixSpawner, ExitedChildrenAreReaped) {
  // --- the next spawn reaps the children that have ended
  {
    PosixSpawner spawner;
    std::vector<pid_t> first;
    for (int i = 0; i < 3; ++i) first.push_back(spawner.SpawnChild("/bin/true", {"true"}));
    for (pid_t pid : first) {
      ASSERT_GT(pid, 0);
      AwaitExitUnreaped(pid);
    }
    pid_t running = spawner.SpawnChild("/bin/sleep", {"sleep", "30"});
    ASSERT_GT(running, 0);
    for (pid_t pid : first) EXPECT_TRUE(Reaped(pid)) << pid;
    // --- a child still running is left alone
    EXPECT_EQ(spawner.ReapExited(), 1u);
    EXPECT_FALSE(Reaped(running));
    ::kill(running, SIGTERM);
    AwaitExitUnreaped(running);
    EXPECT_EQ(spawner.ReapExited(), 0u);
    EXPECT_TRUE(Reaped(running));
  }
  // --- so does the spawner's end
  pid_t last;
  {
    PosixSpawner spawner;
    last = spawner.SpawnChild("/bin/true", {"true"});
    ASSERT_GT(last, 0);
    AwaitExitUnreaped(last);
  }
  EXPECT_TRUE(Reaped(last));
}

}  // namespace
}  // namespace halvik
