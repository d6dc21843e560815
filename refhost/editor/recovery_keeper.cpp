#include "refhost/editor/recovery_keeper.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace refhost {
namespace {

void Log(const std::string& text) { std::fprintf(stderr, "norvane-editor: %s\n", text.c_str()); }

std::string When(std::time_t t) {
  char text[32];
  struct tm local {};
  ::localtime_r(&t, &local);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

RecoveryKeeper::RecoveryKeeper(EditorSession& session, std::string folder, int quiet_ms, int max_delay_ms,
                               QObject* parent)
    : QObject(parent),
      session_(session),
      folder_(std::move(folder)),
      quiet_ms_(quiet_ms),
      max_delay_ms_(max_delay_ms),
      revision_(session.document().Revision()),
      path_(session.path()) {
  clock_.start();
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &RecoveryKeeper::OnTimer);
  session_.AddListener([this] { OnSessionChanged(); });
}

std::string RecoveryKeeper::CurrentFile() const {
  if (folder_.empty()) return std::string();
  return folder_ + "/" + RecoveryFileName(CanonicalDocumentPath(session_.path()), long(::getpid()));
}

void RecoveryKeeper::OnSessionChanged() {
  const Document& doc = session_.document();
  if (!doc.Modified()) {
    // Saved, reloaded, or undone back to the file: nothing to keep.
    timer_.stop();
    first_pending_ms_ = -1;
    revision_ = doc.Revision();
    path_ = session_.path();
    RemoveOwn();
    return;
  }
  if (doc.Revision() == revision_ && session_.path() == path_) return;  // selection, marks
  if (session_.path() != path_) own_file_.clear();  // the old file still holds unsaved text
  revision_ = doc.Revision();
  path_ = session_.path();
  discarded_ = false;
  last_change_ms_ = clock_.elapsed();
  if (first_pending_ms_ < 0) first_pending_ms_ = last_change_ms_;
  if (!timer_.isActive() && !folder_.empty()) timer_.start(quiet_ms_);
}

void RecoveryKeeper::OnTimer() {
  if (first_pending_ms_ < 0) return;
  const qint64 now = clock_.elapsed();
  const qint64 quiet_left = quiet_ms_ - (now - last_change_ms_);
  const qint64 delay_left = max_delay_ms_ - (now - first_pending_ms_);
  if (quiet_left > 0 && delay_left > 0) {
    timer_.start(int(std::min(quiet_left, delay_left)));
    return;
  }
  std::string error;
  if (!Write(error)) {
    Report(error);
    timer_.start(std::max(quiet_ms_, 1000));  // try again later
  }
}

bool RecoveryKeeper::Flush(std::string& error) {
  if (!session_.document().Modified() || discarded_) return true;
  if (first_pending_ms_ < 0 && !own_file_.empty() && ::access(own_file_.c_str(), F_OK) == 0) return true;
  return Write(error);
}

bool RecoveryKeeper::Write(std::string& error) {
  if (!PrepareRecoveryFolder(folder_, error)) return false;
  const std::string canonical = CanonicalDocumentPath(session_.path());
  const std::string file = folder_ + "/" + RecoveryFileName(canonical, long(::getpid()));
  if (owned_.count(file) == 0) {
    bool moved = false;
    if (!SetRecoveryFileAside(file, moved, error)) return false;
    if (moved) Log("an earlier recovery file was set aside as " + file + "~");
    owned_.insert(file);
  }
  if (!WriteRecoveryFile(file, canonical, session_.FileText(), error)) return false;
  own_file_ = file;
  first_pending_ms_ = -1;
  last_problem_.clear();
  return true;
}

void RecoveryKeeper::Discard() {
  timer_.stop();
  first_pending_ms_ = -1;
  discarded_ = true;
  RemoveOwn();
}

void RecoveryKeeper::RemoveOwn() {
  if (own_file_.empty()) return;
  std::string error;
  if (!RemoveRecoveryFile(own_file_, error)) Report(error);
  own_file_.clear();
}

void RecoveryKeeper::Report(const std::string& problem) {
  if (problem == last_problem_) return;  // once, not at every retry
  last_problem_ = problem;
  Log(problem);
  emit writeFailed(QString::fromStdString(problem));
}

RecoveryProbe RecoveryKeeper::OfferRecovery(const std::function<RecoveryChoice(const RecoveryProbe&)>& choose) {
  RecoveryProbe probe = ProbeRecovery(folder_, session_.path());
  switch (probe.state) {
    case RecoveryProbe::State::kNone:
      break;
    case RecoveryProbe::State::kRefused:
      Log("not using a recovery file for " + session_.path() + ": " + probe.reason);
      break;
    case RecoveryProbe::State::kOlder:
      Log("the recovery file " + probe.file + " is older than " + session_.path() + "; left as it is");
      break;
    case RecoveryProbe::State::kNewer:
      switch (choose(probe)) {
        case RecoveryChoice::kRecover:
          owned_.insert(probe.file);  // from now on it holds this editor's text
          own_file_ = probe.file;
          if (!session_.ReplaceText(std::move(probe.bytes))) {
            RemoveOwn();  // it held what the file holds
          }
          Log("recovered " + session_.path() + " from " + probe.file);
          break;
        case RecoveryChoice::kDiscard: {
          std::string error;
          if (RemoveRecoveryFile(probe.file, error)) {
            Log("removed the recovery file " + probe.file);
          } else {
            Log(error);
          }
          break;
        }
        case RecoveryChoice::kKeep:
          Log("a recovery file of " + session_.path() + " from " + When(probe.written) + " exists: " + probe.file +
              "; left as it is (open it with --recovery recover to take it)");
          break;
      }
      break;
  }
  return probe;
}

}  // namespace refhost
