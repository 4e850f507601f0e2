#include "platform/qt/QtMessageDialogs.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include "platform/linux/X11WindowHints.h"

namespace zel::platform {
namespace {

// A message box that tells whether it was dismissed other than by one of its buttons (Escape,
// the title bar, the window manager), which never counts as a Yes.
class Box : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;
  bool dismissed = false;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) dismissed = true;
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    dismissed = true;
    QMessageBox::closeEvent(event);
    event->accept();
  }
};

}  // namespace

const char* QtMessageDialogs::Title(DialogKind kind) {
  return DialogTitle(kind);
}

DialogResult QtMessageDialogs::MessageDlg(const std::string& text, DialogKind kind,
                                          DialogButtons buttons) {
  Box box(window_);
  box.setWindowTitle(QString::fromLatin1(Title(kind)));
  box.setText(QString::fromStdString(text));
  box.setIcon(kind == DialogKind::Warning       ? QMessageBox::Warning
              : kind == DialogKind::Information ? QMessageBox::Information
                                                : QMessageBox::Question);
  QPushButton* ok = nullptr;
  QPushButton* yes = nullptr;
  QPushButton* no = nullptr;
  if (buttons == DialogButtons::YesNo) {
    yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
  } else {
    ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
  }
  box.setWindowModality(Qt::ApplicationModal);
  KeepX11WindowHints(&box, MessageFormHints(true));  // a close box, as on Windows
  box.exec();
  const QAbstractButton* clicked = box.clickedButton();
  if (box.dismissed || clicked == nullptr) return DialogResult::Closed;
  if (clicked == yes) return DialogResult::Yes;
  if (clicked == no) return DialogResult::No;
  if (clicked == ok) return DialogResult::Ok;
  return DialogResult::Closed;
}

void QtMessageDialogs::ErrorBox(const std::string& text) {
  QMessageBox box(window_);
  box.setWindowTitle(QString::fromLatin1(kProgramName));
  box.setIcon(QMessageBox::Critical);
  box.setText(QString::fromStdString(text));
  box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setWindowModality(Qt::ApplicationModal);
  KeepX11WindowHints(&box, MessageFormHints(true));  // a close box, as on Windows
  box.exec();
}

}  // namespace zel::platform
