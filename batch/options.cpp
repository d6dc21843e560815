#include "batch/options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <string_view>

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

// What one parse collects besides the options: which were given.
struct Parse {
  BatchOptions& options;
  std::set<std::string_view> given;
};

// One option: its names, whether it takes a value, and what it does with it
// (false with `error` set when the value is bad). A new option is a new row.
struct OptionRow {
  const char* name;  // the long name, without "--"
  char letter;       // the short name, or 0
  bool takes_value;
  bool (*apply)(Parse& parse, const std::string& value, std::string& error);
};

constexpr OptionRow kOptions[] = {
    {"line-length", 0, true, [](Parse& p, const std::string& v, std::string&) {
       p.options.line_length = v;
       return true;
     }},
    {"line-feed", 0, true, [](Parse& p, const std::string& v, std::string&) {
       p.options.line_feed = v;
       return true;
     }},
    {"arc-radius", 0, true, [](Parse& p, const std::string& v, std::string&) {
       p.options.arc_radius = v;
       return true;
     }},
    {"arc-feed", 0, true, [](Parse& p, const std::string& v, std::string&) {
       p.options.arc_feed = v;
       return true;
     }},
    {"all-directions", 0, false, [](Parse& p, const std::string&, std::string&) {
       p.options.all_directions = true;
       return true;
     }},
    {"lines", 0, true, [](Parse& p, const std::string& range, std::string& error) {
       const auto colon = range.find(':');
       BatchOptions& o = p.options;
       if (colon == std::string::npos ||
           !ParseLineNumber(std::string_view(range).substr(0, colon), o.first_line) ||
           !ParseLineNumber(std::string_view(range).substr(colon + 1), o.last_line)) {
         error = "--lines takes FIRST:LAST (line numbers from 1; either may be left out), not \"" +
                 range + "\"";
         return false;
       }
       if (o.first_line != 0 && o.last_line != 0 && o.first_line > o.last_line) {
         error = "--lines " + range + ": the first line comes after the last";
         return false;
       }
       return true;
     }},
    {"machine", 0, true, [](Parse& p, const std::string& kind, std::string& error) {
       if (kind == "mill") {
         p.options.machine = refhost::kSystemTypeMill;
       } else if (kind == "lathe") {
         p.options.machine = refhost::kSystemTypeLathe;
       } else if (kind == "auto") {
         p.options.machine = 0;
       } else {
         error = "--machine takes mill, lathe or auto, not \"" + kind + "\"";
         return false;
       }
       return true;
     }},
    {"units", 0, true, [](Parse& p, const std::string& units, std::string& error) {
       if (units == "mm") {
         p.options.units = 21;
       } else if (units == "inch") {
         p.options.units = 20;
       } else {
         error = "--units takes mm or inch, not \"" + units + "\"";
         return false;
       }
       return true;
     }},
    {"machine-profile", 0, true, [](Parse& p, const std::string& v, std::string& error) {
       if (v.empty()) {
         error = "--machine-profile needs a file name";
         return false;
       }
       p.options.machine_profile = v;
       return true;
     }},
    {"time", 0, false, [](Parse& p, const std::string&, std::string&) {
       p.options.time_only = true;
       return true;
     }},
    {"output", 'o', true, [](Parse& p, const std::string& v, std::string& error) {
       if (v.empty()) {
         error = "-o needs a file name";
         return false;
       }
       p.options.output = v;
       return true;
     }},
    {"dry-run", 'n', false, [](Parse& p, const std::string&, std::string&) {
       p.options.dry_run = true;
       return true;
     }},
    {"no-backup", 0, false, [](Parse& p, const std::string&, std::string&) {
       p.options.backup = false;
       return true;
     }},
    {"force", 0, false, [](Parse& p, const std::string&, std::string&) {
       p.options.force = true;
       return true;
     }},
    {"quiet", 'q', false, [](Parse& p, const std::string&, std::string&) {
       p.options.quiet = true;
       return true;
     }},
    {"help", 'h', false, [](Parse& p, const std::string&, std::string&) {
       p.options.help = true;
       return true;
     }},
    {"version", 0, false, [](Parse& p, const std::string&, std::string&) {
       p.options.version = true;
       return true;
     }},
};

constexpr int kLongOnly = 256;  // getopt values of options without a letter: kLongOnly + row

