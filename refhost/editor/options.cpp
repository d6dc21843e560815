#include "refhost/editor/options.h"

#include <charconv>
#include <cstdlib>

#include "refhost/core/automation.h"

namespace refhost {
namespace {

bool ParseLine(std::string_view text, std::int64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 1;
}

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Qt options that take a value; their value must not be read as a file.
bool QtOptionWithValue(const std::string& arg) {
  for (const char* name : {"-platform", "-style", "-stylesheet", "-display", "-qwindowgeometry",
                           "-qwindowtitle", "-qwindowicon", "-platformpluginpath", "-platformtheme"}) {
    if (arg == name) return true;
  }
  return false;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, EditorOptions& options, std::string& error) {
  std::vector<std::string> files;
  bool only_files = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](std::string& out) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
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
      files.push_back(arg);
    } else if (arg == "--") {
      only_files = true;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--save-on-exit") {
      options.save_on_exit = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (is("--system-type")) {
      std::string kind;
      if (!value(kind)) return false;
      if (kind == "lathe") {
        options.system_type = kSystemTypeLathe;
      } else if (kind == "mill") {
        options.system_type = kSystemTypeMill;
      } else {
        error = "--system-type takes lathe or mill, not \"" + kind + "\"";
        return false;
      }
    } else if (is("--recovery")) {
      if (!value(options.recovery)) return false;
      if (options.recovery != "ask" && options.recovery != "recover" && options.recovery != "discard" &&
          options.recovery != "keep") {
        error = "--recovery takes ask, recover, discard or keep, not \"" + options.recovery + "\"";
        return false;
      }
    } else if (is("--select")) {
      std::string range;
      if (!value(range)) return false;
      const auto colon = range.find(':');
      std::int64_t first = 0;
      std::int64_t last = 0;
      if (colon == std::string::npos ||
          !ParseLine(std::string_view(range).substr(0, colon), first) ||
          !ParseLine(std::string_view(range).substr(colon + 1), last)) {
        error = "--select takes FIRST:LAST, two line numbers from 1, not \"" + range + "\"";
        return false;
      }
      options.select_first = first;
      options.select_last = last;
    } else if (arg.rfind("--", 0) == 0) {
      error = "unknown option " + arg + " (see --help)";
      return false;
    } else if (QtOptionWithValue(arg)) {
      ++i;  // Qt reads it
    }
  }
  if (files.size() > 1) {
    error = "the editor opens one program at a time; " + std::to_string(files.size()) + " were given";
    return false;
  }
  if (!files.empty()) options.file = files.front();
  return true;
}

std::string UsageText() {
  return "Usage: norvane-editor [options] [FILE]\n"
         "A small NC program editor that serves the norvane.norvanex host interface\n"
         "on the session bus.\n"
         "\n"
         "  --headless             no window: open FILE and serve the bus only\n"
         "  --select FIRST:LAST    select lines FIRST to LAST (numbered from 1)\n"
         "  --system-type KIND     lathe (X-Z, code 304) or mill (code 301)\n"
         "  --save-on-exit         save a modified program when the editor quits\n"
         "  --recovery WHAT        a recovery file newer than FILE: ask (the default;\n"
         "                         headless keeps it), recover, discard or keep\n"
         "  --help                 this text\n"
         "  --version              the version\n"
         "\n"
         "Without a display (no DISPLAY or WAYLAND_DISPLAY) the editor runs headless.\n"
         "Headless, it is driven over D-Bus: interface norvane.norvanex.Editor at\n"
         "/norvanex offers Save, SaveAs, SetSelection, Undo, Redo and Quit.\n"
         "\n"
         "Unsaved changes are kept in $XDG_STATE_HOME/norvane-editor (by default\n"
         "~/.local/state/norvane-editor). SIGTERM, SIGINT and SIGHUP keep them there\n"
         "and end the editor (with --save-on-exit they are saved instead).\n";
}

bool NoDisplay() {
  return !EnvSet("DISPLAY") && !EnvSet("WAYLAND_DISPLAY") && !EnvSet("QT_QPA_PLATFORM");
}

}  // namespace refhost
