// SIGTERM (the end of the session, a service manager's stop) as a close
// request of the main window.
#ifndef SHELL_TERMINATE_REQUEST_H_
#define SHELL_TERMINATE_REQUEST_H_

namespace shell {

// From now on SIGTERM closes Form4 (ending the program through its normal
// shutdown) once the event loop next serves sockets: at once between
// events, right after the end of a pass during one. While the window is not
// shown (start-up, a rejected start) SIGTERM ends the process as by
// default. Call once, on the user-interface thread, after the QApplication
// exists.
void CloseOnTerminate();

}  // namespace shell

#endif  // SHELL_TERMINATE_REQUEST_H_
