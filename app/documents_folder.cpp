#include "app/documents_folder.h"

#include <QStandardPaths>

namespace zent {

std::string GetDocumentsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toLocal8Bit().toStdString();
}

}  // namespace zent
