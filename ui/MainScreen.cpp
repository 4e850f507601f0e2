// TForm1's window: the layout, what the run does with the window, and the run sequence.
#include "ui/MainScreen.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "engine/Session.h"
#include "log/EInOutError.h"
#include "platform/linux/X11WindowHints.h"
#include "ui/CustomLabel1.h"
#include "ui/Fonts.h"

namespace {

const QColor kFormGrey(128, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kLime(0, 255, 0);

// A panel with a raised outer bevel, a lowered inner one (each 3 pixels wide), 2 pixels of
// border between them and a single line around it all.
class BevelPanel : public QFrame {
 public:
  explicit BevelPanel(QWidget* parent) : QFrame(parent) {
    setAutoFillBackground(true);
    setFrameShape(QFrame::NoFrame);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Dark);
    QRect r = rect();
    p.setPen(Qt::black);  // the single border line
    p.drawRect(r.adjusted(0, 0, -1, -1));
    r.adjust(1, 1, -1, -1);
    const auto bevel = [&p](QRect& area, const QColor& topLeft, const QColor& bottomRight) {
      for (int i = 0; i < 3; ++i) {
        p.setPen(topLeft);
        p.drawLine(area.topLeft(), area.topRight());
        p.drawLine(area.topLeft(), area.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(area.bottomLeft(), area.bottomRight());
        p.drawLine(area.topRight(), area.bottomRight());
        area.adjust(1, 1, -1, -1);
      }
    };
    bevel(r, light, dark);   // raised
    r.adjust(2, 2, -2, -2);  // border width
    bevel(r, dark, light);   // lowered
  }
};

// Every line of a list is `height` pixels high, whatever the font's own height.
class FixedLineHeight : public QStyledItemDelegate {
 public:
  FixedLineHeight(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), height_};
  }

 private:
  int height_;
};

QListWidget* MakeList(QWidget* parent, const QRect& geometry, int fontPixels, int lineHeight,
                      QAbstractItemView::SelectionMode selection) {
  auto* list = new QListWidget(parent);
  list->setGeometry(geometry);
  list->setFont(zel::ui::SansSerifFont(fontPixels));
  list->setItemDelegate(new FixedLineHeight(lineHeight, list));
  list->setUniformItemSizes(true);
  list->setSelectionMode(selection);
  list->setAutoFillBackground(true);
  return list;
}

}  // namespace

