// On a real X server: each change shows on the screen at once although the run keeps the event
// loop busy, and the run starts without a window manager to activate the window.
#include <QDir>
#include <QListWidget>
#include <QScreen>
#include <QSignalSpy>
#include <QtTest>

#include "tests/support/FakePlatform.h"
#include "ui/qt/CustomLabel1.h"
#include "ui/qt/MainScreenWindow.h"

namespace {

// Pixels of `area` (window coordinates) that are `colour`.
int CountColour(const QImage& image, const QRect& area, QColor colour) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (QColor(image.pixel(x, y)).rgb() == colour.rgb()) ++n;
  return n;
}

// Pixels of `area` that are neither of the list's background colour nor white: drawn text.
int CountInk(const QImage& image, const QRect& area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ++n;
  return n;
}

}  // namespace

class MainScreenX11Test : public QObject {
  Q_OBJECT

 private slots:
  void linesShowWhileTheRunIsBusy() {
    QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
    zel::test::FakePlatform fake;
    QVERIFY(QDir().mkpath(fake.driveC() + "/ZelPos"));  // Step 1 fails: no control table
    MainScreenWindow form(fake.platform);
    QImage duringRun;
    int listLines = -1;
    fake.dialogs.onShow = [&](const zel::test::RecordedDialog&) {
      if (!duringRun.isNull()) return;
      listLines = form.lst1->count();
      duringRun = form.screen()->grabWindow(form.winId()).toImage();
    };
    QSignalSpy finished(&form, &MainScreenWindow::RunFinished);
    form.show();
    QVERIFY(finished.wait(60000));
    QVERIFY2(!duringRun.isNull(), "Step 1 showed no dialog");
    QCOMPARE(duringRun.size(), QSize(802, 525));
    QVERIFY(listLines > 0);
    // lst1's lines and the label's lime background are on the screen already.
    const QRect lst1 = form.lst1->geometry().adjusted(2, 2, -2, -2);
    QVERIFY2(CountInk(duringRun, lst1) > 50, "lst1 shows no text");
    const QRect label = form.lbl1->geometry();
    QVERIFY(label.width() > 100);
    QVERIFY2(CountColour(duringRun, label, QColor(0, 255, 0)) > label.width() * 4,
             "the label is not drawn");
    // Centred on the screen (no window manager: the frame is the window).
    const QPoint offset =
        form.frameGeometry().center() - form.screen()->availableGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2,
             qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
    // lst2's step heading too.
    QVERIFY2(CountInk(duringRun, form.lst2->geometry().adjusted(2, 2, -2, -2)) > 10,
             "lst2 shows no text");
  }
};

QTEST_MAIN(MainScreenX11Test)
#include "MainScreenX11Test.moc"
