// The station's pid file as update-elements reads it: a live halvik process is found, a file
// left by a dead one or naming this very process is not.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/PidFile.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "support/TempDir.h"

namespace halvik {
namespace {

TEST(PidFile, RunningStationPidSeesThroughStaleFiles) {
  TempDir dir;
  EXPECT_FALSE(RunningStationPid(dir.path()));
  {
    PidFile own(dir.path());
    ASSERT_TRUE(own.written());
    EXPECT_EQ(ParseLong(dir.Read(kPidFileName)), getpid());
    EXPECT_FALSE(RunningStationPid(dir.path()));  // the caller itself is no station to signal
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() / kPidFileName));

  // A child of this test program carries its name, as a station's process carries "halvik".
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  ASSERT_TRUE(WriteFileAtomically(dir.path() / kPidFileName, Format("%d\n", child)));
  EXPECT_EQ(RunningStationPid(dir.path()), child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(RunningStationPid(dir.path()));

  // --- a live process of another program ---
  ASSERT_TRUE(WriteFileAtomically(dir.path() / kPidFileName, "1\n"));
  EXPECT_FALSE(RunningStationPid(dir.path()));
}

}  // namespace
}  // namespace halvik
