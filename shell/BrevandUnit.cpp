#include "shell/BrevandUnit.h"

#include <QGuiApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QMoveEvent>
#include <QScreen>
#include <limits>
#include <map>
#include <stdexcept>

#include "feed/pass.h"
#include "shell/busy_pass.h"
#include "shell/cancel_glyph.h"
#include "shell/edge_snap.h"
#include "shell/key_preview.h"
#include "shell/key_rule.h"
#include "shell/layout.h"
#include "shell/messages.h"
#include "shell/window_font.h"

TForm4* Form4 = nullptr;

namespace {

QWidget* MakeControl(const shell::ControlLayout& row, QWidget* parent) {
  const QString text = QString::fromUtf8(row.text);
  switch (row.kind) {
    case shell::ControlKind::kLabel:
      return new QLabel(text, parent);
    case shell::ControlKind::kPushButton:
    case shell::ControlKind::kCancelButton: {
      auto* button = new QPushButton(text, parent);
      // A focused button takes Enter as a click, as on the desktop it copies.
      button->setAutoDefault(true);
      return button;
    }
    case shell::ControlKind::kGroupBox:
      return new QGroupBox(text, parent);
    case shell::ControlKind::kEdit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setMaxLength(std::numeric_limits<int>::max());  // no limit (Qt's default is 32767)
      return edit;
    }
    case shell::ControlKind::kCheckBox:
      return new QCheckBox(text, parent);
  }
  throw std::logic_error("unknown control kind");
}

}  // namespace

TForm4::TForm4(FormCreateSteps steps, int dpi) : steps_(std::move(steps)) {
  Form4 = this;
  try {
    setObjectName("Form4");
    setWindowTitle(shell::kWindowCaption);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose, false);
    move(0, 0);
    BuildControls(dpi);
    SetTabOrder();

    shell::CompleteMainWindow(
        steps_, JvAppInstances1, [this] { JvAppInstances1Rejected(this); },
        [this] { guard::TJvAppInstances::SetApplicationWindow(this); }, [this] { FormCreate(this); });
  } catch (...) {
    Form4 = nullptr;
    throw;
  }
}

TForm4::~TForm4() {
  if (Form4 == this) Form4 = nullptr;
}

void TForm4::BuildControls(int dpi) {
  if (dpi <= 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    dpi = screen != nullptr ? qRound(screen->logicalDotsPerInch()) : shell::kDesignDpi;
  }
  // The window font follows the resolution; everything else follows the
  // new height of "0" in it.
  const QFont windowFont =
      shell::WindowFont(shell::FontPixelsAtDpi(shell::kWindowFontPixels, dpi));
  scale_ = shell::ScaleForZeroHeight(shell::ZeroTextHeight(windowFont));
  setFont(windowFont);
  setFixedSize(scale_(shell::kClientWidth), scale_(shell::kClientHeight));

  std::map<std::string, QWidget*> built;
  for (const shell::ControlLayout& row : shell::MainWindowLayout()) {
    QWidget* parent = row.parent == nullptr ? this : built.at(row.parent);
    QWidget* control = MakeControl(row, parent);
    control->setObjectName(row.name);
    const QFont font = row.windowFont ? windowFont : shell::WindowFont(scale_(row.fontPixels));
    control->setFont(font);
    QSize size(scale_(row.width), scale_(row.height));
    if (row.kind == shell::ControlKind::kLabel) {
      // Labels size themselves to their text: the stored size is that of the
      // text in the design font; a wider rendering here must not clip it.
      size = size.expandedTo(QFontMetrics(font).size(0, QString::fromUtf8(row.text)));
    }
    control->setGeometry(QRect(QPoint(scale_(row.left), scale_(row.top)), size));
    if (row.black) {
      QPalette palette = control->palette();
      palette.setColor(QPalette::WindowText, Qt::black);
      control->setPalette(palette);
    }
    built[row.name] = control;
  }

  auto find = [&built](const char* name) { return built.at(name); };
  btnRun = static_cast<QPushButton*>(find("btnRun"));
  btnExit = static_cast<QPushButton*>(find("btnExit"));
  lbl2 = static_cast<QLabel*>(find("lbl2"));
  lbl4 = static_cast<QLabel*>(find("lbl4"));
  lbl7 = static_cast<QLabel*>(find("lbl7"));
  grp1 = static_cast<QGroupBox*>(find("grp1"));
  grp2 = static_cast<QGroupBox*>(find("grp2"));
  lbl1 = static_cast<QLabel*>(find("lbl1"));
  edt1 = static_cast<QLineEdit*>(find("edt1"));
  lbl9 = static_cast<QLabel*>(find("lbl9"));
  edt3 = static_cast<QLineEdit*>(find("edt3"));
  chk1 = static_cast<QCheckBox*>(find("chk1"));
  lbl3 = static_cast<QLabel*>(find("lbl3"));
  edt2 = static_cast<QLineEdit*>(find("edt2"));
  edt4 = static_cast<QLineEdit*>(find("edt4"));
  lbl10 = static_cast<QLabel*>(find("lbl10"));
  lbl5 = static_cast<QLabel*>(find("lbl5"));

  chk1->setChecked(true);
  btnExit->setIcon(shell::CancelGlyphIcon());
  btnExit->setIconSize(QSize(scale_(shell::kGlyphSide), scale_(shell::kGlyphSide)));

  connect(btnRun, &QPushButton::clicked, this,
          [this] { shell::RunHandler([this] { btnRunClick(btnRun); }); });
  connect(btnExit, &QPushButton::clicked, this,
          [this] { shell::RunHandler([this] { btnExitClick(btnExit); }); });
  new shell::KeyPreview(this, btnExit, [this](QObject* sender, char16_t& key) {
    shell::RunHandler([&] { FormKeyPress(sender, key); });
  });
}

