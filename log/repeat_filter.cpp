#include "log/repeat_filter.h"

namespace zent {

std::string RepeatFilter::RepeatedLine(std::uint64_t times) {
  return "(last line repeated " + std::to_string(times) + " times)";
}

std::string RepeatFilter::Owed() const {
  // A line said twice reads better as itself than as a count.
  return repeats_ == 1 ? last_ : RepeatedLine(repeats_);
}

std::vector<std::string> RepeatFilter::Take(const std::string& text, Clock::time_point now) {
  std::vector<std::string> lines;
  if (any_ && text == last_) {
    ++repeats_;
    if (now - periodStart_ >= kSummaryPeriod) {
      lines.push_back(Owed());
      repeats_ = 0;
      periodStart_ = now;
    }
    return lines;
  }
  if (repeats_ > 0) lines.push_back(Owed());
  lines.push_back(text);
  last_ = text;
  any_ = true;
  repeats_ = 0;
  periodStart_ = now;
  return lines;
}

std::vector<std::string> RepeatFilter::Reset() {
  std::vector<std::string> owed;
  if (repeats_ > 0) owed.push_back(Owed());
  any_ = false;
  repeats_ = 0;
  last_.clear();
  return owed;
}

}  // namespace zent
