// The message dialog and the error box, answered from inside their own event loop.
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "platform/qt/QtMessageDialogs.h"

using zel::platform::DialogButtons;
using zel::platform::DialogKind;
using zel::platform::DialogResult;

Q_DECLARE_METATYPE(DialogKind)
Q_DECLARE_METATYPE(DialogButtons)
Q_DECLARE_METATYPE(DialogResult)

namespace {

struct Seen {
  QString title;
  QString text;
  QStringList buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool modal = false;
};

// Once the box is up, records what it shows and then acts on it.
void WhenShown(Seen& seen, std::function<void(QMessageBox*)> act) {
  QTimer::singleShot(0, [&seen, act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.modal = box->isModal();
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
    seen.buttons.sort();
    act(box);
  });
}

QAbstractButton* Button(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return b;
  return nullptr;
}

}  // namespace

class QtMessageDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void messageDlg_data() {
    QTest::addColumn<DialogKind>("kind");
    QTest::addColumn<DialogButtons>("buttons");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("title");
    QTest::addColumn<DialogResult>("result");
    QTest::newRow("confirm yes") << DialogKind::Confirmation << DialogButtons::YesNo << "&Yes"
                                 << "Confirm" << DialogResult::Yes;
    QTest::newRow("confirm no") << DialogKind::Confirmation << DialogButtons::YesNo << "&No"
                                << "Confirm" << DialogResult::No;
    QTest::newRow("confirm escape") << DialogKind::Confirmation << DialogButtons::YesNo << "escape"
                                    << "Confirm" << DialogResult::Closed;
    QTest::newRow("confirm closed") << DialogKind::Confirmation << DialogButtons::YesNo << "close"
                                    << "Confirm" << DialogResult::Closed;
    QTest::newRow("warning ok") << DialogKind::Warning << DialogButtons::Ok << "OK"
                                << "Warning" << DialogResult::Ok;
    QTest::newRow("information ok") << DialogKind::Information << DialogButtons::Ok << "OK"
                                    << "Information" << DialogResult::Ok;
    QTest::newRow("warning closed") << DialogKind::Warning << DialogButtons::Ok << "close"
                                    << "Warning" << DialogResult::Closed;
  }
  void messageDlg() {
    QFETCH(DialogKind, kind);
    QFETCH(DialogButtons, buttons);
    QFETCH(QString, action);
    QFETCH(QString, title);
    QFETCH(DialogResult, result);
    zel::platform::QtMessageDialogs dialogs;
    Seen seen;
    WhenShown(seen, [action](QMessageBox* box) {
      if (action == "escape")
        QTest::keyClick(box, Qt::Key_Escape);
      else if (action == "close")
        box->close();
      else if (QAbstractButton* b = Button(box, action))
        b->click();
    });
    QCOMPARE(dialogs.MessageDlg("ShutDown PC", kind, buttons), result);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, QString("ShutDown PC"));
    QVERIFY(seen.modal);
    const QStringList expectedButtons =
        buttons == DialogButtons::YesNo ? QStringList{"&No", "&Yes"} : QStringList{"OK"};
    QCOMPARE(seen.buttons, expectedButtons);
    const QMessageBox::Icon expectedIcon = kind == DialogKind::Warning ? QMessageBox::Warning
                                           : kind == DialogKind::Information
                                               ? QMessageBox::Information
                                               : QMessageBox::Question;
    QCOMPARE(seen.icon, expectedIcon);
  }

  void errorBox() {
    zel::platform::QtMessageDialogs dialogs;
    Seen seen;
    WhenShown(seen, [](QMessageBox* box) { Button(box, "OK")->click(); });
    dialogs.ErrorBox("Invalid filename.");
    QCOMPARE(seen.title, QString("ZelUtil"));
    QCOMPARE(seen.text, QString("Invalid filename."));
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.buttons, QStringList("OK"));
  }
};

QTEST_MAIN(QtMessageDialogsTest)
#include "QtMessageDialogsTest.moc"