TForm1::TForm1(zel::platform::Platform& platform, QWidget* parent)
    : QWidget(parent),
      platform_(platform),
      drawsOnScreen_(QGuiApplication::platformName() != QLatin1String("offscreen")) {
  setWindowTitle(QStringLiteral("ZelUtil 2009-05-25"));
  // Nobody sees a window on a platform without a screen: it is not painted at all, which keeps
  // the console's run as fast as its table checks (a progress step would repaint every list).
  if (!drawsOnScreen_) setUpdatesEnabled(false);
  // A fixed single border with a bare title bar: no minimise, maximise, close box or system menu.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFixedSize(802, 525);
  // Qt cannot say this to an X11 window manager in full (no flags give "move only").
  zel::platform::KeepX11WindowHints(this, zel::platform::MainWindowHints());
  setFont(zel::ui::SansSerifFont(11));
  QPalette formPalette = palette();
  formPalette.setColor(QPalette::Window, kFormGrey);
  setPalette(formPalette);
  setAutoFillBackground(true);

  pnl1 = new BevelPanel(this);
  pnl1->setObjectName(QStringLiteral("pnl1"));
  pnl1->setGeometry(0, 0, 802, 525);
  QPalette panelPalette = pnl1->palette();
  panelPalette.setColor(QPalette::Window, kMaroon);
  panelPalette.setColor(QPalette::Light, kMaroon.lighter(170));
  panelPalette.setColor(QPalette::Dark, kMaroon.darker(200));
  pnl1->setPalette(panelPalette);

  // Created in tab order: btn1, lst1, lst2, lst3, pb1 (the bar is no tab stop).
  btn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                         QStringLiteral("&Close"), pnl1);
  btn1->setObjectName(QStringLiteral("btn1"));
  btn1->setGeometry(694, 477, 96, 36);
  connect(btn1, &QPushButton::clicked, this, &QWidget::close);

  lst1 = MakeList(pnl1, {9, 39, 362, 436}, 11, 13, QAbstractItemView::ExtendedSelection);
  lst1->setObjectName(QStringLiteral("lst1"));
  lst2 = MakeList(pnl1, {373, 39, 412, 276}, 13, 16, QAbstractItemView::SingleSelection);
  lst2->setObjectName(QStringLiteral("lst2"));
  lst3 = MakeList(pnl1, {373, 318, 412, 157}, 13, 16, QAbstractItemView::SingleSelection);
  lst3->setObjectName(QStringLiteral("lst3"));
  lst3->addItem(QString());

  pb1 = new QProgressBar(pnl1);
  pb1->setObjectName(QStringLiteral("pb1"));
  pb1->setGeometry(8, 8, 777, 29);
  pb1->setRange(0, 100);
  pb1->setValue(0);
  pb1->setTextVisible(false);  // a smooth bar without a percentage
  pb1->setFocusPolicy(Qt::NoFocus);

  lbl1 = new TCustomLabel1(pnl1);
  lbl1->setObjectName(QStringLiteral("lbl1"));
  lbl1->setGeometry(11, 480, 0, 24);
  lbl1->setFont(zel::ui::SansSerifFont(19, true));
  QPalette labelPalette = lbl1->palette();
  labelPalette.setColor(QPalette::Window, kLime);
  labelPalette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
  lbl1->setPalette(labelPalette);
  lbl1->Beep = [this] { platform_.system.Beep(); };
  lbl1->SetFlashEnabled(false);
  lbl1->SetFlashRate(1000);

  btn1->setFocus();

  tbl1.AfterClose = [this](zel::engine::Table& table) { tbl1AfterClose(table); };
}

TForm1::~TForm1() {
  tbl1.AfterClose = nullptr;
}

// --- What the run does with the window. Each change is drawn at once: the run keeps the event
// loop busy, so nothing would be drawn until the next dialog otherwise.

namespace {

RunObserver::List ListId(const TForm1& form, const QListWidget* list) {
  if (list == form.lst2) return RunObserver::List::Lst2;
  if (list == form.lst3) return RunObserver::List::Lst3;
  return RunObserver::List::Lst1;
}

}  // namespace

void TForm1::AddLine(QListWidget* list, const std::string& text) {
  list->addItem(QString::fromStdString(text));
  if (observer_) observer_->LineAdded(ListId(*this, list), text);
  RepaintList(list);
}

void TForm1::ClearList(QListWidget* list) {
  list->clear();
  if (observer_) observer_->ListCleared(ListId(*this, list));
  RepaintList(list);
}

void TForm1::MakeLastLineCurrent(QListWidget* list) {
  const int last = list->count() - 1;
  if (last < 0) return;
  // In a multi-selection list the current line is only the focus line; in a single-selection
  // list it is also the selected one.
  if (list->selectionMode() == QAbstractItemView::SingleSelection)
    list->setCurrentRow(last);
  else
    list->setCurrentRow(last, QItemSelectionModel::NoUpdate);
  list->scrollToItem(list->item(last));
  RepaintList(list);
}

void TForm1::DrawNow(QWidget* widget) {
  if (drawsOnScreen_) widget->repaint();
}

void TForm1::RepaintList(QListWidget* list) {
  if (!drawsOnScreen_) return;
  // A list lays out rows added since its last paint only once the event loop runs again, which
  // the run does not let happen: lay them out now, then paint lines and scroll bar together.
  list->doItemsLayout();
  list->repaint();
}

void TForm1::SetLabelText(const std::string& text) {
  const QString caption = QString::fromStdString(text);
  if (caption == lbl1->text()) return;
  lbl1->SetCaption(caption);
  if (observer_) observer_->LabelTextChanged(text);
  DrawNow(lbl1);
}

void TForm1::NotifyProgress() {
  if (pb1->value() == reportedPosition_ && pb1->maximum() == reportedMaximum_) return;
  reportedPosition_ = pb1->value();
  reportedMaximum_ = pb1->maximum();
  if (observer_) observer_->ProgressChanged(reportedPosition_, reportedMaximum_);
  DrawNow(pb1);
}

