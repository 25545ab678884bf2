#include "record/recorder.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

#include "config/paths.h"
#include "record/file_writer.h"
#include "record/kept_mark.h"
#include "record/recording_name.h"
#include "record/storage_policy.h"

namespace zent {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxQueuedBytes = 128u << 20;  // beyond this the disk is too slow: drop
constexpr auto kFlushPeriod = std::chrono::seconds(1);
constexpr auto kDiskCheckPeriod = std::chrono::seconds(2);
constexpr auto kPrunePeriod = std::chrono::hours(1);
// Frames are written a batch at a time: woken for each, the writer would cost two thread switches
// a frame. A batch is due this long after the last, or at this size.
constexpr auto kBatchDelay = std::chrono::milliseconds(200);
constexpr std::size_t kBatchBytes = 2u << 20;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

RecordedPacket SharePacket(const RecordedPacket& job) {
  RecordedPacket copy;
  copy.packet = NewPacket();
  if (copy.packet && job.packet && av_packet_ref(copy.packet.get(), job.packet.get()) < 0) copy.packet.reset();
  copy.parameters = job.parameters;
  copy.segment = job.segment;
  copy.mode = job.mode;
  copy.frameRate = job.frameRate;
  copy.arrivalClock = job.arrivalClock;
  copy.sourceTimeBase = job.sourceTimeBase;
  copy.arrival = job.arrival;
  return copy;
}

namespace {

// Bytes a queued job holds beyond the pre-event buffer's, for the queue's bound.
std::size_t QueuedBytes(const RecordJob& job) {
  const auto* packet = std::get_if<RecordedPacket>(&job);
  return packet && !packet->buffered ? static_cast<std::size_t>(packet->packet->size) : 0;
}

}  // namespace

Recorder::Recorder(VideoListener& listener, Retention retention, std::shared_ptr<FeedStats> stats)
    : listener_(listener), retention_(std::move(retention)), stats_(std::move(stats)), thread_([this] { Run(); }) {}

Recorder::~Recorder() {
  Post(EndRecording{});
  Post(QuitWriting{});
  thread_.join();
}

void Recorder::Post(RecordJob job) {
  bool wake = true;
  {
    std::lock_guard lock(mutex_);
    const bool frame = std::holds_alternative<RecordedPacket>(job);
    if (const std::size_t size = QueuedBytes(job); size > 0) {
      if (queuedBytes_ + size > kMaxQueuedBytes) {
        ++dropped_;
        if (stats_) ++stats_->framesDropped;
        return;
      }
      queuedBytes_ += size;
    }
    // Anything but a frame, a recording's first frames up to its first key frame (the file starts
    // there and its start is reported then), a frame for a writer not looking and a large batch
    // are written at once.
    if (!frame || firstFrameDue_ || idle_ || queuedBytes_ >= kBatchBytes) writeNow_ = true;
    else wake = false;
    const auto* packet = std::get_if<RecordedPacket>(&job);
    const bool key = packet && (packet->packet->flags & AV_PKT_FLAG_KEY);
    firstFrameDue_ = std::holds_alternative<BeginRecording>(job) || (firstFrameDue_ && !key);
    queue_.push_back(std::move(job));
  }
  if (wake) wake_.notify_one();
}

void Recorder::Run() {
  KeepStorage(nullptr);
  auto nextPrune = Clock::now() + kPrunePeriod;
  for (;;) {
    RecordJob job;
    bool batchDone = false;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        const auto now = Clock::now();
        if (now >= nextPrune || (!queue_.empty() && (writeNow_ || now >= batchDue_))) break;
        if (now >= batchDue_) batchDue_ = now + kBatchDelay;  // nothing came: look again then
        // Frames come without a wake-up while a file is open: they are looked for when due.
        idle_ = queue_.empty() && path_.empty();
        wake_.wait_until(lock, idle_ ? nextPrune : std::min(nextPrune, batchDue_));
        idle_ = false;
      }
      if (Clock::now() >= nextPrune) {
        lock.unlock();
        KeepStorage(nullptr);
        nextPrune = Clock::now() + kPrunePeriod;
        continue;
      }
      job = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= QueuedBytes(job);
      writeNow_ = !queue_.empty();  // the rest of the batch follows without a wait
      batchDone = queue_.empty();
      if (batchDone) batchDue_ = Clock::now() + kBatchDelay;
    }
    if (std::holds_alternative<QuitWriting>(job)) return;
    if (auto* packet = std::get_if<RecordedPacket>(&job)) Write(*packet);
    else if (auto* begin = std::get_if<BeginRecording>(&job)) Begin(*begin);
    else Close();
    // A file being recorded holds every batch taken: the page and the Recordings window play it
    // while it grows, and a killed program loses no more than the frames still queued.
    if (batchDone && writer_) writer_->Flush();
  }
}

void Recorder::Begin(BeginRecording& begin) {
  Close();
  path_ = begin.path;
  file_ = std::move(begin.file);
  requested_ = begin.requested;
  event_ = begin.event;
  reportPreEvent_ = begin.reportPreEvent;
  guard_ = begin.guard;
  bytesWritten_ = 0;
  lastDiskCheck_ = Clock::now();
  if (!KeepStorage(&begin)) path_.clear();
}

