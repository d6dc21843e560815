#include "batch/options.h"

#include <charconv>

#include "refhost/core/automation.h"

namespace batch {
namespace {

// A line number from 1, or empty for an open end.
bool ParseLineNumber(std::string_view text, std::int64_t& value) {
  if (text.empty()) {
    value = 0;
    return true;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 1;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, BatchOptions& options, std::string& error) {
  bool only_files = false;
  bool line_length = false, line_feed = false, arc_radius = false, arc_feed = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // "--name=value" or "--name value"; a value may start with "-".
    const auto value = [&](std::string& out) {
      const auto eq = arg.find('=');
      if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        out = arg.substr(eq + 1);
        return true;
      }
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    const auto is = [&](const char* name) {
      return arg == name || arg.rfind(std::string(name) + "=", 0) == 0;
    };
    if (only_files || arg.empty() || arg[0] != '-' || arg == "-") {
      options.files.push_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (is("--line-length")) {
      if (!value(options.line_length)) return false;
      line_length = true;
    } else if (is("--line-feed")) {
      if (!value(options.line_feed)) return false;
      line_feed = true;
    } else if (is("--arc-radius")) {
      if (!value(options.arc_radius)) return false;
      arc_radius = true;
    } else if (is("--arc-feed")) {
      if (!value(options.arc_feed)) return false;
      arc_feed = true;
    } else if (arg == "--all-directions") {
      options.all_directions = true;
    } else if (is("--lines")) {
      std::string range;
      if (!value(range)) return false;
      const auto colon = range.find(':');
      if (colon == std::string::npos ||
          !ParseLineNumber(std::string_view(range).substr(0, colon), options.first_line) ||
          !ParseLineNumber(std::string_view(range).substr(colon + 1), options.last_line)) {
        error = "--lines takes FIRST:LAST (line numbers from 1; either may be left out), not \"" +
                range + "\"";
        return false;
      }
    } else if (is("--machine")) {
      std::string kind;
      if (!value(kind)) return false;
      if (kind == "mill") {
        options.machine = refhost::kSystemTypeMill;
      } else if (kind == "lathe") {
        options.machine = refhost::kSystemTypeLathe;
      } else if (kind == "auto") {
        options.machine = 0;
      } else {
        error = "--machine takes mill, lathe or auto, not \"" + kind + "\"";
        return false;
      }
    } else if (is("--machine-profile")) {
      if (!value(options.machine_profile)) return false;
      if (options.machine_profile.empty()) {
        error = "--machine-profile needs a file name";
        return false;
      }
    } else if (arg == "--time") {
      options.time_only = true;
    } else if (arg == "-o" || is("--output")) {
      if (!value(options.output)) return false;
      if (options.output.empty()) {
        error = arg + " needs a file name";
        return false;
      }
    } else if (arg == "-n" || arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--no-backup") {
      options.backup = false;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else {
      error = "unknown option " + arg + " (see --help)";
      return false;
    }
  }
  if (options.help || options.version) return true;
  if (options.time_only) {
    if (options.files.empty()) {
      error = "no file given (see --help)";
      return false;
    }
    if (!options.output.empty()) {
      error = "--time adjusts nothing, so -o has nothing to write";
      return false;
    }
    return true;
  }

  if (!line_length || !line_feed) {
    error = "--line-length and --line-feed are required (see --help)";
    return false;
  }
  if (arc_radius != arc_feed) {
    error = std::string(arc_radius ? "--arc-radius" : "--arc-feed") + " needs " +
            (arc_radius ? "--arc-feed" : "--arc-radius") + " as well";
    return false;
  }
  options.arcs = arc_radius;
  if (options.files.empty()) {
    error = "no file given (see --help)";
    return false;
  }
  if (!options.output.empty() && options.files.size() != 1) {
    error = "-o takes the result of one file; " + std::to_string(options.files.size()) +
            " were given";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: brevand-batch [options] FILE...\n"
         "Adjusts the feedrates of NC programs as Norvane Brevand's Adjust does, without\n"
         "a window or an editor, and saves each program in place.\n"
         "\n"
         "Fields (expressions as in the window: + - * / ^ ( ), SQRT, SIN, ...):\n"
         "  --line-length EXPR   linear moves shorter than this are changed (required)\n"
         "  --line-feed EXPR     the feedrate they get (required)\n"
         "  --arc-radius EXPR    arcs of a smaller radius are changed (with --arc-feed)\n"
         "  --arc-feed EXPR      the feedrate they get (with --arc-radius)\n"
         "  --all-directions     change short moves in every direction, not only those\n"
         "                       within two degrees of a diagonal\n"
         "\n"
         "What to adjust:\n"
         "  --lines FIRST:LAST   walk these lines only (default: the whole program;\n"
         "                       \"10:\" runs to the end, \":50\" starts at line 1)\n"
         "  --machine KIND       mill (X-Y-Z), lathe (X-Z) or auto (default: guessed from\n"
         "                       the program, as the editor guesses it: G18 before any\n"
         "                       other plane near the top is a lathe)\n"
         "\n"
         "Cycle time (docs/cycle-time.md):\n"
         "  --time               print each file's cycle time (and the total); adjust\n"
         "                       nothing, no fields needed\n"
         "  --machine-profile FILE  the machine's limits (key = value lines; keys left\n"
         "                       out keep the small mill's or small lathe's default)\n"
         "\n"
         "Output:\n"
         "  -o, --output FILE    write the result of the one FILE there (\"-\": standard\n"
         "                       output) instead of in place; a FILE that exists is\n"
         "                       replaced the same safe way (and kept as FILE~)\n"
         "  -n, --dry-run        write nothing; print what would change as a diff\n"
         "  --no-backup          do not keep the old file as FILE~\n"
         "  -q, --quiet          no summary and no progress bar, only errors\n"
         "  -h, --help           this text\n"
         "  --version            the version\n"
         "\n"
         "Letters in the fields count as capitals (as typed in the window). A field\n"
         "that is not an expression, cannot be computed, or is not above 0 is a usage\n"
         "error; so is a floating-point fault in one (\"Floating point overflow\").\n"
         "\n"
         "Each file is saved through a temporary file in its folder (flushed to disk,\n"
         "then renamed over it, permissions kept); a symbolic link is followed and its\n"
         "target replaced. A file that cannot be read, adjusted or written is left as\n"
         "it was and reported; the other files go on. A file with fewer than two lines\n"
         "to walk is reported with \"No Lines in Norvane Selected\" and left unchanged,\n"
         "which is not a failure; nor is a file the pass does not change (it is not\n"
         "saved again).\n"
         "Each file's summary (lines walked, lines written, time, and its cycle time\n"
         "before and after, with a total for several files) goes to standard error,\n"
         "with a progress bar for large files when that is a terminal.\n"
         "\n"
         "Exit status: 0 every file done, 1 some file failed, 2 bad usage.\n"
         "\n"
         "Example:\n"
         "  brevand-batch --line-length 0.5 --line-feed 400*0.8 \\\n"
         "                --arc-radius 2 --arc-feed 300 part1.ngc part2.ngc\n";
}

}  // namespace batch
