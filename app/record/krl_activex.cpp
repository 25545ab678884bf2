#include "app/record/krl_activex.h"

#include <QPainter>

CKRLActiveX::CKRLActiveX(QWidget* parent) : ViewerControl(parent), m_engine(*this) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CKRLActiveX::~CKRLActiveX() { m_engine.StopView(); }

bool CKRLActiveX::Create(QWidget* parent, const QRect& rect, int id) {
  setParent(parent);
  setObjectName(QString("IDC_VIEWER_%1").arg(id));
  setGeometry(rect);
  show();
  return true;
}

void CKRLActiveX::SetProperty(int dispid, const QVariant& value) {
  switch (dispid) {
    case DISPID_ADDRESS: m_camera.profile.cameraAddress = value.toString().toLocal8Bit().toStdString(); break;
    case DISPID_USER: m_camera.credentials.userId = value.toString().toLocal8Bit().toStdString(); break;
    case DISPID_PASSWORD: m_camera.credentials.password = value.toString().toLocal8Bit().toStdString(); break;
    case DISPID_PORT: m_camera.profile.videoPort = value.toInt(); break;
    case DISPID_VIEW_WIDTH: resize(value.toInt(), height()); break;
    case DISPID_VIEW_HEIGHT: resize(width(), value.toInt()); break;
    case DISPID_BOOL4:
    case DISPID_BOOL5:
    case DISPID_BOOL6:
    case DISPID_REAL7:
    case DISPID_REAL10:
    case DISPID_TEXT12: break;  // tuning this engine has no use for
    default: throw ViewerDispatchError("unknown property " + std::to_string(dispid));
  }
}

void CKRLActiveX::Record(const QString& fileName, short command) {
  if (command == kRecordStop) {
    m_engine.StopRecording();
    return;
  }
  if (command != kRecordStart) throw ViewerDispatchError("unknown record command " + std::to_string(command));
  std::string error;
  const std::string path = m_engine.StartRecording(fileName.toLocal8Bit().toStdString(), error);
  if (path.empty())
    throw ViewerDispatchError("Cannot record to " + fileName.toLocal8Bit().toStdString() + ": " + error);
}

void CKRLActiveX::SetCamera(const zent::CameraSetup& camera) {
  // What was put stays: the properties are the control's own.
  zent::CameraSetup merged = camera;
  merged.profile.cameraAddress = m_camera.profile.cameraAddress;
  merged.profile.videoPort = m_camera.profile.videoPort;
  merged.credentials = m_camera.credentials;
  m_camera = std::move(merged);
}

void CKRLActiveX::StartView() {
  zent::ConfigureEngine(m_engine, m_camera);
  m_placeholder = QString("Connecting to %1\u2026").arg(QString::fromLocal8Bit(zent::SourceLabel(m_camera.Video())));
  UpdateDisplaySize();
  m_engine.StartView();
  update();
}

void CKRLActiveX::StopView() {
  m_engine.StopView();
  m_picture = QImage();
  m_placeholder.clear();
  update();
}

void CKRLActiveX::OnVideoPicture(std::shared_ptr<const zent::VideoPicture> picture) {
  QMetaObject::invokeMethod(
      this,
      [this, picture] {
        m_engine.PictureTaken();
        if (!isVisible()) return;  // hidden meanwhile: the picture is stale
        // The image shares the engine's pixels; the shared pointer keeps them alive.
        auto* keeper = new std::shared_ptr<const zent::VideoPicture>(picture);
        m_picture = QImage(
            picture->pixels.data(), picture->width, picture->height, picture->width * 4, QImage::Format_RGB32,
            [](void* info) { delete static_cast<std::shared_ptr<const zent::VideoPicture>*>(info); }, keeper);
        update();
      },
      Qt::QueuedConnection);
}

void CKRLActiveX::OnVideoModeChanged() {
  QMetaObject::invokeMethod(
      this, [this] { emit VideoModeChanged(); }, Qt::QueuedConnection);
}

void CKRLActiveX::OnVideoReport(const zent::VideoReport& report) {
  QMetaObject::invokeMethod(
      this,
      [this, report] {
        using Kind = zent::VideoReport::Kind;
        if (report.kind == Kind::Connecting || report.kind == Kind::NoVideo || report.kind == Kind::StreamLost) {
          m_placeholder = report.kind == Kind::StreamLost ? "No video: stream lost, reconnecting\u2026"
                                                          : QString::fromLocal8Bit(report.text);
          m_picture = QImage();
          update();
        }
        if (report.kind != Kind::Connecting) emit Reported(report);
      },
      Qt::QueuedConnection);
}

void CKRLActiveX::UpdateDisplaySize() {
  if (isVisible()) m_engine.SetDisplaySize(width(), height());
  else m_engine.SetDisplaySize(0, 0);
}

void CKRLActiveX::showEvent(QShowEvent* event) {
  UpdateDisplaySize();
  ViewerControl::showEvent(event);
}

void CKRLActiveX::hideEvent(QHideEvent* event) {
  m_engine.SetDisplaySize(0, 0);
  m_picture = QImage();  // a picture from before would be stale when shown again
  ViewerControl::hideEvent(event);
}

void CKRLActiveX::resizeEvent(QResizeEvent* event) {
  UpdateDisplaySize();
  ViewerControl::resizeEvent(event);
}

void CKRLActiveX::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!m_picture.isNull()) {
    const QPoint origin((width() - m_picture.width()) / 2, (height() - m_picture.height()) / 2);
    painter.drawImage(origin, m_picture);
    return;
  }
  painter.setPen(Qt::white);
  painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
}
