#pragma once
// The writing thread of the video engine: takes jobs in order, so packets queued before an End are
// in the file and none queued after it. A slow disk holds up only this thread; beyond a bound
// of queued bytes packets are dropped and counted, never the reader blocked.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "record/camera_feed.h"
#include "record/disk_space.h"
#include "record/ffmpeg_ptr.h"
#include "record/file_io.h"
#include "record/recording_name.h"
#include "record/video_listener.h"
#include "record/video_mode.h"

namespace zent {

class FileWriter;

// What the reader hands the writing thread, in order.
struct BeginRecording {
  std::string path;                                 // for reports
  CreatedFile file;                                 // already created; written and deleted only through it
  std::chrono::steady_clock::time_point requested;  // when the recording was asked for
  std::chrono::steady_clock::time_point event;      // the event the recording is for
  bool reportPreEvent = false;                      // the saved report says how much came from before the event
  DiskGuard guard;                                  // what the recording keeps free on its disk
  std::string stem;                                 // the recordings' stem, for deleting the oldest of them
  double bytesPerSecond = 0;                        // the stream's data rate before the recording
};

struct RecordedPacket {
  PacketPtr packet;
  std::shared_ptr<const AVCodecParameters> parameters;  // the stream's, for the file's header
  std::uint64_t segment = 0;                            // which connection to the camera the packet came over
  VideoMode mode;
  AVRational frameRate{25, 1};
  bool arrivalClock = true;  // the source has no time stamps of its own
  AVRational sourceTimeBase{1, 1};
  std::chrono::steady_clock::time_point arrival;
  bool buffered = false;  // from the pre-event buffer, held in memory already
};

struct EndRecording {};
struct QuitWriting {};

using RecordJob = std::variant<BeginRecording, RecordedPacket, EndRecording, QuitWriting>;

// A second hold on a packet's bytes, with the same details: for the pre-event buffer beside the
// writer, both of which only read them.
RecordedPacket SharePacket(const RecordedPacket& packet);

class Recorder {
 public:
  // `stats`, when given, counts the frames and bytes written and the frames dropped.
  Recorder(VideoListener& listener, Retention retention = {}, std::shared_ptr<FeedStats> stats = nullptr);
  ~Recorder();  // closes an open file with its index
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Post(RecordJob job);

 private:
  void Run();
  void Begin(BeginRecording& begin);
  void Write(RecordedPacket& job);
  void Close();
  void Fail(const std::string& error);
  // Deletes the recording's own file, made for it; nothing else.
  void DeleteOwnFile();
  std::uint64_t Dropped();
  // How much of the file lies before its event.
  double PreEventSeconds() const;
  // While recording: stops with the index written when the disk is almost full.
  void CheckRoom();
  // One pass of the storage rules over the camera's recordings: the retention by age, the camera's
  // share, and before a recording (`begin`) the room it needs. False: no room, the recording's
  // file deleted and the refusal reported.
  bool KeepStorage(const BeginRecording* begin);
  // A kept recording passed by, said once per recording.
  void SayKept(const RecordingFile& file, const std::string& why);

  VideoListener& listener_;
  const Retention retention_;
  const std::shared_ptr<FeedStats> stats_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<RecordJob> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint64_t dropped_ = 0;
  std::chrono::steady_clock::time_point batchDue_;  // when the frames waiting are written
  bool writeNow_ = false;                           // the waiting jobs are due
  bool idle_ = false;                               // the writer waits for a wake-up, not for the next batch
  bool firstFrameDue_ = false;                      // a recording has begun and its first frame is still to come

  // Writing thread only.
  std::string path_;
  CreatedFile file_;
  std::unique_ptr<FileWriter> writer_;
  AVRational rate_{25, 1};
  std::chrono::steady_clock::time_point requested_, event_, firstArrival_, lastFlush_;
  bool reportPreEvent_ = false;
  DiskGuard guard_;
  std::int64_t bytesWritten_ = 0;
  std::chrono::steady_clock::time_point lastDiskCheck_;
  std::uint64_t segment_ = 0;
  std::int64_t segmentStart_ = 0;  // the file's frame at which the current connection began
  std::int64_t segmentFirstTs_ = AV_NOPTS_VALUE;
  std::uint64_t droppedAtStart_ = 0;
  std::set<std::string> saidKept_;
  std::thread thread_;  // last: starts once everything above is ready
};

}  // namespace zent
