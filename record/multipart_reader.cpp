#include "record/multipart_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace zent {
namespace {

constexpr std::size_t kMaxPreambleBytes = 64u << 10;  // junk between parts is dropped, not kept
constexpr std::size_t kLineRead = 4u << 10;           // between parts: little, so bodies land in their part
constexpr std::size_t kMaxOpenRead = 64u << 10;

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

}  // namespace

std::size_t MultipartReader::FindDelimiter(std::string_view text, std::size_t from) const {
  std::size_t at = text.find(needle_, from);
  while (at != std::string_view::npos && at != 0 && text[at - 1] != '\n') at = text.find(needle_, at + 1);
  return at;
}

std::size_t MultipartReader::BodyEnd(std::string_view text, std::size_t delimiter) {
  std::size_t end = delimiter;
  if (end > 0 && text[end - 1] == '\n') --end;
  if (end > 0 && text[end - 1] == '\r') --end;
  return end;
}

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

PartBuffer::PartBuffer(std::size_t capacity) : bytes_(new std::uint8_t[capacity + kPartPadding]), capacity_(capacity) {}

void PartBuffer::Reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity + kPartPadding]);
  if (size_ > 0) std::memcpy(bigger.get(), bytes_.get(), size_);
  bytes_ = std::move(bigger);
  capacity_ = capacity;
}

void PartBuffer::Pad() {
  if (bytes_) std::memset(bytes_.get() + size_, 0, kPartPadding);
}

std::uint8_t* PartBuffer::Release() {
  size_ = capacity_ = 0;
  return bytes_.release();
}

MultipartReader::MultipartReader(std::string boundary, std::size_t maxPartBytes)
    : boundary_(std::move(boundary)),
      needle_(boundary_.empty()             ? "--"
              : StartsWith(boundary_, "--") ? boundary_
                                            : "--" + boundary_),
      maxPart_(maxPartBytes) {}

bool MultipartReader::IsDelimiterLine(std::string_view line) const {
  // RFC 2046 puts "--" before the boundary; many cameras already include it in the boundary.
  if (!StartsWith(line, "--")) return false;
  if (boundary_.empty()) return true;
  return StartsWith(line.substr(2), boundary_) || (StartsWith(boundary_, "--") && StartsWith(line, boundary_));
}

std::span<std::uint8_t> MultipartReader::Space(std::size_t wanted) {
  wanted = std::max<std::size_t>(wanted, 1);
  if (status_ != Status::Ok) return {};
  if (state_ == State::SizedBody) {
    spaceInPart_ = true;
    return {part_.data() + part_.size(), std::min(wanted, contentLength_ - part_.size())};
  }
  if (state_ == State::OpenBody) {
    // Doubling, so a part without a declared length is moved O(log n) times, never per read;
    // never past the bound and one read. What room there is is offered before growing.
    const std::size_t offered = std::min(wanted, kMaxOpenRead);
    if (part_.capacity() - part_.size() < std::min(offered, kLineRead))
      part_.Reserve(std::min(std::max(part_.capacity() * 2, part_.size() + offered), maxPart_ + offered));
    spaceInPart_ = true;
    return {part_.data() + part_.size(), std::min(offered, part_.capacity() - part_.size())};
  }
  spaceInPart_ = false;
  wanted = std::min(wanted, kLineRead);
  if (lines_.size() - end_ < wanted) {
    // Moved to the front only when at least half of it has been read: each byte moves at most
    // once on average.
    if (start_ > 0 && start_ >= (end_ - start_)) {
      std::memmove(lines_.data(), lines_.data() + start_, end_ - start_);
      lineScanned_ = std::max(lineScanned_, start_) - start_;
      end_ -= start_;
      start_ = 0;
    }
    if (lines_.size() - end_ < wanted) lines_.resize(std::max(lines_.size() * 2, end_ + wanted));
  }
  return {lines_.data() + end_, wanted};
}

MultipartReader::Status MultipartReader::Commit(std::size_t count, std::vector<PartBuffer>& parts) {
  if (status_ != Status::Ok) return status_;
  if (spaceInPart_) part_.Resize(part_.size() + count);
  else end_ += count;
  return Run(parts);
}

MultipartReader::Status MultipartReader::Feed(const std::uint8_t* data, std::size_t size,
                                              std::vector<PartBuffer>& parts) {
  while (size > 0 && status_ == Status::Ok) {
    const std::span<std::uint8_t> space = Space(size);
    std::memcpy(space.data(), data, space.size());
    data += space.size();
    size -= space.size();
    Commit(space.size(), parts);
  }
  return status_;
}

MultipartReader::Status MultipartReader::Fail(Status status) {
  // The stream is done with: give the memory back.
  std::vector<std::uint8_t>().swap(lines_);
  start_ = end_ = lineScanned_ = 0;
  part_ = PartBuffer();
  return status_ = status;
}

void MultipartReader::Emit(std::vector<PartBuffer>& parts) {
  if (!part_.empty()) {  // an empty part is no picture
    part_.Pad();
    parts.push_back(std::move(part_));
  }
  part_ = PartBuffer();
  state_ = State::Preamble;
}

