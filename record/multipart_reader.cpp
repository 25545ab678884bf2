#include "record/multipart_reader.h"

#include <algorithm>
#include <cctype>

namespace zent {
namespace {

constexpr std::size_t kMaxPreambleBytes = 64u << 10;  // junk between parts is dropped, not kept

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The text of one line at `begin`, without its CR LF; npos in `end` when the line is not complete.
std::string_view LineAt(const std::vector<std::uint8_t>& buffer, std::size_t begin, std::size_t& end) {
  const auto nl = std::find(buffer.begin() + static_cast<std::ptrdiff_t>(begin), buffer.end(), '\n');
  if (nl == buffer.end()) {
    end = std::string_view::npos;
    return {};
  }
  end = static_cast<std::size_t>(nl - buffer.begin()) + 1;
  std::string_view line(reinterpret_cast<const char*>(buffer.data()) + begin, end - 1 - begin);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

std::string MultipartBoundary(std::string_view contentType) {
  const std::string lower = Lower(contentType);
  if (!StartsWith(Trim(lower), "multipart/")) return {};
  const std::size_t at = lower.find("boundary=");
  if (at == std::string::npos) return {};
  std::string_view value = contentType.substr(at + 9);
  value = value.substr(0, value.find(';'));
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}

MultipartReader::MultipartReader(std::string boundary, std::size_t maxPartBytes)
    : boundary_(std::move(boundary)), maxPart_(maxPartBytes) {}

bool MultipartReader::IsDelimiterLine(std::string_view line) const {
  // RFC 2046 puts "--" before the boundary; many cameras already include it in the boundary.
  if (boundary_.empty()) return StartsWith(line, "--");
  return StartsWith(line, "--" + boundary_) || (StartsWith(boundary_, "--") && StartsWith(line, boundary_));
}

std::size_t MultipartReader::FindDelimiter(std::size_t from) const {
  const std::string pattern = boundary_.empty() || StartsWith(boundary_, "--") ? boundary_ : "--" + boundary_;
  const std::string_view needle = pattern.empty() ? std::string_view("--") : std::string_view(pattern);
  const std::string_view text(reinterpret_cast<const char*>(buffer_.data()), buffer_.size());
  for (std::size_t at = text.find(needle, from); at != std::string_view::npos; at = text.find(needle, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return at;
  }
  return std::string_view::npos;
}

MultipartReader::Status MultipartReader::Feed(const std::uint8_t* data, std::size_t size,
                                              std::vector<std::vector<std::uint8_t>>& parts) {
  if (status_ != Status::Ok) return status_;
  // Grow by doubling, but never past what a part may hold: the bound is on memory, not on data.
  if (buffer_.size() + size > buffer_.capacity()) {
    const std::size_t ceiling = std::max(maxPart_, kMaxPreambleBytes) + size;
    buffer_.reserve(std::min(std::max(buffer_.capacity() * 2, buffer_.size() + size), ceiling));
  }
  buffer_.insert(buffer_.end(), data, data + size);
  auto fail = [this](Status status) {
    std::vector<std::uint8_t>().swap(buffer_);  // the stream is done with: give the memory back
    return status_ = status;
  };
  auto consume = [this](std::size_t count) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(count));
  };

  for (;;) {
    switch (state_) {
      case State::Preamble: {
        std::size_t end = 0;
        const std::string_view line = LineAt(buffer_, 0, end);
        if (end == std::string_view::npos) {
          if (buffer_.size() > kMaxPreambleBytes) buffer_.clear();  // no line in sight: nothing to keep
          return status_;
        }
        const bool delimiter = IsDelimiterLine(line);
        consume(end);
        if (delimiter) {
          state_ = State::Headers;
          sized_ = false;
        }
        break;
      }
      case State::Headers: {
        std::size_t end = 0;
        const std::string_view line = LineAt(buffer_, 0, end);
        if (end == std::string_view::npos) {
          if (buffer_.size() > kMaxPartHeaderBytes) return fail(Status::BadHeader);
          return status_;
        }
        if (end > kMaxPartHeaderBytes) return fail(Status::BadHeader);
        if (line.empty()) {
          consume(end);
          if (sized_ && contentLength_ > maxPart_) return fail(Status::PartTooLarge);
          state_ = sized_ ? State::SizedBody : State::OpenBody;
          scanned_ = 0;
          break;
        }
        if (IsDelimiterLine(line)) {  // a part with no body: start again
          consume(end);
          sized_ = false;
          break;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && Lower(Trim(line.substr(0, colon))) == "content-length") {
          const std::string_view value = Trim(line.substr(colon + 1));
          if (value.empty() || value.size() > 12 ||
              !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return fail(Status::BadHeader);
          contentLength_ = std::stoull(std::string(value));
          sized_ = true;
          // Refused before a byte of the body is taken.
          if (contentLength_ > maxPart_) return fail(Status::PartTooLarge);
        }
        consume(end);
        break;
      }
      case State::SizedBody: {
        if (buffer_.size() < contentLength_) return status_;
        if (contentLength_ > 0)  // an empty part is no picture
          parts.emplace_back(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(contentLength_));
        consume(contentLength_);
        state_ = State::Preamble;
        break;
      }
      case State::OpenBody: {
        const std::size_t overlap = boundary_.size() + 3;
        const std::size_t at = FindDelimiter(scanned_ > overlap ? scanned_ - overlap : 0);
        if (at == std::string_view::npos) {
          scanned_ = buffer_.size();
          if (buffer_.size() > maxPart_) return fail(Status::PartTooLarge);
          return status_;
        }
        std::size_t bodyEnd = at;
        if (bodyEnd > 0 && buffer_[bodyEnd - 1] == '\n') --bodyEnd;
        if (bodyEnd > 0 && buffer_[bodyEnd - 1] == '\r') --bodyEnd;
        if (bodyEnd > maxPart_) return fail(Status::PartTooLarge);
        if (bodyEnd > 0) parts.emplace_back(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bodyEnd));
        consume(at);  // the delimiter line stays for the preamble state to take
        state_ = State::Preamble;
        break;
      }
    }
  }
}

}  // namespace zent
