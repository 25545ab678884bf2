#include "motion/motion_source.h"

#include <cmath>
#include <cstdio>

#include "record/camera_feed.h"
#include "record/packet_source.h"

namespace zent {
namespace {

using Clock = MotionPictures::Clock;
using namespace std::chrono_literals;

// A few seconds of the recorded stream; one that is looked at too slowly skips ahead.
constexpr std::size_t kQueueBytes = 4u << 20;
constexpr auto kOpenTimeout = 10s;
constexpr auto kReadTimeout = 10s;
constexpr auto kReconnectPause = 2s;

std::int64_t Nanoseconds(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

}  // namespace

std::string MotionLine(double area) {
  char text[64];
  // Whole percent, except below one, where "0 %" would read as nothing.
  if (area >= 0.95) std::snprintf(text, sizeof text, "Motion detected (%.0f %% of the picture)", std::round(area));
  else std::snprintf(text, sizeof text, "Motion detected (%.1f %% of the picture)", area);
  return text;
}

MotionSource::MotionSource(MotionSourceSettings settings, std::shared_ptr<SessionHost> host)
    : settings_(std::move(settings)),
      host_(std::move(host)),
      detector_(settings_.detection),
      pictures_(!settings_.subStreamUrl.empty()) {}

std::shared_ptr<MotionSource> MotionSource::Start(MotionSourceSettings settings, std::shared_ptr<SessionHost> host) {
  std::shared_ptr<MotionSource> source(new MotionSource(std::move(settings), std::move(host)));
  return StartThread(source) ? source : nullptr;
}

void MotionSource::OnStop() {
  if (viewer_) viewer_->End();
}

void MotionSource::Body() {
  const bool subStream = !settings_.subStreamUrl.empty();
  if (!Stopping())
    host_->AddStatusLine(subStream ? "Watching " + settings_.subStreamLabel + " for motion."
                                   : std::string("Watching the camera's video for motion."));
  if (!Stopping()) host_->LoginAccepted();
  if (subStream) WatchSubStream();
  else if (settings_.feed) WatchFeed();
}

void MotionSource::Look(const AVPacket& packet, const AVCodecParameters& parameters, Clock::time_point at) {
  const auto picture = pictures_.Take(packet, parameters, at, detector_.Unsure());
  if (!picture) return;
  const auto area = detector_.Feed(*picture, at);
  if (!area || Stopping()) return;
  host_->AddStatusLine(MotionLine(*area));
  EventOrigin origin{"motion"};
  origin.area = *area;
  if (!Stopping()) host_->CameraEvent(origin);
}

void MotionSource::WatchFeed() {
  while (!Stopping()) {
    auto viewer = settings_.feed->Watch(kQueueBytes);
    {
      std::lock_guard lock(mutex_);
      if (Stopping()) return;
      viewer_ = viewer;
    }
    std::uint64_t segment = 0;
    bool first = true;
    while (!Stopping()) {
      const LivePacketPtr live = viewer->Next(1s);
      if (!live) {
        if (viewer->Ended()) break;  // the stream was lost; the engine connects again
        continue;
      }
      if (!live->packet || !live->parameters) continue;
      if (first || live->segment != segment) pictures_.Reset();
      first = false;
      segment = live->segment;
      Look(*live->packet, *live->parameters, live->arrival);
    }
    Pause(200ms);
  }
}

int MotionSource::Interrupt(void* opaque) {
  auto* source = static_cast<MotionSource*>(opaque);
  return source->Stopping() || Nanoseconds(Clock::now()) > source->ioDeadline_ ? 1 : 0;
}

void MotionSource::WatchSubStream() {
  const std::string& label = settings_.subStreamLabel;
  bool down = false;  // an outage is said once, and its end once
  PacketPtr packet = NewPacket();
  while (!Stopping() && packet) {
    ioDeadline_ = Nanoseconds(Clock::now() + kOpenTimeout);
    int error = 0;
    const std::unique_ptr<PacketSource> source = OpenPacketSource(settings_.subStreamUrl, {&Interrupt, this}, error);
    if (Stopping()) return;
    if (!source) {
      if (!down) host_->AddStatusLine("Motion stream " + label + ": " + SourceErrorText(error));
      down = true;
      Pause(kReconnectPause);
      continue;
    }
    if (down) host_->AddStatusLine("Motion stream " + label + " is back.");
    down = false;
    pictures_.Reset();
    for (;;) {
      ioDeadline_ = Nanoseconds(Clock::now() + kReadTimeout);
      if (source->Read(*packet) < 0) break;
      Look(*packet, source->Parameters(), Clock::now());
      av_packet_unref(packet.get());
    }
    if (Stopping()) return;
    host_->AddStatusLine("Motion stream " + label + " lost.");
    down = true;
    Pause(kReconnectPause);
  }
}

}  // namespace zent
