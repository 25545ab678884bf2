#pragma once
// What a camera's recordings may take, decided in one pass over one look at its folder: the days
// they are kept, their share of the disk, and the room the next recording needs. Oldest first,
// only names this program gives, never the file being made, never a recording a person keeps
// (those are passed by and said). No disk access here: the recorder looks and carries it out.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "record/disk_space.h"
#include "record/recording_name.h"

namespace zent {

struct StoredRecording {
  RecordingFile file;
  bool kept = false;
};

enum class StorageReason { Age, Share, Disk };

struct StorageStep {
  RecordingFile file;
  StorageReason reason = StorageReason::Age;
  bool kept = false;  // passed by, not deleted
};

struct StoragePlan {
  std::vector<StorageStep> steps;  // in the order they are carried out
  bool room = true;                // the next recording will have what it needs on the disk
  std::int64_t deletable = 0;      // when there is no room: what deleting all older recordings would free
  std::size_t older = 0;           // and how many they are
};

struct StorageNeeds {
  std::time_t now = 0;
  std::int64_t freeBytes = -1;   // -1: unknown, no deletion for room
  std::int64_t neededBytes = 0;  // 0: no recording to make room for
  bool deleteOldest = false;     // the disk guard may delete for room
  std::string making;            // the name of the file being made, never deleted
};

// `oldestFirst` as FindRecordings gives them, each with its mark.
StoragePlan PlanStorage(const std::vector<StoredRecording>& oldestFirst, const Retention& rules,
                        const StorageNeeds& needs);

// Why a step was taken, for its line: "older than 30 days", "the camera's recordings took more
// than 2.0 GB", "the disk is almost full".
std::string StorageWhy(StorageReason reason, const Retention& rules);

}  // namespace zent
