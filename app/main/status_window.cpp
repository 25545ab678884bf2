// The main window's status log: time-stamped lines in the status window and, when the profile
// asks for it, in a log file.

#include <QListWidget>
#include <QThread>

#include "app/main/main_dlg.h"

void CMainDlg::AddStatusLine(const std::string& text) {
  if (QThread::currentThread() != thread()) {
    // The window belongs to the GUI thread; the caller waits until its line is there.
    QMetaObject::invokeMethod(
        this, [this, text] { AddStatusLineHere(text); }, Qt::BlockingQueuedConnection);
    return;
  }
  AddStatusLineHere(text);
}

void CMainDlg::AddStatusLineHere(const std::string& text) {
  for (const std::string& shown : m_repeats.Take(text, zent::RepeatFilter::Clock::now())) WriteStatusLine(shown);
}

void CMainDlg::ClearStatusWindow() {
  // The log file keeps what the window forgets.
  for (const std::string& owed : m_repeats.Reset()) {
    const std::tm now = m_clock();
    LogStatusLine(zent::FormatStatusLine(now, owed), now);
  }
  m_listStatus->clear();
}

void CMainDlg::WriteStatusLine(const std::string& text) {
  const std::tm now = m_clock();
  const std::string line = zent::FormatStatusLine(now, text);
  if (m_listStatus->count() >= kMaxStatusLines) delete m_listStatus->takeItem(0);
  m_listStatus->addItem(QString::fromLocal8Bit(line));
  m_listStatus->setCurrentRow(m_listStatus->count() - 1);
  LogStatusLine(line, now);
}

void CMainDlg::LogStatusLine(const std::string& line, const std::tm& time) {
  if (m_currentProfile.logToFile == 0) return;
  const zent::LogSettings settings = zent::LogSettingsOf(m_currentProfile);
  m_logWriter.Append(zent::LogFileName(settings, time, m_documentsFolder), line);
}
