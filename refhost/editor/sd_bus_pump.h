// Drives an sd-bus connection from the Qt event loop: its descriptor through
// socket notifiers, its deadlines through a timer.
#ifndef REFHOST_EDITOR_SD_BUS_PUMP_H_
#define REFHOST_EDITOR_SD_BUS_PUMP_H_

#include <systemd/sd-bus.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace refhost {

// Takes one reference to `bus` and processes every message it receives,
// a bounded number per turn of the event loop so that painting and timers
// keep their turn. Emits lost() once when the connection closes.
class SdBusPump : public QObject {
  Q_OBJECT

 public:
  explicit SdBusPump(sd_bus* bus, QObject* parent = nullptr);
  ~SdBusPump() override;

  sd_bus* bus() const { return bus_; }
  bool Open() const { return open_; }
  // Processes what has arrived and sends what is queued; call after sending
  // from outside a handler.
  void Pump();

 signals:
  void lost();

 private:
  void Rearm();

  sd_bus* bus_;
  bool open_ = true;
  std::unique_ptr<QSocketNotifier> read_, write_;
  QTimer deadline_;  // the bus's next timeout, or more work left over
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_SD_BUS_PUMP_H_
