#include "refhost/editor/signal_pipe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace refhost {
namespace {

int g_write_fd = -1;

void OnSignal(int signal_number) {
  const int saved = errno;
  const char byte = char(signal_number);
  (void)!::write(g_write_fd, &byte, 1);  // a full pipe drops it: one is enough
  errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);  // the handler never blocks
  g_write_fd = fds[0];
  read_fd_ = fds[1];
  notifier_ = new QSocketNotifier(read_fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(read_fd_, &byte, 1) == 1) emit received(int(byte));
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

SignalPipe::~SignalPipe() {
  if (notifier_ == nullptr) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::close(g_write_fd);
  g_write_fd = -1;
  ::close(read_fd_);
}

}  // namespace refhost
