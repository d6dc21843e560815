// The toolpath's place in the window: a dockable view (View menu; shown or
// hidden, and docked or floating, as last time) with camera buttons and the before-the-pass toggle,
// the cycle time in the status bar, and the machine profiles in the
// Settings menu. Clicking a segment moves the text cursor to its line; the
// selected lines are highlighted in the view.
#ifndef REFHOST_EDITOR_TOOLPATH_PANEL_H_
#define REFHOST_EDITOR_TOOLPATH_PANEL_H_

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QObject>
#include <QString>

#include "refhost/editor/line_view.h"
#include "refhost/editor/session.h"
#include "refhost/editor/toolpath_analyzer.h"
#include "refhost/editor/toolpath_view.h"

namespace refhost {

class ToolpathPanel : public QObject {
  Q_OBJECT

 public:
  // Adds the dock, the menus and the status label to `window`.
  ToolpathPanel(QMainWindow* window, EditorSession& session, LineView* text);

  ToolpathAnalyzer* analyzer() const { return analyzer_; }
  // Null until the view is first shown, and where OpenGL is missing.
  ToolpathView* view() const { return view_; }
  QDockWidget* dock() const { return dock_; }
  QLabel* status() const { return status_; }
  QAction* before_action() const { return before_; }
  // Shows or hides the view (and remembers it).
  void ShowView(bool on);

 private:
  void Refresh();          // a new analysis
  void UpdateSelection();  // highlight and status
  void EditProfiles();
  void EnsureView();
  static bool OpenGLAvailable();

  QMainWindow* window_;
  EditorSession& session_;
  LineView* text_;
  ToolpathAnalyzer* analyzer_;
  ToolpathView* view_ = nullptr;
  QDockWidget* dock_;
  QWidget* holder_ = nullptr;
  QLabel* placeholder_ = nullptr;
  QLabel* status_;
  QAction* before_ = nullptr;
  QList<QAction*> mill_only_;
  std::shared_ptr<const ToolpathGeometry> shown_;
  std::shared_ptr<const ToolpathGeometry> shown_before_;
  std::string shown_path_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_TOOLPATH_PANEL_H_
