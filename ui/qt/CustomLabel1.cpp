#include "ui/qt/CustomLabel1.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>

TCustomLabel1::TCustomLabel1(QWidget* owner) : QLabel(owner) {
  setAutoFillBackground(true);  // opaque, in the label's colour
  setFocusPolicy(Qt::NoFocus);
  flashEnabled_ = true;
  flashRate_ = 800;
  FlashTimer = new QTimer(this);
  FlashTimer->setInterval(flashRate_);
  connect(FlashTimer, &QTimer::timeout, this, [this] { FlashTimerTick(FlashTimer); });
  timerEnabled_ = true;  // a new timer runs: the label flashes from the start
  UpdateTimer();
}

void TCustomLabel1::UpdateTimer() {
  FlashTimer->stop();
  if (timerEnabled_ && flashRate_ > 0) FlashTimer->start(flashRate_);
}

void TCustomLabel1::SetFlashEnabled(bool value) {
  flashEnabled_ = value;
  if (timerEnabled_ != value) {  // a timer already so keeps its rhythm
    timerEnabled_ = value;
    UpdateTimer();
  }
  if (!flashEnabled_ && isHidden()) setVisible(true);
}

void TCustomLabel1::SetFlashRate(int value) {
  if (value == flashRate_) return;  // an unchanged rate leaves the rhythm alone
  flashRate_ = value;
  FlashTimer->setInterval(value > 0 ? value : 0);
  UpdateTimer();
}

void TCustomLabel1::FlashTimerTick(QObject* /*sender*/) {
  setVisible(isHidden());
}

void TCustomLabel1::Click() {
  if (Beep)
    Beep();
  else
    QApplication::beep();
  emit clicked();
}

void TCustomLabel1::SetCaption(const QString& text) {
  setText(text);
  resize(text.isEmpty() ? 0 : sizeHint().width(), height());
}

void TCustomLabel1::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(event);
}

void TCustomLabel1::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && isVisible() &&
                     rect().contains(event->position().toPoint());
  pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) Click();
}
