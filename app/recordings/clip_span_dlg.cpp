#include "app/recordings/clip_span_dlg.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>

CClipSpanDlg::CClipSpanDlg(const QDateTime& from, const QDateTime& to, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Save clip");
  m_from = new QDateTimeEdit(from, this);
  m_to = new QDateTimeEdit(to, this);
  for (QDateTimeEdit* edit : {m_from, m_to}) {
    edit->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
    edit->setCalendarPopup(true);
  }
  m_from->setObjectName("clipFrom");
  m_to->setObjectName("clipTo");
  m_problem = new QLabel(this);
  m_problem->setStyleSheet("color: #b00");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  auto* layout = new QFormLayout(this);
  layout->addRow(new QLabel("One MP4 of the camera's recordings in this time, at most 30 minutes.", this));
  layout->addRow("&From", m_from);
  layout->addRow("&To", m_to);
  layout->addRow(m_problem);
  layout->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CClipSpanDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CClipSpanDlg::reject);
}

QDateTime CClipSpanDlg::From() const { return m_from->dateTime(); }
QDateTime CClipSpanDlg::To() const { return m_to->dateTime(); }

void CClipSpanDlg::accept() {
  const qint64 seconds = From().secsTo(To());
  if (seconds <= 0) m_problem->setText("The clip ends after it begins.");
  else if (seconds > 30 * 60) m_problem->setText("A clip lasts at most 30 minutes.");
  else QDialog::accept();
}
