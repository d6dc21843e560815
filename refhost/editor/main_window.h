// The editor's window: menus, the line view, the title with its modified
// marker, recent files. The work is done by EditorSession and LineView.
#ifndef REFHOST_EDITOR_MAIN_WINDOW_H_
#define REFHOST_EDITOR_MAIN_WINDOW_H_

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>

#include "refhost/editor/line_view.h"
#include "refhost/editor/recovery_keeper.h"
#include "refhost/editor/session.h"

namespace refhost {

class ToolpathPanel;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `save_on_exit`: closing saves a modified program without asking.
  MainWindow(EditorSession& session, bool save_on_exit, QWidget* parent = nullptr);

  LineView* view() const { return view_; }
  ToolpathPanel* toolpath() const { return toolpath_; }
  // The keeper told about "Discard" and asked about a recovery file when a
  // program is opened from the menu; its failures show in the status bar.
  void SetRecoveryKeeper(RecoveryKeeper* keeper);
  // Opens `path`, telling the user in a message box when it fails.
  bool OpenFile(const QString& path);

 public slots:
  bool Save();
  bool SaveAs();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void UpdateTitle();
  void UpdateStatus();
  void AddRecent(const QString& path);
  void RebuildRecentMenu();
  bool MaybeSave();
  void Find(bool forward, bool ask);
  void GoToLine();

  EditorSession& session_;
  bool save_on_exit_;
  LineView* view_;
  QMenu* recent_menu_ = nullptr;
  QAction* undo_ = nullptr;
  QAction* redo_ = nullptr;
  QAction* lathe_ = nullptr;
  QAction* mill_ = nullptr;
  QLabel* status_ = nullptr;
  QString needle_;
  RecoveryKeeper* keeper_ = nullptr;
  ToolpathPanel* toolpath_ = nullptr;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_MAIN_WINDOW_H_