void TForm4::SetTabOrder() {
  QWidget* previous = nullptr;
  for (const std::string& name : shell::MainWindowTabChain()) {
    auto* control = findChild<QWidget*>(QString::fromStdString(name));
    control->setFocusPolicy(Qt::StrongFocus);
    if (previous != nullptr) QWidget::setTabOrder(previous, control);
    previous = control;
  }
  btnRun->setFocus();
}

void TForm4::FormCreate(QObject* /*Sender*/) {
  shell::RunFormCreate(steps_, [this](const std::string& s) { MyMessage(s); }, [this] { showNormal(); });
}

void TForm4::btnRunClick(QObject* /*Sender*/) {
  feed::PassInput input;
  input.edt1 = edt1->text().toStdString();
  input.edt3 = edt3->text().toStdString();
  input.edt2 = edt2->text().toStdString();
  input.edt4 = edt4->text().toStdString();
  input.chk1 = chk1->isChecked();
  // A long pass keeps the window painted, busy, deaf to input and showing
  // its progress; a close request during it closes the window at its end.
  if (shell::BusyPass::Active()) return;
  shell::BusyPass busy([this] { close(); });
  shell::TickingHost host(HostEditor, [&busy](double done) { busy.Paint(done); });
  feed::RunPass(host, input, [this, &busy](const std::string& s) { busy.Suspend([&] { MyMessage(s); }); });
}

void TForm4::FormKeyPress(QObject* /*Sender*/, char16_t& Key) { Key = shell::TypedKeyRule(Key); }

void TForm4::btnExitClick(QObject* /*Sender*/) { close(); }

void TForm4::JvAppInstances1Rejected(QObject* /*Sender*/) { MyMessage(shell::kAlreadyRunningText); }

void TForm4::MyMessage(std::string s) { shell::MyMessage(std::move(s)); }

void TForm4::ShowFromMessageLoop() {
  const bool first = !centred_;
  centred_ = true;
  if (first) CentreInWorkArea();
  show();
  // The frame's size is known once the window is shown; centre on it then.
  if (first) CentreInWorkArea();
  raise();
  activateWindow();
}

void TForm4::CentreInWorkArea() {
  const QScreen* screen = this->screen() != nullptr ? this->screen()
                                                    : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QSize outer = frameGeometry().size();
  const QPoint target(area.x() + (area.width() - outer.width()) / 2,
                      area.y() + (area.height() - outer.height()) / 2);
  if (target != frameGeometry().topLeft()) move(target);
}

void TForm4::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (snapping_ || !isVisible()) return;
  const QScreen* screen = this->screen();
  if (screen == nullptr) return;
  const QRect frame = frameGeometry();
  const QPoint target = shell::SnapToWorkArea(frame, screen->availableGeometry());
  if (target != frame.topLeft()) {
    snapping_ = true;
    move(target);
    snapping_ = false;
  }
}

void TForm4::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (event->isAccepted()) emit Closed();
}
