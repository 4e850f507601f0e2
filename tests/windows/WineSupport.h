#pragma once
// Running the Windows programs under Wine from the Linux tests: each test gets a prefix of its
// own, copied from one template prefix by hard links (the template's files are never written:
// only the registry, which each copy gets for itself), and its own wineserver.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace zel::test {

// The run rows run once per Windows build: "x64", the 64-bit build given to CMake as
// ZEL_WINDOWS_DIR, and "x86", the 32-bit build in ZEL_WINDOWS32_DIR (the environment's, else
// CMake's). The 32-bit rows need a Wine that runs 32-bit programs (Debian's wine32) on a kernel
// that runs 32-bit code; elsewhere they are skipped, saying why.
inline QStringList WindowsBuilds() {
  return {"x64", "x86"};
}

// The folder of the 32-bit programs and DLLs, empty when no 32-bit build was given.
inline QString Windows32Bin() {
  QString dir = qEnvironmentVariable("ZEL_WINDOWS32_DIR");
  if (dir.isEmpty()) dir = QStringLiteral(ZEL_WINDOWS32_DIR_DEFAULT);
  return dir.isEmpty() ? QString() : dir + "/bin";
}

// Why this machine cannot run the 32-bit programs under Wine, or nothing when it can.
inline QString Wine32Missing() {
  // Debian's wine command runs a 32-bit program with this loader, which wine32 installs.
  const QString loader = QStringLiteral("/usr/lib/wine/wine");
  if (!QFileInfo(loader).isExecutable())
    return "this machine runs no 32-bit Windows programs: Wine has no 32-bit part (" + loader +
           ", Debian's wine32, is not installed)";
  QProcess probe;
  probe.start(loader, {"--version"});
  if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit ||
      probe.exitCode() != 0)
    return "this machine runs no 32-bit Windows programs: " + loader +
           " does not run (the kernel runs no 32-bit code)";
  return {};
}

inline QString& CurrentWindowsBin() {
  static QString bin = QStringLiteral(ZEL_WINDOWS_BIN);
  return bin;
}

// Makes WindowsProgram() name the programs of `build`; why the row cannot run, or nothing.
inline QString UseWindowsBuild(const QString& build) {
  if (build == "x64") {
    CurrentWindowsBin() = QStringLiteral(ZEL_WINDOWS_BIN);
    return {};
  }
  const QString bin = Windows32Bin();
  if (bin.isEmpty()) return "no 32-bit Windows build given (ZEL_WINDOWS32_DIR)";
  static const QString missing = Wine32Missing();
  if (!missing.isEmpty()) return "32-bit build: " + missing;
  CurrentWindowsBin() = bin;
  return {};
}

// A program or DLL of the Windows build the row runs (the 64-bit one unless the row chose).
inline QString WindowsProgram(const QString& name) {
  return CurrentWindowsBin() + "/" + name;
}

// In a test function whose rows have a "build" column: runs the row against that build, or
// skips it with the reason.
#define ZEL_USE_WINDOWS_BUILD()                               \
  do {                                                        \
    QFETCH(QString, build);                                   \
    const QString whyNot = zel::test::UseWindowsBuild(build); \
    if (!whyNot.isEmpty()) QSKIP(qPrintable(whyNot));         \
  } while (false)

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
