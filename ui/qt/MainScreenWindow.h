#pragma once
// The Qt window of TForm1: the bevelled panel with the three lists, the progress bar, the
// flashing label and the Close button, laid out as specified. It shows what the run (the form
// it owns) asks of it and starts that run once, at its first activation.
#include <QWidget>

#include "platform/Platform.h"
#include "run/FormView.h"
#include "run/MainScreen.h"

class QFrame;
class QListWidget;
class QProgressBar;
class QPushButton;
class TCustomLabel1;

class MainScreenWindow : public QWidget, public FormView {
  Q_OBJECT

 public:
  explicit MainScreenWindow(zel::platform::Platform& platform, QWidget* parent = nullptr);
  ~MainScreenWindow() override;

  // The run this window shows.
  TForm1 form;

  // Components, as laid out.
  QFrame* pnl1 = nullptr;
  QProgressBar* pb1 = nullptr;
  QListWidget* lst1 = nullptr;
  QListWidget* lst2 = nullptr;
  QListWidget* lst3 = nullptr;
  TCustomLabel1* lbl1 = nullptr;
  QPushButton* btn1 = nullptr;

  QListWidget* List(FormList list) const;

  // FormView.
  void AddLine(FormList list, const std::string& text) override;
  void ClearList(FormList list) override;
  void MakeLastLineCurrent(FormList list) override;
  void RepaintList(FormList list) override;
  void SetLabelText(const std::string& text) override;
  void SetLabelFlashing(bool flashing) override;
  void SetProgress(int position, int maximum) override;
  void RefreshForm() override;
  void RepaintPanel() override;
  void CloseForm() override;

 signals:
  // The run is about to start (once, at the window's first activation).
  void RunStarting();
  // FormActivate has returned: the run finished, stopped after Step 1 or was ended by an error.
  void RunFinished();

 protected:
  bool event(QEvent* event) override;

 private:
  void StartRunOnce();
  // Draws a widget at once, while the run keeps the event loop busy; on a platform without a
  // screen (the offscreen one) nobody could see it, so nothing is drawn.
  void DrawNow(QWidget* widget);

  zel::platform::Platform& platform_;
  bool centred_ = false;
  bool drawsOnScreen_ = true;
};
