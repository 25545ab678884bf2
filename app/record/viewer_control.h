#pragma once
// The viewer control as the recording window drives it: twelve properties by dispatch id, three
// methods and one event. CKRLActiveX is the real one; tests put a fake in its place.

#include <QVariant>
#include <QWidget>
#include <functional>
#include <stdexcept>

#include "record/disk_space.h"
#include "camera/camera_setup.h"
#include "record/video_listener.h"

inline constexpr int IDC_VIEWER = 1035;

// The commands of Record.
inline constexpr short kRecordStop = 0;
inline constexpr short kRecordStart = 2;

// The control's dispatch error, raised by a failing call.
class ViewerDispatchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Dispatch ids of the properties.
enum ViewerProperty {
  DISPID_ADDRESS = 1,
  DISPID_VIEW_WIDTH = 2,
  DISPID_VIEW_HEIGHT = 3,
  DISPID_BOOL4 = 4,
  DISPID_BOOL5 = 5,
  DISPID_BOOL6 = 6,
  DISPID_REAL7 = 7,
  DISPID_USER = 8,
  DISPID_PORT = 9,
  DISPID_REAL10 = 10,
  DISPID_PASSWORD = 11,
  DISPID_TEXT12 = 12,
};

class ViewerControl : public QWidget {
  Q_OBJECT

 public:
  using QWidget::QWidget;

  // One property put by dispatch id; the value's type is the property's (text, 32-bit integer,
  // Boolean or 32-bit real).
  virtual void SetProperty(int dispid, const QVariant& value) = 0;
  // kRecordStart starts saving into the named AVI file, kRecordStop stops. Raises ViewerDispatchError.
  virtual void Record(const QString& fileName, short command) = 0;
  virtual void StartView() = 0;
  virtual void StopView() = 0;
  // What the dispatch properties do not say of the camera (where it serves its video, the seconds
  // kept before each event, the disk guard, the retention), as the headless recorder has it; the
  // properties put win for address, port, ID and password. Set before StartView.
  virtual void SetCamera(const zent::CameraSetup& /*camera*/) {}
  // Where the camera's stream is handed on as it comes in (motion is looked for there); before StartView.
  virtual void SetFeed(std::shared_ptr<zent::CameraFeed> /*feed*/) {}
  // The event a coming recording is for happened now.
  virtual void MarkEvent() {}

  void SetAddressProp(const QString& address) { SetProperty(DISPID_ADDRESS, address); }
  void SetViewWidth(int width) { SetProperty(DISPID_VIEW_WIDTH, width); }
  void SetViewHeight(int height) { SetProperty(DISPID_VIEW_HEIGHT, height); }
  void SetBool4(bool value) { SetProperty(DISPID_BOOL4, value); }
  void SetBool5(bool value) { SetProperty(DISPID_BOOL5, value); }
  void SetBool6(bool value) { SetProperty(DISPID_BOOL6, value); }
  void SetReal7(float value) { SetProperty(DISPID_REAL7, value); }
  void SetUserProp(const QString& user) { SetProperty(DISPID_USER, user); }
  void SetPortProp(int port) { SetProperty(DISPID_PORT, port); }
  void SetReal10(float value) { SetProperty(DISPID_REAL10, value); }
  void SetPasswordProp(const QString& password) { SetProperty(DISPID_PASSWORD, password); }
  void SetText12(const QString& text) { SetProperty(DISPID_TEXT12, text); }

 signals:
  // Event 2: the camera's video mode changed.
  void VideoModeChanged();
  // What the engine reported that is news to the user: a recording's file begun, saved, refused
  // or deleted, a lost stream; on the GUI thread.
  void Reported(const zent::VideoReport& report);
};

Q_DECLARE_METATYPE(zent::VideoReport)
