#include "refhost/editor/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>

#include "refhost/editor/find.h"
#include "refhost/editor/recovery_prompt.h"
#include "refhost/editor/toolpath_panel.h"

namespace refhost {
namespace {

constexpr int kMaxRecent = 8;
const char kRecentKey[] = "recentFiles";
const char kFileFilter[] =
    "NC programs (*.nc *.ngc *.tap *.gcode *.txt *.cnc *.mpf *.eia *.iso);;All files (*)";

QString FromStd(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

MainWindow::MainWindow(EditorSession& session, bool save_on_exit, QWidget* parent)
    : QMainWindow(parent), session_(session), save_on_exit_(save_on_exit), view_(new LineView(session)) {
  setCentralWidget(view_);
  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  BuildMenus();
  toolpath_ = new ToolpathPanel(this, session_, view_);
  session_.AddListener([this] {
    UpdateTitle();
    UpdateStatus();
  });
  UpdateTitle();
  UpdateStatus();
  resize(900, 700);
  view_->setFocus();
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&New"), QKeySequence::New, this, [this] {
    if (MaybeSave()) session_.New();
  });
  file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
    if (!MaybeSave()) return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Open NC program"),
                                                      QFileInfo(FromStd(session_.path())).absolutePath(),
                                                      QLatin1String(kFileFilter));
    if (!path.isEmpty()) OpenFile(path);
  });
  recent_menu_ = file->addMenu(tr("Open &Recent"));
  RebuildRecentMenu();
  file->addAction(tr("&Save"), QKeySequence::Save, this, &MainWindow::Save);
  file->addAction(tr("Save &As..."), QKeySequence::SaveAs, this, &MainWindow::SaveAs);
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  undo_ = edit->addAction(tr("&Undo"), QKeySequence::Undo, this, [this] { session_.Undo(); });
  redo_ = edit->addAction(tr("&Redo"), QKeySequence::Redo, this, [this] { session_.Redo(); });
  edit->addSeparator();
  edit->addAction(tr("&Edit Line"), QKeySequence(Qt::Key_F2), view_, [this] { view_->EditCurrentLine(); });
  edit->addAction(tr("Insert Line &Below"), QKeySequence(Qt::CTRL | Qt::Key_Return), view_,
                  &LineView::InsertLineBelow);
  edit->addAction(tr("Insert Line &Above"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Return), view_,
                  &LineView::InsertLineAbove);
  edit->addAction(tr("&Delete Lines"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), view_,
                  &LineView::DeleteSelectedLines);
  edit->addSeparator();
  edit->addAction(tr("Select &All"), QKeySequence::SelectAll, this,
                  [this] { session_.Select(1, session_.document().LineCount()); });
  edit->addAction(tr("&Find..."), QKeySequence::Find, this, [this] { Find(true, true); });
  edit->addAction(tr("Find &Next"), QKeySequence::FindNext, this, [this] { Find(true, false); });
  edit->addAction(tr("Find &Previous"), QKeySequence::FindPrevious, this, [this] { Find(false, false); });
  edit->addAction(tr("&Go to Line..."), QKeySequence(Qt::CTRL | Qt::Key_G), this, &MainWindow::GoToLine);

  QMenu* machine = menuBar()->addMenu(tr("&Machine"));
  auto* group = new QActionGroup(this);
  lathe_ = machine->addAction(tr("&Lathe (X-Z)"));
  mill_ = machine->addAction(tr("&Mill (X-Y-Z)"));
  for (QAction* a : {lathe_, mill_}) {
    a->setCheckable(true);
    group->addAction(a);
  }
  connect(lathe_, &QAction::triggered, this, [this] { session_.SetSystemType(kSystemTypeLathe); UpdateStatus(); });
  connect(mill_, &QAction::triggered, this, [this] { session_.SetSystemType(kSystemTypeMill); UpdateStatus(); });
}

bool MainWindow::OpenFile(const QString& path) {
  std::string error;
  view_->CommitEdit();
  if (!session_.Open(path.toStdString(), error)) {
    QMessageBox::warning(this, tr("Norvane Editor"), FromStd(error));
    return false;
  }
  AddRecent(QFileInfo(path).absoluteFilePath());
  if (keeper_ != nullptr) {
    keeper_->OfferRecovery([this, path](const RecoveryProbe& probe) { return AskAboutRecovery(this, path, probe); });
  }
  return true;
}

