#include "app/id_timer.h"

#include <QTimer>

IdTimers::IdTimers(QObject* owner, TickHandler onTick) : QObject(owner), onTick_(std::move(onTick)) {}

void IdTimers::Start(int id, int periodMs) {
  QTimer*& timer = timers_[id];
  if (!timer) {
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] { onTick_(id); });
  }
  timer->start(periodMs);
}

void IdTimers::Stop(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

bool IdTimers::IsActive(int id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

int IdTimers::Interval(int id) const {
  auto it = timers_.find(id);
  return it == timers_.end() ? -1 : it->second->interval();
}
