#include "platform/processinfo.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using platform::IsProcessRunning;
using platform::ProcessIdentity;
using platform::ThisProcess;

TEST(ProcessInfo, AProcessCountsAsRunningUntilItEndsNotWhileItsIdLivesOn) {
  const ProcessIdentity self = ThisProcess();
  EXPECT_EQ(self.Pid, ::getpid());
  EXPECT_TRUE(IsProcessRunning(self));
  EXPECT_FALSE(IsProcessRunning({self.Pid, self.Start + "1"}))
      << "the id reused by a later process";
  EXPECT_FALSE(IsProcessRunning({0, ""}));

  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string start = ThisProcess().Start + "\n";
    (void)!::write(pipeFds[1], start.data(), start.size());
    for (;;) ::pause();
  }
  ::close(pipeFds[1]);
  ProcessIdentity other{child, ""};
  for (char c; ::read(pipeFds[0], &c, 1) == 1 && c != '\n';) other.Start += c;
  ::close(pipeFds[0]);
  EXPECT_FALSE(other.Start.empty());
  EXPECT_NE(other.Start, self.Start);
  EXPECT_TRUE(IsProcessRunning(other));

  ::kill(child, SIGKILL);
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(IsProcessRunning(other)) << "ended, not yet reaped";
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(IsProcessRunning(other));
}
