// Drives an sd-bus connection from the Qt event loop: its descriptor through
// socket notifiers, its deadlines through a timer.
#ifndef REFHOST_EDITOR_SD_BUS_PUMP_H_
#define REFHOST_EDITOR_SD_BUS_PUMP_H_

#include <systemd/sd-bus.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstddef>
#include <deque>
#include <memory>

namespace refhost {

// How long the exit flushes of all connections together may wait for peers
// to take what is queued for them.
inline constexpr int kExitFlushMs = 2000;
// What a message counts in a bounded write queue unless its sender says
// more (SdBusPump::Queued).
inline constexpr std::size_t kQueuedMessageBytes = 256;

// Takes one reference to `bus` and processes every message it receives,
// a bounded number per turn of the event loop so that painting and timers
// keep their turn. Emits lost() once when the connection closes, or when
// more than `maxQueuedBytes` (0: no bound) wait in its write queue for a
// peer that does not read; the connection is then not processed any more.
// Destroying the pump sends what is still queued, within kExitFlushMs.
class SdBusPump : public QObject {
  Q_OBJECT

 public:
  explicit SdBusPump(sd_bus* bus, QObject* parent = nullptr, std::size_t maxQueuedBytes = 0);
  ~SdBusPump() override;

  sd_bus* bus() const { return bus_; }
  bool Open() const { return open_; }
  // Processes what has arrived and sends what is queued; call after sending
  // from outside a handler.
  void Pump();
  // Says that the message just sent on `bus` (from a handler) is about
  // `bytes` long, for the write queue's bound. Does nothing for a bus
  // without a pump.
  static void Queued(sd_bus* bus, std::size_t bytes);

 signals:
  void lost();

 private:
  void Rearm();
  void Lose();
  // Follows the write queue; `lastBytes`: the size of a message just added.
  void Account(std::size_t lastBytes);

  sd_bus* bus_;
  bool open_ = true;
  std::unique_ptr<QSocketNotifier> read_, write_;
  QTimer deadline_;  // the bus's next timeout, or more work left over
  std::size_t maxQueued_;
  std::deque<std::size_t> queued_;  // the sizes of the messages in the write queue
  std::size_t queuedBytes_ = 0;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_SD_BUS_PUMP_H_
