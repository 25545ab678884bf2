#pragma once
// The viewer's engine: receives the camera's video, hands the newest picture to the window
// while it is shown, and records into AVI files by stream copy. Two threads of its own: this one
// reads the network, the Recorder writes the file, so neither a dead camera nor a slow disk holds
// the other up, and the caller never waits for either.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "record/camera_feed.h"
#include "record/disk_space.h"
#include "record/ffmpeg_ptr.h"
#include "record/live_decoder.h"
#include "record/pre_event_buffer.h"
#include "record/recorder.h"
#include "record/recorder_finishing.h"
#include "record/stream_meter.h"
#include "record/video_listener.h"
#include "record/video_mode.h"
#include "record/video_source.h"

namespace zent {

class PacketSource;

struct EngineTimings {
  std::chrono::milliseconds reconnectPause{2000};
  std::chrono::milliseconds openTimeout{10000};
  std::chrono::milliseconds readTimeout{10000};  // no data for this long: the stream is lost
};

class VideoEngine {
 public:
  explicit VideoEngine(VideoListener& listener, EngineTimings timings = {});
  ~VideoEngine();  // StopView
  VideoEngine(const VideoEngine&) = delete;
  VideoEngine& operator=(const VideoEngine&) = delete;

  void SetSource(VideoSource source);  // takes effect at the next StartView
  // Where live viewers and counters get the stream; from the next StartView on.
  void SetFeed(std::shared_ptr<CameraFeed> feed) { feed_ = std::move(feed); }
  // Pictures are decoded only while a size is set, and only as large as it needs.
  void SetDisplaySize(int width, int height);
  // The window has taken the last picture; the next may come.
  void PictureTaken() { pictureInFlight_ = false; }

  void StartView();
  // Stops both threads and closes an open recording properly; returns within about 200 ms, and
  // never waits for the disk: the recording is finished in the background.
  void StopView();
  // True once the recordings closed by StopView are finished, false at `deadline` if not.
  bool WaitUntilFinished(std::chrono::steady_clock::time_point deadline);

  // Keeps the last `seconds` of packets while viewing, so that a recording can begin before its
  // event (0: recordings begin at the next key frame after they are asked for).
  void SetPreEventSeconds(double seconds);
  // The camera's event happened now; the next StartRecording reaches back from here.
  void MarkEvent();
  // What recordings keep free on their disk; checked before each starts and while it runs.
  void SetDiskGuard(DiskGuard guard);
  // Applied from the next StartView on: at its start and every hour.
  void SetRetention(Retention retention);

  // Creates the file now (an existing one is never overwritten) and records from the last key
  // frame at or before the event minus the pre-event seconds, or from the next key frame when
  // there is none. Returns the path created, or an empty path with the reason in `error`.
  std::string StartRecording(const std::string& wanted, std::string& error);
  // Writes the index and closes the file, on the writing thread.
  void StopRecording();
  bool Recording() const { return recordingWanted_; }

 private:
  void ReadLoop();
  // Reads one connection's packets until the stream ends; false when it was lost.
  bool ReadStream(PacketSource& source, const std::string& label, std::uint64_t segment, bool cameBack);
  void ShowPicture(const AVPacket& packet, const AVCodecParameters& parameters, bool wantPicture);
  bool PauseReading(std::chrono::milliseconds duration);
  static int Interrupt(void* engine);
  // Charges a packet to the process's memory budget, making room in the pre-event buffer if it
  // must; false when the frame is to be dropped. Reader thread, with bufferMutex_ held.
  bool Charge(AVPacket& packet, bool buffering);
  // Hands a packet to the live feed: the recording's own charged bytes when it has them, else a
  // reference of its own, charged too.
  void Feed(const AVPacket& packet, const std::shared_ptr<const AVCodecParameters>& parameters, std::uint64_t segment,
            AVRational timeBase, bool arrivalClock, std::chrono::steady_clock::time_point arrival, bool charged);

  VideoListener& listener_;
  const EngineTimings timings_;
  const std::shared_ptr<ListenerLink> link_;  // what the writing thread reports through
  Finishing finishing_;
  VideoSource source_;
  std::shared_ptr<CameraFeed> feed_;  // set while no reader runs

  std::thread reader_;
  std::atomic<bool> stop_{false};
  std::mutex pauseMutex_;
  std::condition_variable pauseWake_;
  std::atomic<std::int64_t> ioDeadline_{0};  // steady clock, ns

  std::atomic<int> displayWidth_{0};
  std::atomic<int> displayHeight_{0};
  std::atomic<bool> pictureInFlight_{false};
  std::chrono::steady_clock::time_point lastDecode_;
  LiveDecoder live_;
  std::atomic<int> streamCodec_{0};  // AVCodecID of the stream last connected; 0 before

  std::uint64_t droppedForMemory_ = 0;  // reader thread: frames dropped since the budget filled
  std::optional<VideoMode> mode_;
  StreamMeter meter_;
  DiskGuard diskGuard_;  // GUI thread
  Retention retention_;  // GUI thread

  std::atomic<bool> recordingWanted_{false};
  std::unique_ptr<Recorder> recorder_;
  // Guards the buffer and the moment a recording starts, so that no packet is in the file twice
  // or missing between the buffered ones and the live ones.
  std::mutex bufferMutex_;
  PreEventBuffer preEvent_;
  std::atomic<std::int64_t> eventTime_{0};  // steady clock, ns; 0: no event marked
};

}  // namespace zent
