// SIGTERM, SIGINT and SIGHUP delivered on the Qt event loop. The handler
// only writes the signal's number to a socket pair (async-signal-safe); a
// QSocketNotifier reads it and emits received(). One per process.
#ifndef REFHOST_EDITOR_SIGNAL_PIPE_H_
#define REFHOST_EDITOR_SIGNAL_PIPE_H_

#include <QObject>
#include <QSocketNotifier>

namespace refhost {

class SignalPipe : public QObject {
  Q_OBJECT

 public:
  explicit SignalPipe(QObject* parent = nullptr);
  ~SignalPipe() override;
  // False when the socket pair could not be made (the signals then keep
  // their default action).
  bool Installed() const { return notifier_ != nullptr; }

 signals:
  void received(int signal_number);

 private:
  int read_fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_SIGNAL_PIPE_H_
