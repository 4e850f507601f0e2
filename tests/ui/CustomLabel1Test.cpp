// The flashing label: its timer's state and interval, the tick, and clicks.
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "ui/qt/CustomLabel1.h"

class CustomLabel1Test : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> owner_;
  TCustomLabel1* label_ = nullptr;
  int beeps_ = 0;

 private slots:
  void init() {
    owner_ = std::make_unique<QWidget>();
    owner_->resize(200, 50);
    label_ = new TCustomLabel1(owner_.get());
    label_->SetCaption("Text");
    beeps_ = 0;
    label_->Beep = [this] { ++beeps_; };
    owner_->show();
    QVERIFY(QTest::qWaitForWindowExposed(owner_.get()));
  }
  void cleanup() { owner_.reset(); }

  void constructedFlashing() {
    QVERIFY(label_->FlashEnabled());
    QCOMPARE(label_->FlashRate(), 800);
    QVERIFY(label_->FlashTimer->isActive());
    QCOMPARE(label_->FlashTimer->interval(), 800);
    QCOMPARE(label_->parent(), owner_.get());
    QCOMPARE(label_->FlashTimer->parent(), label_);  // goes with the label
    QCOMPARE(label_->focusPolicy(), Qt::NoFocus);
    QVERIFY(label_->autoFillBackground());
  }

  // The main window's label: flashing off, then the rate 1000, in that order.
  void storedSettingsOfTheStatusLabel() {
    label_->hide();
    label_->SetFlashEnabled(false);
    label_->SetFlashRate(1000);
    QVERIFY(!label_->FlashEnabled());
    QVERIFY(!label_->FlashTimer->isActive());
    QCOMPARE(label_->FlashTimer->interval(), 1000);
    QVERIFY(label_->isVisible());
  }

  void tickTogglesVisibility() {
    label_->FlashTimerTick(label_->FlashTimer);
    QVERIFY(label_->isHidden());
    label_->FlashTimerTick(label_->FlashTimer);
    QVERIFY(label_->isVisible());
  }

  void timerDrivesTheTicks() {
    label_->SetFlashRate(20);
    QTRY_VERIFY_WITH_TIMEOUT(label_->isHidden(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(label_->isVisible(), 2000);
  }

  void switchingOffShowsAHiddenLabel() {
    label_->FlashTimerTick(label_->FlashTimer);
    QVERIFY(label_->isHidden());
    label_->SetFlashEnabled(false);
    QVERIFY(label_->isVisible());
    QVERIFY(!label_->FlashTimer->isActive());
    label_->SetFlashEnabled(false);  // off again: still shown, still stopped
    QVERIFY(label_->isVisible());
    QVERIFY(!label_->FlashTimer->isActive());
  }

  void switchingOnKeepsVisibilityAndRhythm() {
    label_->SetFlashEnabled(false);
    label_->hide();  // the program may hide it through its visibility
    label_->SetFlashEnabled(true);
    QVERIFY(label_->FlashTimer->isActive());
    QVERIFY(label_->isHidden());  // the first tick, not the switch, changes it
    QTest::qWait(150);
    label_->SetFlashEnabled(true);  // already on: the period is not restarted
    QVERIFY(label_->FlashTimer->remainingTime() <= 800 - 100);
  }

  void rateChanges_data() {
    QTest::addColumn<bool>("flashing");
    QTest::addColumn<int>("rate");
    QTest::addColumn<bool>("restarted");
    QTest::addColumn<bool>("active");
    QTest::newRow("changed, running") << true << 1000 << true << true;
    QTest::newRow("unchanged, running") << true << 800 << false << true;
    QTest::newRow("changed, stopped") << false << 1000 << false << false;
    QTest::newRow("zero, running") << true << 0 << true << false;
    QTest::newRow("negative, running") << true << -5 << true << false;
  }
  void rateChanges() {
    QFETCH(bool, flashing);
    QFETCH(int, rate);
    QFETCH(bool, restarted);
    QFETCH(bool, active);
    label_->SetFlashEnabled(flashing);
    if (flashing) QTest::qWait(150);  // so a restart shows in the time left
    label_->SetFlashRate(rate);
    QCOMPARE(label_->FlashRate(), rate);
    QCOMPARE(label_->FlashEnabled(), flashing);
    QCOMPARE(label_->FlashTimer->isActive(), active);
    if (active) QCOMPARE(label_->FlashTimer->remainingTime() > rate - 100, restarted);
    if (rate > 0) QCOMPARE(label_->FlashTimer->interval(), rate);
  }

  void zeroRateFreezesTheCurrentVisibility() {
    label_->FlashTimerTick(label_->FlashTimer);  // hidden
    label_->SetFlashRate(0);
    QVERIFY(label_->FlashEnabled());
    QVERIFY(label_->FlashTimerEnabled());
    QVERIFY(!label_->FlashTimer->isActive());
    QVERIFY(label_->isHidden());
    label_->SetFlashRate(500);  // a rate again: ticks resume
    QVERIFY(label_->FlashTimer->isActive());
    QCOMPARE(label_->FlashTimer->interval(), 500);
  }

  void clickBeepsThenClicks() {
    QSignalSpy clicked(label_, &TCustomLabel1::clicked);
    QTest::mouseClick(label_, Qt::LeftButton);
    QCOMPARE(beeps_, 1);
    QCOMPARE(clicked.count(), 1);
    label_->Click();
    QCOMPARE(beeps_, 2);
    QCOMPARE(clicked.count(), 2);
  }

  void hiddenLabelTakesNoClicks() {
    QSignalSpy clicked(label_, &TCustomLabel1::clicked);
    label_->FlashTimerTick(label_->FlashTimer);
    QVERIFY(label_->isHidden());
    QTest::mouseClick(label_, Qt::LeftButton);
    QCOMPARE(beeps_, 0);
    QCOMPARE(clicked.count(), 0);
  }

  void sizedToItsText() {
    label_->resize(label_->width(), 24);
    label_->SetCaption("File check complete....Please ShutDown this PC !!!!");
    QCOMPARE(label_->width(), label_->sizeHint().width());
    QCOMPARE(label_->height(), 24);
    const int wide = label_->width();
    label_->SetCaption("Short");
    QVERIFY(label_->width() < wide);
  }
};

QTEST_MAIN(CustomLabel1Test)
#include "CustomLabel1Test.moc"
