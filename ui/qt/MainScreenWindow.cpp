// TForm1's Qt window: the layout, and how it shows what the run does.
#include "ui/qt/MainScreenWindow.h"

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

#include "platform/linux/X11WindowHints.h"
#include "ui/qt/CustomLabel1.h"
#include "ui/qt/Fonts.h"

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

MainScreenWindow::MainScreenWindow(zel::platform::Platform& platform, QWidget* parent)
    : QWidget(parent),
      form(platform, *this),
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
}

MainScreenWindow::~MainScreenWindow() = default;

// --- What the run does with the window. Each change is drawn at once: the run keeps the event
// loop busy, so nothing would be drawn until the next dialog otherwise.

QListWidget* MainScreenWindow::List(FormList list) const {
  switch (list) {
    case FormList::Lst2:
      return lst2;
    case FormList::Lst3:
      return lst3;
    case FormList::Lst1:
      break;
  }
  return lst1;
}

void MainScreenWindow::AddLine(FormList list, const std::string& text) {
  List(list)->addItem(QString::fromStdString(text));
  RepaintList(list);
}

void MainScreenWindow::ClearList(FormList list) {
  List(list)->clear();
  RepaintList(list);
}

void MainScreenWindow::MakeLastLineCurrent(FormList id) {
  QListWidget* list = List(id);
  const int last = list->count() - 1;
  if (last < 0) return;
  // In a multi-selection list the current line is only the focus line; in a single-selection
  // list it is also the selected one.
  if (list->selectionMode() == QAbstractItemView::SingleSelection)
    list->setCurrentRow(last);
  else
    list->setCurrentRow(last, QItemSelectionModel::NoUpdate);
  list->scrollToItem(list->item(last));
  RepaintList(id);
}

void MainScreenWindow::DrawNow(QWidget* widget) {
  if (drawsOnScreen_) widget->repaint();
}

void MainScreenWindow::RepaintList(FormList id) {
  if (!drawsOnScreen_) return;
  // A list lays out rows added since its last paint only once the event loop runs again, which
  // the run does not let happen: lay them out now, then paint lines and scroll bar together.
  QListWidget* list = List(id);
  list->doItemsLayout();
  list->repaint();
}

void MainScreenWindow::SetLabelText(const std::string& text) {
  lbl1->SetCaption(QString::fromStdString(text));
  DrawNow(lbl1);
}

void MainScreenWindow::SetLabelFlashing(bool flashing) {
  lbl1->SetFlashEnabled(flashing);
}

void MainScreenWindow::SetProgress(int position, int maximum) {
  pb1->setRange(0, maximum);
  pb1->setValue(position);
  DrawNow(pb1);
}

void MainScreenWindow::RefreshForm() {
  DrawNow(this);
}

void MainScreenWindow::RepaintPanel() {
  DrawNow(pnl1);
}

void MainScreenWindow::CloseForm() {
  close();
}

// --- The run.

bool MainScreenWindow::event(QEvent* event) {
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
      if (!form.RunStarted()) QTimer::singleShot(300, this, [this] { StartRunOnce(); });
      break;
    case QEvent::WindowActivate:
      // Queued, so the window is drawn before the run keeps the event loop busy.
      if (!form.RunStarted()) QTimer::singleShot(0, this, [this] { StartRunOnce(); });
      break;
    default:
      break;
  }
  return QWidget::event(event);
}

void MainScreenWindow::StartRunOnce() {
  // Activation comes again after each dialog of the run closes; the run belongs to the first.
  if (form.RunStarted() || !isVisible()) return;
  emit RunStarting();
  form.FormActivate();
  emit RunFinished();
}