bool MultipartReader::NextLine(std::string_view& line) {
  const std::uint8_t* begin = lines_.data() + std::max(start_, lineScanned_);
  const auto* nl = static_cast<const std::uint8_t*>(std::memchr(begin, '\n', lines_.data() + end_ - begin));
  if (!nl) {
    lineScanned_ = end_;
    return false;
  }
  const std::size_t lineEnd = static_cast<std::size_t>(nl - lines_.data());
  line = std::string_view(reinterpret_cast<const char*>(lines_.data()) + start_, lineEnd - start_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  start_ = lineEnd + 1;
  lineScanned_ = start_;
  return true;
}

MultipartReader::Status MultipartReader::Run(std::vector<PartBuffer>& parts) {
  for (;;) {
    switch (state_) {
      case State::Preamble: {
        std::string_view line;
        if (!NextLine(line)) {
          if (end_ - start_ > kMaxPreambleBytes) start_ = lineScanned_ = end_;  // no line in sight: nothing to keep
          return status_;
        }
        if (IsDelimiterLine(line)) {
          state_ = State::Headers;
          sized_ = false;
        }
        break;
      }
      case State::Headers: {
        const std::size_t lineStart = start_;
        std::string_view line;
        if (!NextLine(line)) {
          if (end_ - start_ > kMaxPartHeaderBytes) return Fail(Status::BadHeader);
          return status_;
        }
        if (start_ - lineStart > kMaxPartHeaderBytes) return Fail(Status::BadHeader);
        if (line.empty()) {
          if (sized_ && contentLength_ > maxPart_) return Fail(Status::PartTooLarge);
          state_ = sized_ ? State::SizedBody : State::OpenBody;
          scanned_ = 0;
          if (sized_) {
            // What came with the headers goes into the part; the rest of it is read straight there.
            part_ = PartBuffer(contentLength_);
            const std::size_t take = std::min(end_ - start_, contentLength_);
            if (take > 0) std::memcpy(part_.data(), lines_.data() + start_, take);
            part_.Resize(take);
            start_ += take;
          }
          break;
        }
        if (IsDelimiterLine(line)) {  // a part with no body: start again
          sized_ = false;
          break;
        }
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && Lower(Trim(line.substr(0, colon))) == "content-length") {
          const std::string_view value = Trim(line.substr(colon + 1));
          if (value.empty() || value.size() > 12 ||
              !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return Fail(Status::BadHeader);
          contentLength_ = std::stoull(std::string(value));
          sized_ = true;
          // Refused before a byte of the body is taken.
          if (contentLength_ > maxPart_) return Fail(Status::PartTooLarge);
        }
        break;
      }
      case State::SizedBody: {
        if (part_.size() < contentLength_) return status_;
        Emit(parts);
        break;
      }
      case State::OpenBody: {
        // Searched once, with an overlap for a delimiter cut between two reads.
        const std::size_t overlap = needle_.size() + 1;
        const std::size_t from = scanned_ > overlap ? scanned_ - overlap : 0;
        if (part_.capacity() == 0) {
          // Still among the lines read with the headers: a part that ends there is copied once,
          // out of them, and what follows it stays where it is.
          const std::string_view text(reinterpret_cast<const char*>(lines_.data()) + start_, end_ - start_);
          const std::size_t at = FindDelimiter(text, from);
          if (at == std::string_view::npos) {
            // Its end is further on: it moves to a part of its own, and is read straight there.
            part_ = PartBuffer(
                std::max(std::min(lastOpenPart_ + lastOpenPart_ / 4 + kLineRead, maxPart_ + 1), text.size()));
            if (!text.empty()) std::memcpy(part_.data(), text.data(), text.size());
            part_.Resize(text.size());
            start_ = end_;
            scanned_ = part_.size();
            if (part_.size() > maxPart_) return Fail(Status::PartTooLarge);
            return status_;
          }
          const std::size_t bodyEnd = BodyEnd(text, at);
          if (bodyEnd > maxPart_) return Fail(Status::PartTooLarge);
          part_ = PartBuffer(bodyEnd);
          if (bodyEnd > 0) std::memcpy(part_.data(), text.data(), bodyEnd);
          part_.Resize(bodyEnd);
          start_ += at;  // the delimiter line stays for the preamble state to take
          lastOpenPart_ = bodyEnd;
          Emit(parts);
          break;
        }
        const std::string_view text = part_.Text();
        const std::size_t at = FindDelimiter(text, from);
        if (at == std::string_view::npos) {
          scanned_ = part_.size();
          if (part_.size() > maxPart_) return Fail(Status::PartTooLarge);
          return status_;
        }
        const std::size_t bodyEnd = BodyEnd(text, at);
        if (bodyEnd > maxPart_) return Fail(Status::PartTooLarge);
        // The delimiter line and what follows it go back to the lines, once.
        const std::size_t rest = part_.size() - at;
        if (lines_.size() - end_ < rest) lines_.resize(end_ + rest);
        std::memcpy(lines_.data() + end_, part_.data() + at, rest);
        end_ += rest;
        part_.Resize(bodyEnd);
        lastOpenPart_ = bodyEnd;
        Emit(parts);
        break;
      }
    }
  }
}

}  // namespace zent
