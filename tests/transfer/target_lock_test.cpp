#include "transfer/target_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/sandbox.h"

namespace korvid {
namespace {

// flock belongs to an open file, so two claims in one process conflict as
// two processes would; the holder's note survives a new claim.
TEST(TargetLock, OneClaimPerTargetAndItsNoteOutlivesTheHolder) {
  test::Sandbox sandbox;
  const std::string target = (sandbox / "video.mp4").string();
  TargetLock first;
  ASSERT_EQ(first.TryAcquire(target), TargetLock::Result::kHeld);
  TargetLock second;
  EXPECT_EQ(second.TryAcquire(target), TargetLock::Result::kBusy);
  first.WriteNote("12\n\"e\"\nday\n");
  first.Release();
  ASSERT_EQ(second.TryAcquire(target), TargetLock::Result::kHeld);
  EXPECT_EQ(second.ReadNote(), "12\n\"e\"\nday\n");
  second.ReleaseAndRemove();
  EXPECT_FALSE(std::filesystem::exists(LockPathOf(target)));
  EXPECT_EQ(first.TryAcquire(target), TargetLock::Result::kHeld);
  EXPECT_EQ(first.ReadNote(), "");

  TargetLock nowhere;
  EXPECT_EQ(nowhere.TryAcquire((sandbox / "missing" / "video.mp4").string()),
            TargetLock::Result::kFailed);
}

}  // namespace
}  // namespace korvid
