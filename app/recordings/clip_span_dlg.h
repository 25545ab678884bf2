#pragma once
// Asks for the span of a clip: from and to, at most 30 minutes apart.

#include <QDateTime>
#include <QDialog>

class QDateTimeEdit;
class QLabel;

class CClipSpanDlg : public QDialog {
  Q_OBJECT

 public:
  CClipSpanDlg(const QDateTime& from, const QDateTime& to, QWidget* parent = nullptr);
  QDateTime From() const;
  QDateTime To() const;

  void accept() override;

 private:
  QDateTimeEdit* m_from = nullptr;
  QDateTimeEdit* m_to = nullptr;
  QLabel* m_problem = nullptr;
};
