// The read-modify-write lock: a second taker waits and times out, a file replaced while it
// waited is locked afresh, and a path where nothing is yet is guarded by its folder.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "file_helpers.h"
#include "io/file_io.h"
#include "io/file_lock.h"

namespace vellix {
namespace {

using std::chrono::milliseconds;

TEST(FileLock, OneHolderAtATime) {
  TempFolder folder;
  const std::string path = folder.path() + "/save.ini";
  WriteBytes(path, "[a]");
  FileLock first;
  FileLock second;
  ASSERT_EQ(first.Lock(path, milliseconds(0)), FileLock::Result::kLocked);
  EXPECT_EQ(second.Lock(path, milliseconds(20)), FileLock::Result::kTimedOut);
  EXPECT_FALSE(second.held());
  first.Unlock();
  EXPECT_EQ(second.Lock(path, milliseconds(0)), FileLock::Result::kLocked);

  // A save puts a new file in the path's place (the system's own replacement, as a save
  // makes it): the next taker locks that one, the file the path names now, not the replaced
  // one the holder still has open.
  const std::string fresh = folder.path() + "/fresh";
  WriteBytes(fresh, "[b]");
  ASSERT_EQ(DefaultFileSystemCalls().rename(fresh.c_str(), path.c_str()), 0);
  FileLock third;
  EXPECT_EQ(third.Lock(path, milliseconds(0)), FileLock::Result::kLocked);

  // Nothing there yet: creators meet at the folder's lock.
  const std::string missing = folder.path() + "/new.ini";
  FileLock creator;
  FileLock other;
  ASSERT_EQ(creator.Lock(missing, milliseconds(0)), FileLock::Result::kLocked);
  EXPECT_EQ(other.Lock(missing, milliseconds(20)), FileLock::Result::kTimedOut);
  // Once made, the file has a lock of its own.
  WriteBytes(missing, "[c]");
  EXPECT_EQ(other.Lock(missing, milliseconds(0)), FileLock::Result::kLocked);

  FileLock nowhere;
  EXPECT_EQ(nowhere.Lock(folder.path() + "/no/such/file", milliseconds(0)),
            FileLock::Result::kFailed);
  EXPECT_EQ(nowhere.error(), ENOENT);
}

}  // namespace
}  // namespace vellix
