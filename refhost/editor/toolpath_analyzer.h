// The cycle time and the drawable toolpath of the open program, worked out
// off the UI thread after each change, and kept from before the last pass
// for comparison.
//
// Contracts:
// - Every change of the session schedules a fresh analysis (after a short
//   pause, so that typing is never held up); the UI thread only copies the
//   text. At most one worker runs; a change during its run starts another
//   when it ends. updated() follows each finished analysis.
// - The baseline is the analysis of the text as it was when a pass began
//   (the moment the document's undo group opens): the last one finished
//   when it is of that text, else one made from a copy of it (when the text
//   has not changed yet). It is dropped when the document has no undo
//   history left (a program opened or made new).
// - Geometry is built only while SetWantGeometry(true) (the view is shown).
// - The destructor waits for a running worker to stop.
#ifndef REFHOST_EDITOR_TOOLPATH_ANALYZER_H_
#define REFHOST_EDITOR_TOOLPATH_ANALYZER_H_

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "refhost/editor/session.h"
#include "refhost/toolpath/cycle_time.h"
#include "refhost/toolpath/machine_profile.h"
#include "refhost/toolpath/toolpath_geometry.h"

namespace refhost {

struct ToolpathAnalysis {
  std::uint64_t revision = 0;
  int system_type = kSystemTypeMill;
  CycleTime time;
  std::shared_ptr<const ToolpathGeometry> geometry;  // null when not built
  std::vector<std::int64_t> marks;                   // marked lines of the text
  std::shared_ptr<const std::string> text;           // what it was made from
  std::string profile_text;                          // the profile it was timed on
  bool timed = true;                                 // `time` is filled in
};

class ToolpathAnalyzer : public QObject {
  Q_OBJECT

 public:
  explicit ToolpathAnalyzer(EditorSession& session, QObject* parent = nullptr);
  ~ToolpathAnalyzer() override;

  void SetWantGeometry(bool want);
  // The profiles of the two machine types (the session's type picks one).
  void SetProfiles(const MachineProfile& mill, const MachineProfile& lathe);
  const MachineProfile& Profile(int system_type) const;

  std::shared_ptr<const ToolpathAnalysis> Current() const { return current_; }
  std::shared_ptr<const ToolpathAnalysis> Baseline() const { return baseline_; }
  // True when the shown analysis is for the document as it is now.
  bool UpToDate() const;
  // "cycle 12:34 → 13:05 (+4.1 %), selection 2:10 → 2:41"; before and
  // after while the document holds the marks of a pass.
  QString StatusText() const;
  // Runs the pending analysis now and waits for it (tests, benchmarks).
  void Flush();

 signals:
  void updated();

 private:
  struct Job {
    std::shared_ptr<const std::string> text;
    std::vector<std::int64_t> marks;
    std::uint64_t revision = 0;
    int system_type = kSystemTypeMill;
    MachineProfile profile;
    bool geometry = false;
    bool time = true;
    bool baseline = false;  // fills in the baseline
  };
  void OnChange();
  bool CurrentStale() const;
  bool BaselinePending() const;
  void Start();
  void Finished(std::shared_ptr<ToolpathAnalysis> result, bool baseline);
  static std::shared_ptr<ToolpathAnalysis> Run(const Job& job, const std::atomic<bool>& cancel);

  EditorSession& session_;
  QTimer pause_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  bool running_ = false;
  bool again_ = false;
  bool want_geometry_ = false;
  bool group_was_open_ = false;
  std::uint64_t seen_revision_ = 0;  // at the last change
  MachineProfile mill_, lathe_;
  std::shared_ptr<const ToolpathAnalysis> current_, baseline_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_TOOLPATH_ANALYZER_H_
