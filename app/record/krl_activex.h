#pragma once
// The viewer control: shows the camera's live picture and saves its video into AVI files,
// over the video engine.

#include <QImage>

#include "record/video_engine.h"
#include "app/record/viewer_control.h"

class CKRLActiveX : public ViewerControl, private zent::VideoListener {
  Q_OBJECT

 public:
  explicit CKRLActiveX(QWidget* parent = nullptr);
  ~CKRLActiveX() override;

  // Creates the control as a child window: control id, position and size.
  bool Create(QWidget* parent, const QRect& rect, int id);

  void SetProperty(int dispid, const QVariant& value) override;
  void Record(const QString& fileName, short command) override;
  void StartView() override;
  void StopView() override;
  void SetCamera(const zent::CameraSetup& camera) override;
  void SetFeed(std::shared_ptr<zent::CameraFeed> feed) override { m_engine.SetFeed(std::move(feed)); }
  void MarkEvent() override { m_engine.MarkEvent(); }

  // What the control shows while it has no picture; empty once a picture is there.
  QString PlaceholderText() const { return m_picture.isNull() ? m_placeholder : QString(); }
  bool HasPicture() const { return !m_picture.isNull(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // From the engine's threads: handed to the GUI thread, never waited for.
  void OnVideoPicture(std::shared_ptr<const zent::VideoPicture> picture) override;
  void OnVideoModeChanged() override;
  void OnVideoReport(const zent::VideoReport& report) override;
  void UpdateDisplaySize();

  zent::CameraSetup m_camera;  // the description the puts and SetCamera fill, handed over at StartView
  QImage m_picture;
  QString m_placeholder;
  zent::VideoEngine m_engine;  // last: its threads stop before the rest goes
};
