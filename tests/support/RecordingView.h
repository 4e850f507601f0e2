#pragma once
// A window without a toolkit for driving TForm1 in tests: it keeps what the run shows, list by
// list, so a test reads the lines, the current line, the label and the bar afterwards.
#include <QString>
#include <QStringList>
#include <string>

#include "run/FormView.h"

namespace zel::test {

struct RecordedList {
  QStringList lines;
  int current = -1;  // the current line, -1 for none
  int repaints = 0;

  int count() const { return static_cast<int>(lines.size()); }
  int currentRow() const { return current; }
  void addItem(const QString& text) { lines << text; }
};

class RecordingView : public FormView {
 public:
  RecordedList lst1;
  RecordedList lst2;
  RecordedList lst3{{QString()}};  // holds one empty line from the start, as laid out
  std::string label;
  bool flashing = false;
  int position = 0;
  int maximum = 100;
  int closeRequests = 0;

  RecordedList& List(FormList list) {
    return list == FormList::Lst2 ? lst2 : list == FormList::Lst3 ? lst3 : lst1;
  }
  void AddLine(FormList list, const std::string& text) override {
    List(list).addItem(QString::fromStdString(text));
  }
  void ClearList(FormList list) override {
    List(list).lines.clear();
    List(list).current = -1;
  }
  void MakeLastLineCurrent(FormList list) override {
    if (List(list).count() > 0) List(list).current = List(list).count() - 1;
  }
  void RepaintList(FormList list) override { ++List(list).repaints; }
  void SetLabelText(const std::string& text) override { label = text; }
  void SetLabelFlashing(bool on) override { flashing = on; }
  void SetProgress(int newPosition, int newMaximum) override {
    position = newPosition;
    maximum = newMaximum;
  }
  void RefreshForm() override {}
  void RepaintPanel() override {}
  void CloseForm() override { ++closeRequests; }
};

inline QStringList Lines(const RecordedList& list) {
  return list.lines;
}

}  // namespace zel::test
