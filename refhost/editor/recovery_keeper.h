// Keeps the recovery file of the session's document up to date: written a
// short time after the text last changed (by the window or over the bus),
// removed when the program is saved, undone back to the file, or discarded.
//
// Contracts:
// - A write comes `quiet_ms` after the last change, and no later than
//   `max_delay_ms` after the first unwritten one, so a steady stream of
//   changes (a long pass) is still kept.
// - It removes only files it wrote or adopted. A recovery file it finds in
//   its way (one the user kept for later) is set aside as NAME~ first.
// - Failures are reported once each on stderr and through writeFailed(); the
//   editor goes on working.
#ifndef REFHOST_EDITOR_RECOVERY_KEEPER_H_
#define REFHOST_EDITOR_RECOVERY_KEEPER_H_

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "refhost/editor/recovery.h"
#include "refhost/editor/session.h"

namespace refhost {

// What to do with a recovery file found when a document is opened.
enum class RecoveryChoice {
  kRecover,  // load its text (the program becomes modified)
  kDiscard,  // remove it
  kKeep,     // leave it for later
};

class RecoveryKeeper : public QObject {
  Q_OBJECT

 public:
  // `folder`: where recovery files go (RecoveryFolder()); empty disables.
  RecoveryKeeper(EditorSession& session, std::string folder, int quiet_ms = 1000, int max_delay_ms = 3000,
                 QObject* parent = nullptr);

  // After the session opened a document: looks for its recovery file. A
  // newer, safe one is put to `choose`; an older or unsafe one is left
  // alone and logged. Returns the probe (for the caller's messages).
  RecoveryProbe OfferRecovery(const std::function<RecoveryChoice(const RecoveryProbe&)>& choose);

  // The user threw the changes away: removes the file and writes nothing
  // until the text changes again.
  void Discard();
  bool Discarded() const { return discarded_; }

  // Writes now when the program has changes not yet in the file. False with
  // `error` set when that fails.
  bool Flush(std::string& error);

  // The recovery file of the current document (written or not).
  std::string CurrentFile() const;

 signals:
  void writeFailed(const QString& reason);

 private:
  void OnSessionChanged();
  void OnTimer();
  bool Write(std::string& error);
  void RemoveOwn();
  void Report(const std::string& problem);

  EditorSession& session_;
  std::string folder_;
  int quiet_ms_;
  int max_delay_ms_;
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_change_ms_ = 0;
  qint64 first_pending_ms_ = -1;  // -1: nothing unwritten

  std::uint64_t revision_ = 0;
  std::string path_;
  bool discarded_ = false;
  std::string own_file_;          // holds the current unsaved text
  std::set<std::string> owned_;   // names this process may overwrite
  std::string last_problem_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_RECOVERY_KEEPER_H_
