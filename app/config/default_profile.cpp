#include "app/config/default_profile.h"

#include "config/paths.h"
#include "settings/documents_folder.h"

zent::CameraProfile DefaultProfile() {
  zent::CameraProfile p;
  p.savingEnabled = 1;
  p.savePath = zent::JoinPath(zent::GetDocumentsFolder(), "zent.avi");
  p.saveFileName = "zent.avi";
  p.insertTime = 1;
  p.fileMinutes = 10;
  p.cameraAddress = "192.168.1.";
  p.privatePort = 11000;
  p.videoPort = 8080;
  p.audioPort = 40008;
  p.spareReal = 15.0f;
  p.spareFlag = 1;
  p.logToFile = 0;
  p.logPeriod = 0;
  p.logPath = "tmpPath";
  p.logFileName = "zent_log.txt";
  return p;
}
