#pragma once
// Keeps a camera that says the same thing again and again from flooding the status window, the
// log file and the journal: the first line is written, its repeats only counted, and the count
// written at most once a minute or when another line comes (a line said just twice is written
// again instead of a count of one).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zent {

class RepeatFilter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kSummaryPeriod{60};

  // The lines to write for `text`, in order: none, a repeat count, the text, or both.
  std::vector<std::string> Take(const std::string& text, Clock::time_point now);
  // Forgets the line before, as when the window was emptied; the repeat count still owed, if any.
  std::vector<std::string> Reset();

  static std::string RepeatedLine(std::uint64_t times);

 private:
  std::string Owed() const;

  std::string last_;
  bool any_ = false;
  std::uint64_t repeats_ = 0;
  Clock::time_point periodStart_{};
};

}  // namespace zent