void TForm1::SetProgressPosition(int position) {
  // The bar keeps its position inside its range, as a Windows progress bar does.
  pb1->setValue(std::clamp(position, pb1->minimum(), pb1->maximum()));
  NotifyProgress();
}

void TForm1::SetProgressMaximum(int maximum) {
  const int newMaximum = std::max(maximum, pb1->minimum());
  const int position = std::min(pb1->value(), newMaximum);
  pb1->setRange(pb1->minimum(), newMaximum);  // may reset the value: it is set again below
  pb1->setValue(position);
  NotifyProgress();
}

void TForm1::StepProgress() {
  SetProgressPosition(pb1->value() + 1);
}

void TForm1::RefreshForm() {
  DrawNow(this);
}

void TForm1::RepaintPanel() {
  DrawNow(pnl1);
}

// --- The run.

bool TForm1::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
      if (!centred_) {
        centred_ = true;
        if (const QScreen* screen = this->screen()) {
          QRect frame = frameGeometry();
          frame.moveCenter(screen->availableGeometry().center());
          move(frame.topLeft());
        }
      }
      // Without a window manager (a bare X server, the offscreen platform) no activation may
      // ever come: then the run starts once the window has had time to be drawn.
      if (!activated_) QTimer::singleShot(300, this, [this] { StartRunOnce(); });
      break;
    case QEvent::WindowActivate:
      // Queued, so the window is drawn before the run keeps the event loop busy.
      if (!activated_) QTimer::singleShot(0, this, [this] { StartRunOnce(); });
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void TForm1::StartRunOnce() {
  // Activation comes again after each dialog of the run closes; the run belongs to the first.
  if (activated_ || !isVisible()) return;
  activated_ = true;
  emit RunStarting();
  FormActivate(this);
}

void TForm1::FormActivate(QObject* /*sender*/) {
  try {
    RunChecks();
  } catch (const std::exception& error) {
    // What no step catches ends the run: the operator sees the message, the window stays idle.
    Summary.errorEnded = true;
    WriteRunReport();
    std::string text = error.what();
    if (const auto* io = dynamic_cast<const EInOutError*>(&error); io && !io->File.empty())
      std::fprintf(stderr, "zelutil: %s: %s\n", io->File.c_str(), text.c_str());
    if (text.empty() || text.back() != '.') text += '.';
    platform_.dialogs.ErrorBox(text);
  } catch (...) {
    Summary.errorEnded = true;
    WriteRunReport();
    platform_.dialogs.ErrorBox("Unknown error.");
  }
  emit RunFinished();
}

void TForm1::RunChecks() {
  if (Report.checkOnly) {
    RunCheckOnly();
    return;
  }
  // One run at a time, decided before anything is written: a second start while a run is in
  // progress ends here and touches nothing. Without ZelUtil's folder there is nothing to guard
  // and the log line below reports the missing folder as it always has.
  if (platform_.runLock.Take() == zel::platform::RunLock::Outcome::HeldByOtherRun)
    throw std::runtime_error("ZelUtil is already running");
  reporting_ = true;  // from here on every run ends with a report
  Report.started = platform_.system.Now();
  WriteLog("ZEL Util Start.");
  zel::engine::Session::Default().Close();
  RepaintPanel();
  SetLabelText("Please wait while Deleting *.Net and *.LCK files....");  // drawn at once
  ResetControlFiles();
  RepaintPanel();
  if (!StepOk) return;
  CheckAllTables();
  WriteRunReport();  // on disk before the question that may power the PC off
  lbl1->SetFlashEnabled(true);
  SetLabelText("File check complete....Please ShutDown this PC !!!!");
  RepaintPanel();
  using zel::platform::DialogButtons;
  using zel::platform::DialogKind;
  using zel::platform::DialogResult;
  if (platform_.dialogs.MessageDlg("ShutDown PC", DialogKind::Confirmation, DialogButtons::YesNo) ==
      DialogResult::Yes) {
    ShutDownPc(12);  // power off, forced; the window stays until the system ends the program
  } else {
    close();
  }
}
