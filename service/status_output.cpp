#include "service/status_output.h"

namespace zent {

StatusOutput::StatusOutput(std::FILE* out, std::string documentsFolder, LocalClock clock)
    : out_(out), documentsFolder_(std::move(documentsFolder)), clock_(std::move(clock)) {}

void StatusOutput::Line(const std::string& address, const LogSettings& log, const std::string& text) {
  const std::tm now = clock_();
  std::lock_guard lock(mutex_);
  for (const std::string& shown : repeats_[address].Take(text, RepeatFilter::Clock::now())) {
    const std::string line = FormatStatusLine(now, shown);
    std::fprintf(out_, "%s %s\n", address.c_str(), line.c_str());
    std::fflush(out_);  // a pipe to the journal would otherwise hold lines back
    if (log.logToFile != 0) logWriter_.Append(LogFileName(log, now, documentsFolder_), line);
  }
}

void StatusOutput::Program(const std::string& text) {
  std::lock_guard lock(mutex_);
  std::fprintf(out_, "zent-recorder: %s\n", text.c_str());
  std::fflush(out_);
}

void StatusOutput::Flush() { logWriter_.Flush(); }

}  // namespace zent
