#pragma once
// Timers known by a number, ticking on the owner's thread, like a window's timers: starting a
// running id restarts it with the new period.

#include <QObject>
#include <functional>
#include <map>

class QTimer;

class IdTimers : public QObject {
 public:
  using TickHandler = std::function<void(int id)>;

  IdTimers(QObject* owner, TickHandler onTick);

  void Start(int id, int periodMs);
  void Stop(int id);
  bool IsActive(int id) const;
  int Interval(int id) const;  // -1 when the id never ran

 private:
  TickHandler onTick_;
  std::map<int, QTimer*> timers_;
};
