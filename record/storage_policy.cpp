#include "record/storage_policy.h"

#include <limits>

namespace zent {

StoragePlan PlanStorage(const std::vector<StoredRecording>& oldestFirst, const Retention& rules,
                        const StorageNeeds& needs) {
  StoragePlan plan;
  const std::time_t limit = rules.keepDays > 0 ? needs.now - static_cast<std::time_t>(rules.keepDays) * 24 * 3600
                                               : std::numeric_limits<std::time_t>::min();
  // Kept recordings are a person's, outside the camera's share: counted there, they would take
  // the place of every other recording once they filled it.
  std::int64_t total = 0;
  for (const StoredRecording& r : oldestFirst)
    if (!r.kept) total += r.file.allocated;
  std::vector<bool> done(oldestFirst.size(), false);  // deleted, or passed by and said
  std::int64_t freed = 0;
  for (std::size_t i = 0; i < oldestFirst.size(); ++i) {
    const StoredRecording& r = oldestFirst[i];
    const std::time_t made = RecordingTime(r.file.name);
    const bool tooOld = made >= 0 && made < limit;
    const bool tooMuch = !r.kept && rules.maxBytes > 0 && total > rules.maxBytes;
    if (!tooOld && !tooMuch) {
      if (r.kept) continue;
      break;  // oldest first: the rest are younger, and the total only falls
    }
    if (r.file.name == needs.making) continue;
    plan.steps.push_back({r.file, tooOld ? StorageReason::Age : StorageReason::Share, r.kept});
    done[i] = true;
    if (r.kept) continue;
    total -= r.file.allocated;
    freed += r.file.allocated;
  }
  if (needs.neededBytes <= 0 || needs.freeBytes < 0 || needs.freeBytes + freed >= needs.neededBytes) return plan;
  // The room the next recording needs, from what is left, only when deleting can give all of it:
  // a disk filled by something else would otherwise cost every recording of the camera, and the
  // new one would still not be made.
  std::int64_t deletable = 0;
  std::size_t older = 0;
  for (std::size_t i = 0; i < oldestFirst.size(); ++i)
    if (!done[i] && !oldestFirst[i].kept && oldestFirst[i].file.name != needs.making) {
      deletable += oldestFirst[i].file.allocated;
      ++older;
    }
  if (!needs.deleteOldest || needs.freeBytes + freed + deletable < needs.neededBytes) {
    plan.room = false;
    if (needs.deleteOldest) {
      plan.deletable = deletable;
      plan.older = older;
    }
    return plan;
  }
  for (std::size_t i = 0; i < oldestFirst.size() && needs.freeBytes + freed < needs.neededBytes; ++i) {
    const StoredRecording& r = oldestFirst[i];
    if (done[i] || r.file.name == needs.making) continue;  // a kept one the age rule passed by was said
    plan.steps.push_back({r.file, StorageReason::Disk, r.kept});
    if (!r.kept) freed += r.file.allocated;
  }
  return plan;
}

std::string StorageWhy(StorageReason reason, const Retention& rules) {
  switch (reason) {
    case StorageReason::Age:
      return "older than " + std::to_string(rules.keepDays) + (rules.keepDays == 1 ? " day" : " days");
    case StorageReason::Share: return "the camera's recordings took more than " + SizeText(rules.maxBytes);
    case StorageReason::Disk: break;
  }
  return "the disk is almost full";
}

}  // namespace zent