void Recorder::Write(RecordedPacket& job) {
  if (path_.empty()) return;
  const bool key = job.packet->flags & AV_PKT_FLAG_KEY;
  if (!writer_) {
    if (!key) return;
    std::string error;
    // The wall clock of the first frame's arrival: what puts this file beside the camera's others.
    const auto began = std::chrono::system_clock::now() -
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(Clock::now() - job.arrival);
    writer_ = FileWriter::Open(std::move(file_.fd), ContainerOf(path_), *job.parameters, job.frameRate, began, error);
    if (!writer_) {
      Fail(error);
      return;
    }
    rate_ = job.frameRate;
    firstArrival_ = job.arrival;
    segment_ = job.segment;
    segmentStart_ = 0;
    segmentFirstTs_ = AV_NOPTS_VALUE;
    lastFlush_ = Clock::now();
    droppedAtStart_ = Dropped();
  }
  if (job.mode != writer_->Mode()) {
    Close();  // another picture size cannot go into this file
    return;
  }
  const double sinceStart = std::chrono::duration<double>(job.arrival - firstArrival_).count();
  if (job.segment != segment_) {
    // The camera came back: its stream starts again at a key frame, with time stamps of its own,
    // and the time it was away stays in the file as time.
    if (!key) return;
    segment_ = job.segment;
    segmentFirstTs_ = AV_NOPTS_VALUE;
  }
  // Packets go into the file in decode order, so they are placed by their decode time, counted
  // from the connection's first packet that has one (the source fills in a connection's first
  // few; a packet still without one goes by its arrival, and the writer keeps every frame after
  // the one before).
  std::int64_t frame = std::llround(sinceStart * av_q2d(rate_));
  const std::int64_t dts = job.packet->dts;
  if (!job.arrivalClock && dts != AV_NOPTS_VALUE) {
    if (segmentFirstTs_ == AV_NOPTS_VALUE) {
      segmentFirstTs_ = dts;
      segmentStart_ = std::max(frame, writer_->LastFrame() + 1);
    }
    frame = segmentStart_ + av_rescale_q(dts - segmentFirstTs_, job.sourceTimeBase, av_inv_q(rate_));
  }
  // A B-frame's picture is shown after frames decoded later; MP4 keeps that offset, AVI has none.
  std::int64_t shownAfter = 0;
  if (!job.arrivalClock && dts != AV_NOPTS_VALUE && job.packet->pts != AV_NOPTS_VALUE && job.packet->pts > dts)
    shownAfter = av_rescale_q(job.packet->pts - dts, job.sourceTimeBase, av_inv_q(rate_));
  std::string error;
  const int size = job.packet->size;
  if (!writer_->Write(*job.packet, frame, shownAfter, error)) {
    Fail(error);
    return;
  }
  bytesWritten_ += size;
  if (stats_) {
    ++stats_->framesWritten;
    stats_->bytesWritten += static_cast<std::uint64_t>(size);
  }
  if (writer_->Frames() == 1) {
    VideoReport report{VideoReport::Kind::RecordingStarted, "Recording to " + path_, path_};
    report.firstFrameMs = Milliseconds(Clock::now() - requested_);
    report.preEventSeconds = PreEventSeconds();
    listener_.OnVideoReport(report);
  }
  if (Clock::now() - lastFlush_ >= kFlushPeriod) {
    writer_->Flush();
    lastFlush_ = Clock::now();
  }
  if (Clock::now() - lastDiskCheck_ >= kDiskCheckPeriod) {
    lastDiskCheck_ = Clock::now();
    CheckRoom();
  }
}

