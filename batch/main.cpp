// brevand-batch: the feed adjustment pass over NC program files, without a
// window or an editor.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/cycle_report.h"
#include "batch/fields.h"
#include "batch/options.h"
#include "batch/program_file.h"
#include "batch/run.h"

namespace {

// An interrupted save leaves no temporary file behind.
void OnSignal(int sig) {
  batch::RemoveTemporaryFile();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  batch::BatchOptions options;
  std::string error;
  if (!batch::ParseOptions(args, options, error)) {
    std::fprintf(stderr, "brevand-batch: %s\n", error.c_str());
    return batch::kExitUsage;
  }
  if (options.help) {
    std::fputs(batch::UsageText().c_str(), stdout);
    return batch::kExitDone;
  }
  if (options.version) {
    std::puts("brevand-batch " BREVAND_VERSION);
    return batch::kExitDone;
  }
  if (options.time_only) return batch::RunTimes(options, stdout, stderr);
  feed::PassInput input;
  if (!batch::MakePassInput(options, input, error)) {
    std::fprintf(stderr, "brevand-batch: %s\n", error.c_str());
    return batch::kExitUsage;
  }
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnSignal);
  return batch::RunBatch(options, input, stdout, stderr);
}
