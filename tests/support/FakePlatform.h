#pragma once
// Fakes for the platform interfaces, for driving TForm1 in tests: nothing waits, beeps, shows a
// real dialog, closes a real window or powers anything off. Files and INI reading are the real
// host implementations on a temporary Wine prefix, wrapped so a test can make an operation fail.
#include <QTemporaryDir>
#include <QtGlobal>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace zel::test {

struct RecordedDialog {
  std::string text;
  platform::DialogKind kind;
  platform::DialogButtons buttons;
};

class FakeDialogs : public platform::MessageDialogs {
 public:
  // Answers given in turn; when none is queued: Yes for Yes/No, Ok for OK.
  std::deque<platform::DialogResult> answers;
  std::vector<RecordedDialog> shown;
  std::vector<std::string> errorBoxes;
  std::function<void(const RecordedDialog&)> onShow;   // e.g. to look at the window meanwhile
  std::function<void(const std::string&)> onErrorBox;  // the same for the error box

  platform::DialogResult MessageDlg(const std::string& text, platform::DialogKind kind,
                                    platform::DialogButtons buttons) override {
    shown.push_back({text, kind, buttons});
    if (onShow) onShow(shown.back());
    if (!answers.empty()) {
      auto answer = answers.front();
      answers.pop_front();
      return answer;
    }
    return buttons == platform::DialogButtons::YesNo ? platform::DialogResult::Yes
                                                     : platform::DialogResult::Ok;
  }
  void ErrorBox(const std::string& text) override {
    errorBoxes.push_back(text);
    if (onErrorBox) onErrorBox(text);
  }
};

class FakePosWindow : public platform::PosWindow {
 public:
  // What each look finds, in turn; once exhausted, no window.
  std::deque<std::optional<platform::WindowHandle>> looks;
  std::vector<std::string> searchedTitles;
  std::vector<platform::WindowHandle> closeRequests;

  std::optional<platform::WindowHandle> FindTopLevelWindow(const std::string& title) override {
    searchedTitles.push_back(title);
    if (looks.empty()) return std::nullopt;
    auto found = looks.front();
    looks.pop_front();
    return found;
  }
  void PostCloseRequest(platform::WindowHandle window) override { closeRequests.push_back(window); }
};

class FakePowerOff : public platform::PowerOff {
 public:
  bool accept = true;
  int rightRequests = 0;
  std::vector<unsigned> requests;

  void AcquireShutdownRight() override { ++rightRequests; }
  bool RequestShutdown(unsigned flags) override {
    requests.push_back(flags);
    return accept;
  }
};

class FakeSystem : public platform::SystemServices {
 public:
  std::vector<int> sleeps;
  int beeps = 0;
  std::chrono::system_clock::time_point now{};

  // Runs during each pause: what another program does meanwhile.
  std::function<void()> duringSleep;

  void Sleep(int milliseconds) override {
    sleeps.push_back(milliseconds);
    if (duringSleep) duringSleep();
  }
  void Beep() override { ++beeps; }
  std::chrono::system_clock::time_point Now() override { return now; }
};

// The run lock, granted unless a test says another run holds it.
class FakeRunLock : public platform::RunLock {
 public:
  bool heldByOtherRun = false;
  int takes = 0;
  Outcome Take() override {
    ++takes;
    return heldByOtherRun ? Outcome::HeldByOtherRun : Outcome::Taken;
  }
};

// Real host files, with a hook that can refuse any operation before it runs.
class HookedFiles : public platform::WindowsFiles {
 public:
  enum class Op { Exists, Delete, Copy, Append, CreateDirectories, Link, Move, FlushFolder };
  // Return true to make the operation fail (Delete/Copy false, Append error 5).
  std::function<bool(Op, const std::string& path)> failWhen;
  std::vector<std::string> deleted;  // paths whose deletion was asked, in order

  bool FileExists(const std::string& path) override {
    return platform::HostFiles().FileExists(path);
  }
  bool DeleteFile(const std::string& path) override {
    deleted.push_back(path);
    if (failWhen && failWhen(Op::Delete, path)) return false;
    return platform::HostFiles().DeleteFile(path);
  }
  bool DeleteSessionLockFile(const std::string& path) override {
    deleted.push_back(path);
    if (failWhen && failWhen(Op::Delete, path)) return false;
    return platform::HostFiles().DeleteSessionLockFile(path);
  }
  void BeginDeletionBatch() override { platform::HostFiles().BeginDeletionBatch(); }
  void EndDeletionBatch() override { platform::HostFiles().EndDeletionBatch(); }
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    if (failWhen && failWhen(Op::Copy, from)) return false;
    return platform::HostFiles().CopyFile(from, to, failIfExists);
  }
  int AppendToFile(const std::string& path, const std::string& bytes) override {
    if (failWhen && failWhen(Op::Append, path)) return 5;
    return platform::HostFiles().AppendToFile(path, bytes);
  }
  bool CreateDirectories(const std::string& path) override {
    if (failWhen && failWhen(Op::CreateDirectories, path)) return false;
    return platform::HostFiles().CreateDirectories(path);
  }
  bool LinkFile(const std::string& from, const std::string& to) override {
    if (failWhen && failWhen(Op::Link, from)) return false;
    return platform::HostFiles().LinkFile(from, to);
  }
  bool MoveFile(const std::string& from, const std::string& to) override {
    if (failWhen && failWhen(Op::Move, to)) return false;
    return platform::HostFiles().MoveFile(from, to);
  }
  bool FlushFolder(const std::string& folder) override {
    if (failWhen && failWhen(Op::FlushFolder, folder)) return false;
    return platform::HostFiles().FlushFolder(folder);
  }
};

// A fake platform on a temporary Wine prefix ($WINEPREFIX points at it while this lives).
struct FakePlatform {
  QTemporaryDir prefix;
  QByteArray savedPrefix = qgetenv("WINEPREFIX");
  HookedFiles files;
  FakeDialogs dialogs;
  FakePosWindow posWindow;
  FakePowerOff powerOff;
  FakeSystem system;
  FakeRunLock runLock;
  platform::Platform platform{files,  platform::HostIni(), dialogs, posWindow, powerOff, system,
                              runLock};

  FakePlatform() { qputenv("WINEPREFIX", prefix.path().toLocal8Bit()); }
  ~FakePlatform() {
    if (savedPrefix.isEmpty())
      qunsetenv("WINEPREFIX");
    else
      qputenv("WINEPREFIX", savedPrefix);
  }
  // Host path of drive C: in this prefix.
  QString driveC() const { return prefix.path() + "/drive_c"; }
};

}  // namespace zel::test
