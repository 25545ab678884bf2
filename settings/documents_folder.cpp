#include "settings/documents_folder.h"

#include <QStandardPaths>
#include <sys/stat.h>

#include <cerrno>

namespace zent {

std::string GetDocumentsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toLocal8Bit().toStdString();
}

bool EnsureDocumentsFolder(const std::string& folder) {
  if (folder.empty()) return false;
  return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST;
}

}  // namespace zent
