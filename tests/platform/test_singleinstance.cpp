// The single-instance lock where no runtime folder is set: a folder of the user's own.
#include "platform/singleinstance.h"

#include "support/tempenv.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// True when `folder` is a folder, not a link, of this user and closed to everybody else.
bool UsersOwn(const fs::path& folder) {
  struct stat st {};
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 0777) == 0700;
}

TEST(SingleInstance, WithoutARuntimeFolderTheLockLivesInAFolderOfTheUsersOwn) {
  testsupport::TempEnv env;  // puts XDG_RUNTIME_DIR back at the end
  ::unsetenv("XDG_RUNTIME_DIR");
  {
    // The program's own choice, in the folder every user shares.
    platform::SingleInstance real;
    real.TryLock();  // held or not (a running fwload), the folder is there afterwards
    EXPECT_TRUE(UsersOwn(real.LockPath().parent_path())) << real.LockPath();
    EXPECT_EQ(real.SocketPath().parent_path(), real.LockPath().parent_path());
  }

  const fs::path shared = env.Root() / "shared";
  fs::create_directories(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  platform::SingleInstance first({}, shared);
  ASSERT_TRUE(first.TryLock());
  EXPECT_TRUE(UsersOwn(first.LockPath().parent_path()));
  EXPECT_EQ(first.LockPath().parent_path().parent_path(), shared);
  platform::SingleInstance second({}, shared);
  EXPECT_FALSE(second.TryLock());

  // A folder of that name that is a link, or open to others, is never used: the program then
  // runs without the guard rather than with a lock somebody else may hold.
  const fs::path elsewhere = env.Root() / "elsewhere";
  fs::create_directories(elsewhere);
  for (const char* trap : {"link", "open"}) {
    const fs::path place = env.Root() / trap;
    fs::create_directories(place);
    const fs::path folder = place / first.LockPath().parent_path().filename();
    if (std::string(trap) == "link") {
      fs::create_directory_symlink(elsewhere, folder);
    } else {
      fs::create_directory(folder);
      fs::permissions(folder, fs::perms::all);
    }
    platform::SingleInstance one({}, place);
    platform::SingleInstance two({}, place);
    EXPECT_TRUE(one.TryLock()) << trap;
    EXPECT_TRUE(two.TryLock()) << trap;
    EXPECT_FALSE(fs::exists(folder / "FWLOAD.lock")) << trap;
  }
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