bool Recorder::KeepStorage(const BeginRecording* begin) {
  // The age and the share apply where the retention says; a recording's room is made among the
  // recordings of its own place.
  Retention rules = retention_;
  if (begin && (rules.folder != DirectoryPart(path_) || rules.stem != begin->stem))
    rules = {DirectoryPart(path_), begin->stem, 0, 0};
  StorageNeeds needs;
  needs.now = std::time(nullptr);
  if (begin) {
    needs.neededBytes = NeededBytes(guard_, begin->bytesPerSecond);
    needs.freeBytes = needs.neededBytes > 0 ? FreeBytes(path_) : -1;
    needs.deleteOldest = guard_.deleteOldest;
  }
  if (!path_.empty()) needs.making = file_.name;
  const bool ageOrShare = !rules.stem.empty() && (rules.keepDays > 0 || rules.maxBytes > 0);
  const bool room = needs.neededBytes == 0 || needs.freeBytes < 0 || needs.freeBytes >= needs.neededBytes;
  if (!ageOrShare && room) return true;
  std::shared_ptr<UniqueFd> folder = begin ? file_.folder : nullptr;
  if (!folder) folder = std::make_shared<UniqueFd>(::open(rules.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<StoredRecording> recordings;
  if (*folder && !rules.stem.empty())
    for (RecordingFile& file : FindRecordings(rules.folder, rules.stem)) {
      const bool kept = IsKept(file.path);
      recordings.push_back({std::move(file), kept});
    }
  const StoragePlan plan = PlanStorage(recordings, rules, needs);
  for (const StorageStep& step : plan.steps) {
    const std::string why = StorageWhy(step.reason, rules);
    if (step.kept) {
      SayKept(step.file, why);
      continue;
    }
    if (step.reason == StorageReason::Disk && FreeBytes(path_) >= needs.neededBytes) break;
    if (!DeleteIn(*folder, step.file.name)) continue;
    std::string line = step.reason == StorageReason::Disk ? "Deleted the oldest recording " : "Deleted ";
    line += step.file.path + " (" + SizeText(step.file.size) + ")";
    line += step.reason == StorageReason::Disk ? " to keep " + SizeText(needs.neededBytes) + " free" : ": " + why;
    listener_.OnVideoReport({VideoReport::Kind::RecordingDeleted, line, step.file.path});
  }
  if (!begin || room) return true;
  const std::int64_t free = FreeBytes(path_);
  if (free < 0 || free >= needs.neededBytes) return true;
  std::string why;
  if (!plan.room && plan.older > 0)
    why = " (deleting all " + std::to_string(plan.older) + " older recordings would free only " +
          SizeText(plan.deletable) + ", so none was deleted)";
  DeleteOwnFile();  // made empty for this recording; nothing will go into it
  listener_.OnVideoReport({VideoReport::Kind::RecordingFailed,
                           "Disk almost full: not recording " + path_ + "; " + SizeText(free) + " left" + why, path_});
  return false;
}

void Recorder::SayKept(const RecordingFile& file, const std::string& why) {
  if (!saidKept_.insert(file.path).second) return;
  listener_.OnVideoReport({VideoReport::Kind::RecordingKept, "Kept " + file.path + ", though " + why});
}

void Recorder::CheckRoom() {
  const double seconds = std::chrono::duration<double>(Clock::now() - firstArrival_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytesWritten_) / seconds : 0;
  const std::int64_t free = FreeBytes(path_);
  if (free < 0 || free >= NeededBytes(guard_, rate)) return;
  const std::string path = std::exchange(path_, {});
  std::string error;
  const bool ok = writer_->Finish(error);  // the index, so the file plays
  char text[160];
  std::snprintf(text, sizeof text, " at %lld frames, %.1f s; ", static_cast<long long>(writer_->Frames()),
                writer_->Seconds());
  VideoReport report{ok ? VideoReport::Kind::RecordingSaved : VideoReport::Kind::RecordingFailed,
                     "Disk almost full: stopped recording " + path + text + SizeText(free) + " left", path,
                     writer_->Frames(), writer_->Seconds()};
  report.preEventSeconds = PreEventSeconds();
  if (!ok) report.text += " (" + error + ")";
  writer_.reset();
  listener_.OnVideoReport(report);
}

void Recorder::Close() {
  if (path_.empty()) return;
  const std::string path = std::exchange(path_, {});
  if (!writer_) {
    DeleteOwnFile();  // an empty file helps nobody
    listener_.OnVideoReport(
        {VideoReport::Kind::RecordingFailed, "Nothing saved to " + path + ": no video arrived", path});
    return;
  }
  std::string error;
  const bool ok = writer_->Finish(error);
  VideoReport report{ok ? VideoReport::Kind::RecordingSaved : VideoReport::Kind::RecordingFailed, "", path,
                     writer_->Frames(), writer_->Seconds()};
  char summary[96];
  std::snprintf(summary, sizeof summary, ": %lld frames, %.1f s", static_cast<long long>(report.frames),
                report.seconds);
  report.text = ok ? "Saved " + path + summary : "Could not finish " + path + ": " + error;
  report.preEventSeconds = PreEventSeconds();
  if (ok && reportPreEvent_) {
    std::snprintf(summary, sizeof summary, " (%.1f s before the event)", report.preEventSeconds);
    report.text += summary;
  }
  const std::uint64_t dropped = Dropped() - droppedAtStart_;
  if (dropped > 0) report.text += " (" + std::to_string(dropped) + " frames dropped: the disk was too slow)";
  writer_.reset();
  listener_.OnVideoReport(report);
}

void Recorder::Fail(const std::string& error) {
  const std::string path = std::exchange(path_, {});
  std::int64_t kept = 0;
  if (writer_) {
    std::string ignored;
    writer_->Finish(ignored);  // keep what is there playable
    kept = writer_->Frames();
    writer_.reset();
  }
  if (kept == 0) DeleteOwnFile();  // nothing in it worth keeping
  listener_.OnVideoReport({VideoReport::Kind::RecordingFailed,
                           "Could not write " + path + ": " + error + "; " + std::to_string(kept) + " frames kept",
                           path, kept});
}

void Recorder::DeleteOwnFile() {
  if (file_.folder) DeleteIn(*file_.folder, file_.name);
}

double Recorder::PreEventSeconds() const {
  return std::max(0.0, std::chrono::duration<double>(event_ - firstArrival_).count());
}

std::uint64_t Recorder::Dropped() {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace zent
