#pragma once
// A viewer control that writes down every call, can refuse to record, and can report a video
// mode change; it stands in for the real one in the recording window.

#include <QString>
#include <QStringList>
#include <vector>

#include "app/record/viewer_control.h"

namespace zent::testing {

struct FakeViewerLog {
  QStringList calls;
  bool refuseRecording = false;
  QString videoUrlTemplate;  // as the recording window last set it
  std::vector<class FakeViewer*> live;
  int Count(const QString& call) const { return static_cast<int>(calls.count(call)); }
};

class FakeViewer : public ViewerControl {
 public:
  FakeViewer(QWidget* parent, FakeViewerLog& log) : ViewerControl(parent), log_(log) {
    setGeometry(0, 0, 320, 260);
    log_.calls << "create";
    log_.live.push_back(this);
  }
  ~FakeViewer() override {
    log_.calls << "destroy";
    std::erase(log_.live, this);
  }
  void SetProperty(int dispid, const QVariant& value) override {
    log_.calls << QString("put %1 %2").arg(dispid).arg(value.toString());
  }
  void Record(const QString& fileName, short command) override {
    log_.calls << QString("Record %1 %2").arg(fileName).arg(command);
    if (command == 2 && log_.refuseRecording)
      throw ViewerDispatchError("Cannot record to " + fileName.toStdString() + ": Permission denied");
  }
  void StartView() override { log_.calls << "StartView"; }
  void SetCamera(const CameraSetup& camera) override {
    log_.videoUrlTemplate = QString::fromLocal8Bit(camera.videoUrlTemplate);
  }
  void StopView() override { log_.calls << "StopView"; }
  void FireModeChange() { emit VideoModeChanged(); }

 private:
  FakeViewerLog& log_;
};

}  // namespace zent::testing
