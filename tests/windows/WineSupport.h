#pragma once
// Running the Windows programs under Wine from the Linux tests: each test gets a prefix of its
// own, copied from one template prefix by hard links (the template's files are never written:
// only the registry, which each copy gets for itself), and its own wineserver.
#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace zel::test {

// The Windows build's folder of programs and DLLs, given to CMake as ZEL_WINDOWS_DIR.
inline QString WindowsProgram(const QString& name) {
  return QStringLiteral(ZEL_WINDOWS_BIN) + "/" + name;
}

class WinePrefixCopy {
 public:
  WinePrefixCopy() {
    if (!dir_.isValid()) return;
    const QString path = dir_.path() + "/prefix";
    QProcess copy;
    copy.start("cp", {"-al", QStringLiteral(ZEL_WINE_TEMPLATE), path});
    if (!copy.waitForFinished(120000) || copy.exitCode() != 0) return;
    for (const char* reg : {"system.reg", "user.reg", "userdef.reg"}) {
      QFile::remove(path + "/" + QString::fromLatin1(reg));
      const QString name = "/" + QString::fromLatin1(reg);
      if (!QFile::copy(QStringLiteral(ZEL_WINE_TEMPLATE) + name, path + name)) return;
    }
    path_ = path;
    // One server for the prefix's whole life: a server that ends after its idle time while the
    // next program connects makes that program fail.
    QProcess server;
    server.setProcessEnvironment(Environment());
    server.start("wineserver", {"-p"});
    server.waitForFinished(30000);
  }
  ~WinePrefixCopy() {
    if (path_.isEmpty()) return;
    QProcess stop;
    stop.setProcessEnvironment(Environment());
    stop.start("wineserver", {"-k"});
    stop.waitForFinished(30000);
  }
  WinePrefixCopy(const WinePrefixCopy&) = delete;
  WinePrefixCopy& operator=(const WinePrefixCopy&) = delete;

  // Empty when the copy could not be made.
  const QString& Path() const { return path_; }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WINEPREFIX", path_);
    env.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
    env.insert("WINEDEBUG", "-all");
    return env;
  }

 private:
  QTemporaryDir dir_;
  QString path_;
};

struct ProgramRun {
  int exitCode = -1;
  bool finished = false;
  QString out;  // standard output, line ends as the program wrote them
  QString err;
};

// Runs `program` with `args` and no input, under Wine when it ends in .exe.
inline ProgramRun RunProgram(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env, int timeoutMs = 300000) {
  QProcess process;
  process.setProcessEnvironment(env);
  if (program.endsWith(".exe"))
    process.start("wine", QStringList{program} + args);
  else
    process.start(program, args);
  process.closeWriteChannel();
  ProgramRun run;
  run.finished = process.waitForFinished(timeoutMs);
  if (!run.finished) process.kill();
  run.exitCode = process.exitCode();
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

// Lines without their ends (CR LF or LF).
inline QStringList OutputLines(QString text) {
  text.remove('\r');
  QStringList lines = text.split('\n');
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace zel::test
