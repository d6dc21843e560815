// The main window TForm4 and its one global reference Form4 (HostEditor
// and FormCreateSteps: shell/program_order.h).
#ifndef SHELL_BREVANDUNIT_H_
#define SHELL_BREVANDUNIT_H_

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "shell/guard/jv_app_instances.h"
#include "shell/program_order.h"
#include "shell/scaling.h"

class TForm4;

// The one main window. Set at the start of TForm4's construction, so that
// code run while the window is built reaches it; cleared when it is destroyed.
extern TForm4* Form4;

class TForm4 : public QWidget {
  Q_OBJECT

 public:
  // Builds the window and its controls from the stored layout, scaled for
  // `dpi` (0: the primary screen's), then runs FormCreate. Throws when the
  // window cannot be built; errors inside FormCreate go to the error report.
  explicit TForm4(FormCreateSteps steps = {}, int dpi = 0);
  ~TForm4() override;

  // Controls, in declaration order.
  QPushButton* btnRun = nullptr;
  QPushButton* btnExit = nullptr;
  QLabel* lbl2 = nullptr;
  QLabel* lbl4 = nullptr;
  QLabel* lbl7 = nullptr;
  std::unique_ptr<guard::TJvAppInstances> JvAppInstances1;  // null without a guard
  QGroupBox* grp1 = nullptr;
  QGroupBox* grp2 = nullptr;
  QLabel* lbl1 = nullptr;
  QLineEdit* edt1 = nullptr;
  QLabel* lbl9 = nullptr;
  QLineEdit* edt3 = nullptr;
  QCheckBox* chk1 = nullptr;
  QLabel* lbl3 = nullptr;
  QLineEdit* edt2 = nullptr;
  QLineEdit* edt4 = nullptr;
  QLabel* lbl10 = nullptr;
  QLabel* lbl5 = nullptr;

  // Handlers, in declaration order.
  void FormCreate(QObject* Sender);
  void btnRunClick(QObject* Sender);
  void FormKeyPress(QObject* Sender, char16_t& Key);
  void btnExitClick(QObject* Sender);
  void JvAppInstances1Rejected(QObject* Sender);
  void MyMessage(std::string s);

  // The message loop's show: centred in the work area the first time,
  // then shown, raised and activated.
  void ShowFromMessageLoop();

  // The scale the layout was built with.
  shell::LayoutScale Scale() const { return scale_; }

 signals:
  // The window has been closed, which ends the program.
  void Closed();

 protected:
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls(int dpi);
  void SetTabOrder();
  void CentreInWorkArea();

  FormCreateSteps steps_;
  shell::LayoutScale scale_;
  bool centred_ = false;
  bool snapping_ = false;
};

#endif  // SHELL_BREVANDUNIT_H_
