// The command line of brevand-batch.
#ifndef BATCH_OPTIONS_H_
#define BATCH_OPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace batch {

// What the command line asks for. Field texts are kept as given; a field
// that was not given is empty (and counts as 0, as an empty window field).
struct BatchOptions {
  std::string line_length;  // the window's edt1
  std::string line_feed;    // edt3
  std::string arc_radius;   // edt2
  std::string arc_feed;     // edt4
  bool arcs = false;            // --arc-radius and --arc-feed were given
  bool all_directions = false;  // "Only on 45 Deg." unticked

  // Lines to walk, numbered from 1; 0 for an open end (first line, last line).
  std::int64_t first_line = 0;
  std::int64_t last_line = 0;

  int machine = 0;           // 0: guessed per file; else the system type (301, 304)
  int units = 0;             // 0: any; 20 (inch) or 21 (mm): a file in other units is refused
  std::string machine_profile;  // --machine-profile: the cycle-time profile file ("": defaults)
  bool time_only = false;       // --time: print each file's cycle time, adjust nothing
  std::string output;        // -o: the one input's result goes here ("-": stdout)
  bool dry_run = false;
  bool quiet = false;
  bool backup = true;
  bool force = false;        // adjust files whose owner has no write permission
  bool help = false;
  bool version = false;
  std::vector<std::string> files;  // "-": standard input, result to standard output
};

// Reads `args` (without the program name) as getopt_long does: options and
// files in any order, combined short options ("-nq"), attached values
// ("-oout.ngc", "--lines=1:9"), unique abbreviations of long names, "--"
// before files that start with "-". False with `error` set (one sentence,
// naming the option) on bad usage. --help and --version need no files;
// anything else needs at least one, -o exactly one and no --dry-run.
// --time needs no fields and takes no -o.
bool ParseOptions(const std::vector<std::string>& args, BatchOptions& options, std::string& error);

// The --help text.
std::string UsageText();

}  // namespace batch

#endif  // BATCH_OPTIONS_H_
