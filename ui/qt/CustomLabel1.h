#pragma once
// TCustomLabel1: a plain text label that can flash, hiding and showing itself in turn at a fixed
// rate. A label without focus, sized to its text, on an opaque background of its colour.
#include <QLabel>
#include <functional>

class QTimer;

class TCustomLabel1 : public QLabel {
  Q_OBJECT

 public:
  // Flashing is on at 800 ms from the start; the timer is owned by the label.
  explicit TCustomLabel1(QWidget* owner);

  bool FlashEnabled() const noexcept { return flashEnabled_; }
  int FlashRate() const noexcept { return flashRate_; }
  // On starts the timer unless it runs; off stops it and shows the label.
  void SetFlashEnabled(bool value);
  // A changed rate restarts a running timer; 0 (or less) lets no tick come while flashing stays
  // switched on.
  void SetFlashRate(int value);

  // Whether the flash timer is switched on (it may still tick never, at a rate of 0).
  bool FlashTimerEnabled() const noexcept { return timerEnabled_; }
  QTimer* FlashTimer = nullptr;

  // The timer's tick: shows a hidden label, hides a shown one.
  virtual void FlashTimerTick(QObject* sender);
  // Beeps, then performs the ordinary click (clicked()).
  virtual void Click();

  // The beep; QApplication::beep unless set (the program routes it through its system services).
  std::function<void()> Beep;

  // Sets the caption and sizes the label's width to it; the height stays as laid out.
  void SetCaption(const QString& text);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void UpdateTimer();

  bool flashEnabled_ = true;
  int flashRate_ = 800;
  bool timerEnabled_ = false;
  bool pressed_ = false;
};
