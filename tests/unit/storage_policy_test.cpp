#include "record/storage_policy.h"

#include <gtest/gtest.h>

namespace zent {
namespace {

constexpr std::int64_t kMiB = 1 << 20;

StoredRecording Stored(const std::string& name, std::int64_t allocated, bool kept = false) {
  return {RecordingFile{"/r/" + name, name, allocated, allocated, 0}, kept};
}

std::vector<std::string> Steps(const StoragePlan& plan) {
  std::vector<std::string> steps;
  for (const StorageStep& s : plan.steps)
    steps.push_back((s.kept ? "keep " : "delete ") + s.file.name + " " +
                    (s.reason == StorageReason::Age     ? "age"
                     : s.reason == StorageReason::Share ? "share"
                                                        : "disk"));
  return steps;
}

// The three rules decide together: what age and share delete counts toward the room a recording
// needs, so the disk guard takes no more than is missing; kept recordings are passed by by each
// rule; the file being made is never a candidate; and when all of it would not make room, the
// guard deletes nothing while age and share still apply.
TEST(StoragePolicyTest, AgeShareAndRoomAreOnePassThatTakesNoMoreThanNeeded) {
  const std::vector<StoredRecording> folder{Stored("door_20000101_000000.avi", 3 * kMiB),
                                            Stored("door_20000102_000000.avi", 3 * kMiB, true),
                                            Stored("door_20991201_000000.avi", 2 * kMiB),
                                            Stored("door_20991202_000000.mp4", 2 * kMiB),
                                            Stored("door_20991203_000000.avi", 2 * kMiB, true),
                                            Stored("door_20991204_000000.avi", 2 * kMiB),
                                            Stored("door_20991205_000000.avi", 0)};
  const Retention rules{"/r", "door", 30, 5 * kMiB};
  StorageNeeds needs;
  needs.now = 4102444800 - 86400 * 20;  // 2099-12-12
  needs.deleteOldest = true;
  needs.making = "door_20991205_000000.avi";

  // Age frees 3 MiB, the share 2 more (6 MiB of ours left against 5): with 1 MiB free, 6 MiB is
  // what a recording needs, and nothing more goes for it.
  needs.freeBytes = 1 * kMiB;
  needs.neededBytes = 6 * kMiB;
  StoragePlan plan = PlanStorage(folder, rules, needs);
  EXPECT_TRUE(plan.room);
  EXPECT_EQ(Steps(plan),
            (std::vector<std::string>{"delete door_20000101_000000.avi age", "keep door_20000102_000000.avi age",
                                      "delete door_20991201_000000.avi share"}));

  // Four more MiB: the two oldest left go, the kept one between them is passed by.
  needs.neededBytes = 10 * kMiB;
  plan = PlanStorage(folder, rules, needs);
  EXPECT_TRUE(plan.room);
  EXPECT_EQ(Steps(plan),
            (std::vector<std::string>{"delete door_20000101_000000.avi age", "keep door_20000102_000000.avi age",
                                      "delete door_20991201_000000.avi share", "delete door_20991202_000000.mp4 disk",
                                      "keep door_20991203_000000.avi disk", "delete door_20991204_000000.avi disk"}));

  // Deleting all of ours but the kept and the one being made frees 9 MiB: 12 cannot be had, so
  // the guard deletes none, and says how little all would give.
  needs.neededBytes = 12 * kMiB;
  plan = PlanStorage(folder, rules, needs);
  EXPECT_FALSE(plan.room);
  EXPECT_EQ(plan.older, 2u);
  EXPECT_EQ(plan.deletable, 4 * kMiB);
  EXPECT_EQ(plan.steps.size(), 3u);
}

}  // namespace
}  // namespace zent
