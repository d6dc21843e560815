// brevand-batch: the feed adjustment pass over NC program files, without a
// window or an editor.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch/cycle_report.h"
#include "batch/fields.h"
#include "batch/options.h"
#include "batch/program_file.h"
#include "batch/run.h"

namespace {

// A signal that ends the process leaves no temporary file behind.
void OnSignal(int sig) {
  batch::RemoveTemporaryFile();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Every signal whose default ends the process, unless it came ignored
// (nohup). SIGXFSZ is ignored instead, so that a write over the file size
// limit fails with EFBIG and is reported.
void HandleSignals() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigfillset(&action.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    switch (sig) {
      case SIGKILL: case SIGSTOP: case SIGCHLD: case SIGCONT: case SIGTSTP: case SIGTTIN:
      case SIGTTOU: case SIGURG: case SIGWINCH:
        continue;
      default:
        break;
    }
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    if (sig == SIGXFSZ) {
      std::signal(SIGXFSZ, SIG_IGN);
    } else {
      ::sigaction(sig, &action, nullptr);
    }
  }
}

// Standard input, output or error closed by the caller (AXIS closes the
// input) would be handed out to the next file opened. Each is held by
// /dev/null open the other way, so that using it fails and is reported
// instead of reaching some file.
void HoldClosedStandardFiles() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

// Writes `text` to standard output and closes it; false (reported) when
// that fails.
bool Print(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "brevand-batch: standard output: cannot be written (%s)\n", std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  HoldClosedStandardFiles();
  const std::vector<std::string> args(argv + 1, argv + argc);
  batch::BatchOptions options;
  std::string error;
  if (!batch::ParseOptions(args, options, error)) {
    std::fprintf(stderr, "brevand-batch: %s\n", error.c_str());
    return batch::kExitUsage;
  }
  if (options.help) return Print(batch::UsageText()) ? batch::kExitDone : batch::kExitSomeFailed;
  if (options.version) {
    return Print("brevand-batch " BREVAND_VERSION "\n") ? batch::kExitDone : batch::kExitSomeFailed;
  }
  if (options.time_only) return batch::RunTimes(options, stdout, stderr);
  feed::PassInput input;
  if (!batch::MakePassInput(options, input, error)) {
    std::fprintf(stderr, "brevand-batch: %s\n", error.c_str());
    return batch::kExitUsage;
  }
  HandleSignals();
  int status = batch::RunBatch(options, input, stdout, stderr);
  if (std::fclose(stdout) != 0 && status == batch::kExitDone) {
    std::fprintf(stderr, "brevand-batch: standard output: cannot be written (%s)\n", std::strerror(errno));
    status = batch::kExitSomeFailed;
  }
  return status;
}