const OptionRow* RowOf(int value) {
  for (std::size_t i = 0; i < std::size(kOptions); ++i) {
    const OptionRow& row = kOptions[i];
    if (value == (row.letter != 0 ? row.letter : kLongOnly + static_cast<int>(i))) return &row;
  }
  return nullptr;
}

// The option as the user wrote it: "--name" or "-x".
std::string Written(const OptionRow& row, const char* arg) {
  if (row.letter != 0 && (arg == nullptr || std::string_view(arg).rfind("--", 0) != 0)) {
    return std::string("-") + row.letter;
  }
  return std::string("--") + row.name;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, BatchOptions& options, std::string& error) {
  std::vector<std::string> storage{"brevand-batch"};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(storage.size());

  std::string letters = ":";  // ':' first: a missing value is reported, not printed
  std::vector<option> longs;
  for (std::size_t i = 0; i < std::size(kOptions); ++i) {
    const OptionRow& row = kOptions[i];
    const int value = row.letter != 0 ? row.letter : kLongOnly + static_cast<int>(i);
    longs.push_back({row.name, row.takes_value ? required_argument : no_argument, nullptr, value});
    if (row.letter != 0) letters += std::string(1, row.letter) + (row.takes_value ? ":" : "");
  }
  longs.push_back({nullptr, 0, nullptr, 0});

  Parse parse{options, {}};
  ::opterr = 0;
  ::optind = 0;  // a fresh scan (GNU)
  for (;;) {
    const int prev = ::optind;
    const int got = ::getopt_long(argc, argv.data(), letters.c_str(), longs.data(), nullptr);
    if (got == -1) break;
    // The argument being read (for the name the user wrote).
    const char* arg = ::optind > prev && ::optind - 1 < argc ? argv[::optind - 1] : argv[prev > 0 ? prev : 1];
    if (got == '?' || got == ':') {
      const OptionRow* row = ::optopt != 0 ? RowOf(::optopt) : nullptr;
      if (got == ':' && row != nullptr) {
        error = Written(*row, arg) + " needs a value";
      } else if (row != nullptr) {
        error = Written(*row, arg) + " takes no value";
      } else if (::optopt != 0 && ::optopt < kLongOnly) {
        error = std::string("unknown option -") + static_cast<char>(::optopt) + " (see --help)";
      } else {
        std::string name = arg != nullptr ? arg : "";
        name = name.substr(0, name.find('='));
        error = "unknown option " + name + " (see --help)";
      }
      return false;
    }
    const OptionRow* row = RowOf(got);
    if (row == nullptr) continue;
    parse.given.insert(row->name);
    if (!row->apply(parse, ::optarg != nullptr ? ::optarg : "", error)) return false;
  }
  for (int i = ::optind; i < argc; ++i) options.files.push_back(argv[i]);
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

  const auto given = [&](const char* name) { return parse.given.count(name) > 0; };
  if (!given("line-length") || !given("line-feed")) {
    error = "--line-length and --line-feed are required (see --help)";
    return false;
  }
  if (given("arc-radius") != given("arc-feed")) {
    const bool radius = given("arc-radius");
    error = std::string(radius ? "--arc-radius" : "--arc-feed") + " needs " +
            (radius ? "--arc-feed" : "--arc-radius") + " as well";
    return false;
  }
  options.arcs = given("arc-radius");
  if (options.files.empty()) {
    error = "no file given (see --help)";
    return false;
  }
  if (std::count(options.files.begin(), options.files.end(), "-") > 1) {
    error = "standard input (-) can be read once only";
    return false;
  }
  if (!options.output.empty() && options.files.size() != 1) {
    error = "-o takes the result of one file; " + std::to_string(options.files.size()) +
            " were given";
    return false;
  }
  if (!options.output.empty() && options.dry_run) {
    error = "--dry-run writes nothing, so it does not go with -o";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: brevand-batch [options] FILE...\n"
         "Adjusts the feedrates of NC programs as Norvane Brevand's Adjust does, without\n"
         "a window or an editor, and saves each program in place. FILE - reads standard\n"
         "input and writes the result to standard output.\n"
         "\n"
         "Fields (expressions as in the window: + - * / ^ ( ), SQRT, SIN, ...):\n"
         "  --line-length EXPR   linear moves shorter than this are changed (required)\n"
         "  --line-feed EXPR     the feedrate they get (required)\n"
         "  --arc-radius EXPR    arcs of a smaller radius are changed (with --arc-feed)\n"
         "  --arc-feed EXPR      the feedrate they get (with --arc-radius)\n"
         "  --all-directions     change short moves in every direction, not only those\n"
         "                       within two degrees of a diagonal\n"
         "\n"
         "Units: the values are taken in each program's own units. 320 is 320 mm/min in\n"
         "a G21 program and 320 in/min in a G20 program; a length of 0.5 is 0.5 mm or\n"
         "0.5 inch. A program without G20 or G21 counts as mm. Each file's summary names\n"
         "its units.\n"
         "  --units mm|inch      refuse (leave unchanged) a program in the other units\n"
         "\n"
         "What to adjust:\n"
         "  --lines FIRST:LAST   walk these lines only (default: the whole program;\n"
         "                       \"10:\" runs to the end, \":50\" starts at line 1). When\n"
         "                       LAST falls inside a run of changed lines, the new feed\n"
         "                       stays in force after it (as in the window): a warning\n"
         "                       names the line and the feed\n"
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
         "  -n, --dry-run        write nothing; print what would change as a diff that\n"
         "                       patch applies (not with -o)\n"
         "  --no-backup          do not keep the old file as FILE~\n"
         "  --force              adjust a file that its owner or you may not write\n"
         "                       (it is replaced by a rename, as the folder allows)\n"
         "  -q, --quiet          no line of values, no summaries, no progress bar\n"
         "  -h, --help           this text\n"
         "  --version            the version\n"
         "Short options combine (-nq) and take attached values (-oout.ngc).\n"
         "\n"
         "Before the first file, a line on standard error says what the run will do:\n"
         "  lines shorter than 0.5 get F320 (near-diagonal only); arcs smaller than R2 get F300\n"
         "Letters in the fields count as capitals, and blanks are dropped (\"100 200\" is\n"
         "100200), as typed in the window. A field that is not an expression, cannot be\n"
         "computed or is not above 0 is a usage error, as is a feed that an F word would\n"
         "write as F0 or that is too large for one (1e9 and up), and a floating-point\n"
         "fault (\"Floating point overflow\"); nothing is touched then.\n"
         "\n"
         "Each file is locked while it is adjusted (a second run waits up to 10 seconds,\n"
         "then fails), saved through a temporary file in its folder (flushed to disk,\n"
         "then renamed over it; permissions, owner, ACLs and other extended attributes\n"
         "kept), and only if it is still the file that was read. A symbolic link is\n"
         "followed and its target replaced, except a link in a sticky world-writable\n"
         "folder that belongs to neither you nor the folder's owner. Other hard links of\n"
         "the file keep the old content (as with sed -i). Never adjusted in place: what\n"
         "is not a regular file, /dev/stdin and other /proc/self/fd paths, a file that\n"
         "is not text (NUL bytes, a binary signature, mostly control bytes), a file whose\n"
         "owner may not write it (without --force). A file that cannot be read, adjusted\n"
         "or written is left as it was and reported; the other files go on. A file with\n"
         "fewer than two lines says \"nothing to adjust\", which is not a failure; nor is\n"
         "a file the pass does not change (it is not saved again). A feed restore that\n"
         "would land on a \"%\" line or after M2/M30, where nothing runs, is left out and\n"
         "the summary says so.\n"
         "Each file's summary (lines walked, lines written, units, time, and its cycle\n"
         "time before and after) goes to standard error, with a progress bar for large\n"
         "files when that is a terminal, and total lines when more than one file was\n"
         "named.\n"
         "\n"
         "As a LinuxCNC AXIS filter (AXIS_PROGRESS_BAR=1 set), progress goes to standard\n"
         "error as FILTER_PROGRESS=N lines. In the INI file:\n"
         "  [FILTER]\n"
         "  PROGRAM_EXTENSION = .fa Feed-adjusted G-code\n"
         "  fa = brevand-batch --line-length 0.5 --line-feed 320 -o -\n"
         "\n"
         "Exit status: 0 every file done, 1 some file failed or output could not be\n"
         "written, 2 bad usage.\n"
         "\n"
         "Example:\n"
         "  brevand-batch --line-length 0.5 --line-feed 400*0.8 \\\n"
         "                --arc-radius 2 --arc-feed 300 part1.ngc part2.ngc\n"
         "\n"
         "See brevand-batch(1).\n";
}

}  // namespace batch
