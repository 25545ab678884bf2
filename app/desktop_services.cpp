#include "app/desktop_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "app/record/krl_activex.h"

namespace {

ViewerControl* MakeViewer(QWidget* parent) {
  auto* viewer = new CKRLActiveX;
  viewer->Create(parent, QRect(0, 0, 320, 260), IDC_VIEWER);
  return viewer;
}

std::optional<QString> ChooseSaveFile(QWidget* owner, const QString& initialFolder) {
  QFileDialog dialog(owner, "Save Avi file", initialFolder, "Avi Files (*.avi)");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix("avi");
  dialog.selectFile("*.avi");
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

std::optional<QString> ChooseClipFile(QWidget* owner, const QString& suggested) {
  const QString path = QFileDialog::getSaveFileName(owner, "Save clip", suggested, "MP4 video (*.mp4)");
  if (path.isEmpty()) return std::nullopt;
  return path;
}

bool ConfirmDelete(QWidget* owner, const QString& text) {
  return QMessageBox::question(owner, "Delete recording", text) == QMessageBox::Yes;
}

}  // namespace

DesktopServices DesktopServices::Real() {
  return {MakeViewer,    ChooseSaveFile, ChooseClipFile, [](const QUrl& url) { return QDesktopServices::openUrl(url); },
          ConfirmDelete, KeyRing::Real()};
}
