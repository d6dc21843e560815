// The editor's command line.
#ifndef REFHOST_EDITOR_OPTIONS_H_
#define REFHOST_EDITOR_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace refhost {

struct EditorOptions {
  std::string file;                  // program to open; empty for a new one
  bool headless = false;             // no window: serve the bus only
  bool save_on_exit = false;         // save a modified program when quitting
  std::optional<int> system_type;    // from --system-type lathe|mill
  std::int64_t select_first = 0;     // --select FIRST:LAST (0: none)
  std::int64_t select_last = 0;
  // --recovery: what to do with a newer recovery file of FILE: "ask" (the
  // window asks; headless keeps it), "recover", "discard" or "keep".
  std::string recovery = "ask";
  bool help = false;
  bool version = false;
};

// Parses argv[1..]. False with `error` set (one line, for stderr) on a bad
// option. Qt's own options (-platform, -style ...) are left to Qt: unknown
// single-dash options are skipped.
bool ParseOptions(const std::vector<std::string>& args, EditorOptions& options, std::string& error);

// The text of --help.
std::string UsageText();

// True when no display can be reached: no DISPLAY, no WAYLAND_DISPLAY and no
// QT_QPA_PLATFORM chosen. The editor then serves headless.
bool NoDisplay();

}  // namespace refhost

#endif  // REFHOST_EDITOR_OPTIONS_H_
