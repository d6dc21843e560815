// An X display for OpenGL tests and benchmarks: the one in DISPLAY, or a
// private Xvfb started for the process (ended at exit), with Mesa's
// software renderer.
#ifndef REFHOST_EDITOR_TESTS_XVFB_DISPLAY_H_
#define REFHOST_EDITOR_TESTS_XVFB_DISPLAY_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace refhost::testing {

// False (with a line on stderr) when no display can be had.
inline bool UseXDisplay() {
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') return true;
  int fds[2];
  if (pipe(fds) != 0) return false;
  static pid_t server = -1;
  server = fork();
  if (server == 0) {
    close(fds[0]);
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, 2);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (server < 0 || number.empty()) {
    std::fprintf(stderr, "no DISPLAY and Xvfb did not start\n");
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  std::atexit([] {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
  });
  return true;
}

}  // namespace refhost::testing

#endif  // REFHOST_EDITOR_TESTS_XVFB_DISPLAY_H_