void MainWindow::SetRecoveryKeeper(RecoveryKeeper* keeper) {
  keeper_ = keeper;
  connect(keeper_, &RecoveryKeeper::writeFailed, this, [this](const QString& reason) {
    statusBar()->showMessage(tr("Unsaved changes cannot be kept for recovery: %1").arg(reason));
  });
}

bool MainWindow::Save() {
  view_->CommitEdit();
  if (session_.path().empty()) return SaveAs();
  std::string error;
  if (!session_.Save(error)) {
    QMessageBox::critical(this, tr("Norvane Editor"),
                          tr("The program was not saved; the file on disk is unchanged.\n\n%1").arg(FromStd(error)));
    return false;
  }
  return true;
}

bool MainWindow::SaveAs() {
  view_->CommitEdit();
  const QString path = QFileDialog::getSaveFileName(this, tr("Save NC program"), FromStd(session_.path()),
                                                    QLatin1String(kFileFilter));
  if (path.isEmpty()) return false;
  std::string error;
  if (!session_.SaveAs(path.toStdString(), error)) {
    QMessageBox::critical(this, tr("Norvane Editor"),
                          tr("The program was not saved.\n\n%1").arg(FromStd(error)));
    return false;
  }
  AddRecent(QFileInfo(path).absoluteFilePath());
  return true;
}

bool MainWindow::MaybeSave() {
  view_->CommitEdit();
  if (!session_.document().Modified()) return true;
  if (save_on_exit_) return Save();
  const auto answer = QMessageBox::question(
      this, tr("Norvane Editor"), tr("The program has changed. Save it?"),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Save) return Save();
  if (answer != QMessageBox::Discard) return false;
  if (keeper_ != nullptr) keeper_->Discard();
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (MaybeSave()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void MainWindow::UpdateTitle() {
  const QString name = session_.path().empty() ? tr("Untitled") : QFileInfo(FromStd(session_.path())).fileName();
  setWindowTitle(name + QLatin1String("[*] - Norvane Editor"));
  setWindowModified(session_.document().Modified());
  undo_->setEnabled(session_.document().CanUndo());
  redo_->setEnabled(session_.document().CanRedo());
}

void MainWindow::UpdateStatus() {
  const LineSelection& s = session_.selection();
  const bool lathe = session_.SystemType() == kSystemTypeLathe;
  lathe_->setChecked(lathe);
  mill_->setChecked(!lathe);
  QString text = tr("Line %1 of %2").arg(s.Cursor()).arg(session_.document().LineCount());
  if (s.First() != s.Last()) text += tr("   Selected %1-%2").arg(s.First()).arg(s.Last());
  text += lathe ? tr("   Lathe (X-Z)") : tr("   Mill");
  status_->setText(text);
}

void MainWindow::AddRecent(const QString& path) {
  QSettings settings;
  QStringList list = settings.value(QLatin1String(kRecentKey)).toStringList();
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kMaxRecent) list.removeLast();
  settings.setValue(QLatin1String(kRecentKey), list);
  RebuildRecentMenu();
}

void MainWindow::RebuildRecentMenu() {
  recent_menu_->clear();
  const QStringList list = QSettings().value(QLatin1String(kRecentKey)).toStringList();
  for (const QString& path : list) {
    recent_menu_->addAction(path, this, [this, path] {
      if (MaybeSave()) OpenFile(path);
    });
  }
  recent_menu_->setEnabled(!list.isEmpty());
}

void MainWindow::Find(bool forward, bool ask) {
  if (ask || needle_.isEmpty()) {
    bool ok = false;
    const QString text = QInputDialog::getText(this, tr("Find"), tr("Find text:"), QLineEdit::Normal, needle_, &ok);
    if (!ok || text.isEmpty()) return;
    needle_ = text;
  }
  const std::int64_t line =
      FindLine(session_.document(), session_.selection().Cursor(), needle_.toStdString(), forward);
  if (line == 0) {
    statusBar()->showMessage(tr("\"%1\" not found").arg(needle_), 4000);
    return;
  }
  session_.MoveCursor(line, false);
  view_->EnsureVisible(line);
}

void MainWindow::GoToLine() {
  bool ok = false;
  const qint64 count = session_.document().LineCount();
  const int line = QInputDialog::getInt(this, tr("Go to Line"), tr("Line (1 to %1):").arg(count),
                                        int(session_.selection().Cursor()), 1, int(count), 1, &ok);
  if (!ok) return;
  session_.MoveCursor(line, false);
  view_->EnsureVisible(line);
}

}  // namespace refhost
