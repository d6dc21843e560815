#include "refhost/editor/toolpath_analyzer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cmath>

namespace refhost {

ToolpathAnalyzer::ToolpathAnalyzer(EditorSession& session, QObject* parent)
    : QObject(parent), session_(session), mill_(SmallMillProfile()), lathe_(SmallLatheProfile()) {
  pause_.setSingleShot(true);
  pause_.setInterval(120);
  connect(&pause_, &QTimer::timeout, this, &ToolpathAnalyzer::Start);
  session_.AddListener([this] { OnChange(); });
  pause_.start();
}

ToolpathAnalyzer::~ToolpathAnalyzer() {
  cancel_ = true;
  if (worker_.joinable()) worker_.join();
}

void ToolpathAnalyzer::SetWantGeometry(bool want) {
  if (want == want_geometry_) return;
  want_geometry_ = want;
  if (want) pause_.start();
}

void ToolpathAnalyzer::SetProfiles(const MachineProfile& mill, const MachineProfile& lathe) {
  mill_ = mill;
  lathe_ = lathe;
  baseline_.reset();  // times from another profile do not compare
  pause_.start();
}

const MachineProfile& ToolpathAnalyzer::Profile(int system_type) const {
  return system_type == kSystemTypeLathe ? lathe_ : mill_;
}

void ToolpathAnalyzer::OnChange() {
  // Called for every change, also each word a pass writes: kept O(1).
  const Document& doc = session_.document();
  const bool open = doc.GroupOpen();
  if (open && !group_was_open_) {
    if (current_ && current_->revision == seen_revision_) {
      baseline_ = current_;  // of the text before the group's first change
    } else if (doc.Revision() == seen_revision_) {
      auto before = std::make_shared<ToolpathAnalysis>();
      before->revision = doc.Revision();
      before->system_type = session_.SystemType();
      before->text = std::make_shared<const std::string>(doc.Text());
      before->timed = false;
      baseline_ = before;
    }
  }
  group_was_open_ = open;
  seen_revision_ = doc.Revision();
  if (!doc.CanUndo() && !doc.CanRedo()) baseline_.reset();
  if (!current_ || current_->revision != doc.Revision() || current_->system_type != session_.SystemType() ||
      current_->marks.size() != static_cast<std::size_t>(doc.MarkCount()) || pause_.isActive()) {
    pause_.start();
  } else {
    emit updated();  // the selection moved
  }
}

bool ToolpathAnalyzer::UpToDate() const {
  return current_ && current_->revision == session_.document().Revision() && !running_ && !pause_.isActive();
}

void ToolpathAnalyzer::Start() {
  if (running_) {
    again_ = true;
    return;
  }
  if (worker_.joinable()) worker_.join();
  const Document& doc = session_.document();
  Job job;
  if (BaselinePending() && (!baseline_->timed || !CurrentStale())) {
    job.baseline = true;
    job.time = !baseline_->timed;
    job.text = baseline_->text;
    job.marks = baseline_->marks;
    job.revision = baseline_->revision;
    job.system_type = baseline_->system_type;
  } else {
    job.text = std::make_shared<const std::string>(doc.Text());
    job.marks = doc.MarkedLines();
    job.revision = doc.Revision();
    job.system_type = session_.SystemType();
  }
  job.profile = Profile(job.system_type);
  job.geometry = want_geometry_;
  running_ = true;
  cancel_ = false;
  worker_ = std::thread([this, job] {
    std::shared_ptr<ToolpathAnalysis> result = Run(job, cancel_);
    if (cancel_) return;
    QMetaObject::invokeMethod(this, [this, result, baseline = job.baseline] { Finished(result, baseline); },
                              Qt::QueuedConnection);
  });
}

bool ToolpathAnalyzer::BaselinePending() const {
  return baseline_ && baseline_->text && (!baseline_->timed || (want_geometry_ && !baseline_->geometry));
}

bool ToolpathAnalyzer::CurrentStale() const {
  const Document& doc = session_.document();
  return !current_ || current_->revision != doc.Revision() || current_->system_type != session_.SystemType() ||
         current_->marks != doc.MarkedLines() || (want_geometry_ && !current_->geometry) ||
         current_->profile_text != FormatMachineProfile(Profile(session_.SystemType()));
}

std::shared_ptr<ToolpathAnalysis> ToolpathAnalyzer::Run(const Job& job, const std::atomic<bool>& cancel) {
  auto result = std::make_shared<ToolpathAnalysis>();
  result->revision = job.revision;
  result->system_type = job.system_type;
  result->marks = job.marks;
  result->text = job.text;
  result->profile_text = FormatMachineProfile(job.profile);
  Document doc;
  doc.Load(*job.text);
  // The time on a second thread beside the geometry (the document is only read).
  std::thread timing;
  if (job.time) timing = std::thread([&] { result->time = EstimateCycleTime(doc, job.profile); });
  if (job.geometry && !cancel) {
    auto geometry = std::make_shared<ToolpathGeometry>(BuildToolpathGeometry(
        [&](const std::function<void(const PathMove&)>& sink) { ForEachPathMove(doc, sink); },
        [&] { return cancel.load(); }, static_cast<std::size_t>(doc.LineCount())));
    result->geometry = std::move(geometry);
  }
  if (timing.joinable()) timing.join();
  return result;
}

void ToolpathAnalyzer::Finished(std::shared_ptr<ToolpathAnalysis> result, bool baseline) {
  running_ = false;
  if (worker_.joinable()) worker_.join();
  if (baseline) {
    if (baseline_ && baseline_->revision == result->revision && baseline_->text == result->text) {
      auto filled = std::make_shared<ToolpathAnalysis>(*baseline_);
      if (result->geometry) filled->geometry = result->geometry;
      if (!filled->timed) {
        filled->time = result->time;
        filled->timed = true;
      }
      baseline_ = filled;
    }
  } else {
    current_ = result;
  }
  const bool more = again_ || CurrentStale() || BaselinePending();
  again_ = false;
  emit updated();
  if (more) pause_.start();
}

void ToolpathAnalyzer::Flush() {
  for (int round = 0; round < 4; ++round) {
    if (pause_.isActive()) {
      pause_.stop();
      Start();
    }
    if (!running_) break;
    worker_.join();
    QCoreApplication::sendPostedEvents(this);
    QCoreApplication::processEvents();
  }
}

QString ToolpathAnalyzer::StatusText() const {
  if (!current_) return tr("cycle \u2026");
  const LineSelection& sel = session_.selection();
  const auto text = [](double seconds) { return QString::fromStdString(FormatDuration(seconds)); };
  const double now = current_->time.total;
  const double sel_now = current_->time.Lines(sel.First(), sel.Last());
  QString out;
  if (baseline_ && baseline_->timed && session_.document().MarkCount() > 0) {
    const double before = baseline_->time.total;
    const double sel_before = baseline_->time.Lines(sel.First(), sel.Last());
    out = tr("cycle %1 \u2192 %2").arg(text(before), text(now));
    if (before > 0) out += QString::asprintf(" (%+.1f %%)", (now - before) / before * 100.0);
    out += tr(", selection %1 \u2192 %2").arg(text(sel_before), text(sel_now));
  } else {
    out = tr("cycle %1, selection %2").arg(text(now), text(sel_now));
  }
  if (!UpToDate()) out += QStringLiteral(" \u2026");
  return out;
}

}  // namespace refhost
