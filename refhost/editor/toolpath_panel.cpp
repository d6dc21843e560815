#include "refhost/editor/toolpath_panel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace refhost {
namespace {

const char kVisibleKey[] = "toolpath/visible";
const char kAreaKey[] = "toolpath/area";
const char kFloatingKey[] = "toolpath/floating";
const char kGeometryKey[] = "toolpath/geometry";
const char kMillKey[] = "machineProfile/mill";
const char kLatheKey[] = "machineProfile/lathe";

// The stored profile text of one machine type over its default.
MachineProfile StoredProfile(const char* key, const MachineProfile& base) {
  const QString text = QSettings().value(QLatin1String(key)).toString();
  MachineProfile p = base;
  std::string error;
  if (!text.isEmpty() && !ParseMachineProfile(text.toStdString(), base, p, error)) p = base;
  return p;
}

}  // namespace

ToolpathPanel::ToolpathPanel(QMainWindow* window, EditorSession& session, LineView* text)
    : QObject(window), window_(window), session_(session), text_(text),
      analyzer_(new ToolpathAnalyzer(session, this)), dock_(new QDockWidget(tr("Toolpath"), window)), status_(new QLabel(window)) {
  analyzer_->SetProfiles(StoredProfile(kMillKey, SmallMillProfile()), StoredProfile(kLatheKey, SmallLatheProfile()));

  holder_ = new QWidget;
  auto* layout = new QVBoxLayout(holder_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QToolBar(holder_);
  const struct {
    const char* name;
    ToolpathView::Preset preset;
  } presets[] = {{"Top", ToolpathView::Preset::kTop},
                 {"Front", ToolpathView::Preset::kFront},
                 {"Side", ToolpathView::Preset::kSide},
                 {"Iso", ToolpathView::Preset::kIso}};
  for (const auto& p : presets) {
    QAction* a = bar->addAction(tr(p.name), this, [this, preset = p.preset] {
      if (view_ != nullptr) view_->SetPreset(preset);
    });
    mill_only_ << a;
  }
  bar->addAction(tr("Fit"), this, [this] {
    if (view_ != nullptr) view_->Fit();
  });
  bar->addSeparator();
  before_ = bar->addAction(tr("Feeds before pass"));
  before_->setCheckable(true);
  before_->setEnabled(false);
  before_->setToolTip(tr("Colour the moves by the feeds they had before the last pass"));
  connect(before_, &QAction::toggled, this, [this](bool on) {
    if (view_ != nullptr) view_->ShowBefore(on);
  });
  layout->addWidget(bar);
  placeholder_ = new QLabel(tr("The toolpath needs OpenGL, which this display does not offer."), holder_);
  placeholder_->setAlignment(Qt::AlignCenter);
  placeholder_->setWordWrap(true);
  layout->addWidget(placeholder_, 1);
  dock_->setObjectName(QStringLiteral("toolpathDock"));
  dock_->setWidget(holder_);
  // Where the dock was last time: its side, or floating with its geometry.
  QSettings stored;
  const auto area = static_cast<Qt::DockWidgetArea>(
      stored.value(QLatin1String(kAreaKey), int(Qt::RightDockWidgetArea)).toInt());
  window_->addDockWidget(area == Qt::LeftDockWidgetArea || area == Qt::TopDockWidgetArea ||
                                 area == Qt::BottomDockWidgetArea
                             ? area
                             : Qt::RightDockWidgetArea,
                         dock_);
  if (stored.value(QLatin1String(kFloatingKey), false).toBool()) {
    dock_->setFloating(true);
    dock_->restoreGeometry(stored.value(QLatin1String(kGeometryKey)).toByteArray());
  }
  connect(dock_, &QDockWidget::dockLocationChanged, this, [](Qt::DockWidgetArea where) {
    if (where != Qt::NoDockWidgetArea) QSettings().setValue(QLatin1String(kAreaKey), int(where));
  });
  connect(dock_, &QDockWidget::topLevelChanged, this, [this](bool floating) {
    QSettings().setValue(QLatin1String(kFloatingKey), floating);
    if (floating) QSettings().setValue(QLatin1String(kGeometryKey), dock_->saveGeometry());
  });

  QMenu* view_menu = window_->menuBar()->addMenu(tr("&View"));
  QAction* toggle = dock_->toggleViewAction();
  toggle->setText(tr("&Toolpath"));
  toggle->setShortcut(QKeySequence(Qt::Key_F9));
  view_menu->addAction(toggle);
  QMenu* settings = window_->menuBar()->addMenu(tr("&Settings"));
  settings->addAction(tr("&Machine Profiles..."), this, &ToolpathPanel::EditProfiles);

  window_->statusBar()->addPermanentWidget(status_);
  connect(analyzer_, &ToolpathAnalyzer::updated, this, &ToolpathPanel::Refresh);
  session_.AddListener([this] { UpdateSelection(); });
  const bool visible = QSettings().value(QLatin1String(kVisibleKey), false).toBool();
  dock_->setVisible(visible);
  if (visible) EnsureView();
  connect(dock_, &QDockWidget::visibilityChanged, this, [this](bool) {
    // A dock hidden behind a tab is still wanted.
    const bool shown = !dock_->isHidden();
    if (shown) EnsureView();
    analyzer_->SetWantGeometry(shown && view_ != nullptr);
    if (window_->isVisible()) QSettings().setValue(QLatin1String(kVisibleKey), shown);
  });
  UpdateSelection();
}

bool ToolpathPanel::OpenGLAvailable() {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return false;
  QOpenGLContext context;
  return context.create();
}

void ToolpathPanel::EnsureView() {
  if (view_ != nullptr || !OpenGLAvailable()) return;
  // Made when first shown: a window without it composes without OpenGL.
  view_ = new ToolpathView(holder_);
  holder_->layout()->replaceWidget(placeholder_, view_);
  placeholder_->hide();
  connect(view_, &ToolpathView::lineClicked, this, [this](qint64 line) {
    session_.MoveCursor(line, false);
    text_->EnsureVisible(line);
  });
  analyzer_->SetWantGeometry(true);
  shown_.reset();
  Refresh();
}

void ToolpathPanel::ShowView(bool on) {
  dock_->setVisible(on);
  if (on) EnsureView();
  analyzer_->SetWantGeometry(on && view_ != nullptr);
  QSettings().setValue(QLatin1String(kVisibleKey), on);
}

void ToolpathPanel::Refresh() {
  const auto current = analyzer_->Current();
  const auto baseline = analyzer_->Baseline();
  std::shared_ptr<const ToolpathGeometry> before;
  if (baseline && session_.document().MarkCount() > 0) before = baseline->geometry;
  if (view_ != nullptr && current && current->geometry &&
      (current->geometry != shown_ || before != shown_before_)) {
    const bool fit = session_.path() != shown_path_;
    shown_path_ = session_.path();
    shown_ = current->geometry;
    shown_before_ = before;
    view_->SetGeometry(current->geometry, before, current->geometry->SegmentsOf(current->marks),
                       current->system_type == kSystemTypeLathe, fit);
    for (QAction* a : mill_only_) a->setVisible(!view_->Lathe());
    before_->setEnabled(view_->HasBefore());
    if (!view_->HasBefore()) before_->setChecked(false);
  }
  UpdateSelection();
}

void ToolpathPanel::UpdateSelection() {
  const LineSelection& s = session_.selection();
  if (view_ != nullptr) view_->SetHighlight(s.First(), s.Last());
  status_->setText(analyzer_->StatusText());
}

void ToolpathPanel::EditProfiles() {
  QDialog dialog(window_);
  dialog.setWindowTitle(tr("Machine Profiles"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* tabs = new QTabWidget(&dialog);
  const MachineProfile defaults[2] = {SmallMillProfile(), SmallLatheProfile()};
  QPlainTextEdit* edits[2];
  const char* names[2] = {"Mill", "Lathe"};
  for (int i = 0; i < 2; ++i) {
    edits[i] = new QPlainTextEdit(&dialog);
    edits[i]->setFont(QFont(QStringLiteral("monospace")));
    edits[i]->setPlainText(QString::fromStdString(
        FormatMachineProfile(analyzer_->Profile(i == 0 ? kSystemTypeMill : kSystemTypeLathe))));
    tabs->addTab(edits[i], tr(names[i]));
  }
  layout->addWidget(tabs);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QPushButton* reset = buttons->addButton(tr("Defaults"), QDialogButtonBox::ResetRole);
  connect(reset, &QPushButton::clicked, &dialog, [&] {
    const int i = tabs->currentIndex();
    edits[i]->setPlainText(QString::fromStdString(FormatMachineProfile(defaults[i])));
  });
  MachineProfile parsed[2];
  connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    for (int i = 0; i < 2; ++i) {
      std::string error;
      if (!ParseMachineProfile(edits[i]->toPlainText().toStdString(), defaults[i], parsed[i], error)) {
        tabs->setCurrentIndex(i);
        QMessageBox::warning(&dialog, tr("Machine Profiles"),
                             tr("%1 profile, %2").arg(tr(names[i]), QString::fromStdString(error)));
        return;
      }
    }
    dialog.accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);
  dialog.resize(560, 320);
  if (dialog.exec() != QDialog::Accepted) return;
  QSettings settings;
  settings.setValue(QLatin1String(kMillKey), QString::fromStdString(FormatMachineProfile(parsed[0])));
  settings.setValue(QLatin1String(kLatheKey), QString::fromStdString(FormatMachineProfile(parsed[1])));
  analyzer_->SetProfiles(parsed[0], parsed[1]);
}

}  // namespace refhost
