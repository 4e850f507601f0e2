// The metrics of a check and a run of a damaged demo station, scraped from Debian's node_exporter
// over HTTP on a loopback port, as a fleet's Prometheus would: the values, and no scrape error.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/support/DemoStations.h"

namespace {

const QString kNodeExporter =
    QStringLiteral(ZEL_NODE_EXPORTER_DIR) + "/usr/bin/prometheus-node-exporter";

int RunConsole(const QString& prefix, const QStringList& args) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("WINEPREFIX", prefix);
  env.remove("DISPLAY");
  env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zelutil-test-bus");
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.setStandardOutputFile(QProcess::nullDevice());
  process.start(ZEL_CONSOLE, args);
  if (!process.waitForFinished(120000)) process.kill();
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A loopback port nobody listens on now.
quint16 FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  quint16 port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

// GET `path` over HTTP/1.0 from 127.0.0.1:`port`: the body, or nullopt when nothing answers.
std::optional<QByteArray> HttpGet(quint16 port, const QByteArray& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  const QByteArray request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (::write(fd, request.constData(), size_t(request.size())) != request.size()) {
    ::close(fd);
    return std::nullopt;
  }
  QByteArray response;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) response.append(buffer, got);
  ::close(fd);
  const qsizetype body = response.indexOf("\r\n\r\n");
  if (!response.startsWith("HTTP/1.") || !response.contains(" 200 ") || body < 0)
    return std::nullopt;
  return response.mid(body + 4);
}

// node_exporter's value of the sample with exactly this name and these labels.
std::optional<double> Sample(const QByteArray& metrics, const QString& series) {
  const QRegularExpression line("^" + QRegularExpression::escape(series) + " (\\S+)$",
                                QRegularExpression::MultilineOption);
  const QRegularExpressionMatch match = line.match(QString::fromUtf8(metrics));
  if (!match.hasMatch()) return std::nullopt;
  bool ok = false;
  const double value = match.captured(1).toDouble(&ok);
  return ok ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

class NodeExporterTest : public QObject {
  Q_OBJECT

  QProcess exporter_;
  quint16 port_ = 0;

  // Starts node_exporter with only its textfile collector over `folder`; false when it does
  // not answer.
  bool StartExporter(const QString& folder) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreePort();
      exporter_.setProcessChannelMode(QProcess::MergedChannels);
      exporter_.start(kNodeExporter, {"--web.listen-address=127.0.0.1:" + QString::number(port_),
                                      "--collector.disable-defaults", "--collector.textfile",
                                      "--collector.textfile.directory=" + folder});
      if (!exporter_.waitForStarted(10000)) return false;
      // Answering within seconds; a port taken meanwhile ends it, and another is tried.
      for (int wait = 0; wait < 100 && exporter_.state() == QProcess::Running; ++wait) {
        if (HttpGet(port_, "/metrics")) return true;
        QTest::qWait(100);
      }
      exporter_.kill();
      exporter_.waitForFinished();
    }
    return false;
  }

  QByteArray Scrape() {
    const auto body = HttpGet(port_, "/metrics");
    return body ? *body : QByteArray();
  }

 private slots:
  void initTestCase() {
    if (QFileInfo(kNodeExporter).isExecutable()) return;
    QProcess fetch;
    fetch.setProcessChannelMode(QProcess::MergedChannels);
    fetch.start("sh", {ZEL_FETCH_NODE_EXPORTER, ZEL_NODE_EXPORTER_DIR});
    const bool finished = fetch.waitForFinished(180000);
    const QString output = QString::fromLocal8Bit(fetch.readAll()).trimmed();
    if (finished && fetch.exitCode() == 0 && QFileInfo(kNodeExporter).isExecutable()) return;
    const QString why = "Debian's prometheus-node-exporter could not be downloaded and unpacked: " +
                        output.right(600);
    // CI has Debian's archive: there, no node_exporter is a failure, not a skip.
    if (!qEnvironmentVariableIsEmpty("CI")) QFAIL(qPrintable(why));
    QSKIP(qPrintable(why + " (CI is not set: skipped)"));
  }

  void cleanup() {
    if (exporter_.state() != QProcess::NotRunning) {
      exporter_.terminate();
      if (!exporter_.waitForFinished(5000)) exporter_.kill();
      exporter_.waitForFinished();
    }
  }

  // A damaged station's check, then the run that repairs it: after each, node_exporter serves
  // the file's samples without a scrape error, the check's unusable table named by folder and
  // table, and the check's samples still there after the run.
  void checkThenRunScraped() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString prefix = dir.filePath("prefix");
    QCOMPARE(zel::test::BuildDemoStation(prefix, {"stale-locks", "db-header:TEMPDATA/PUMPSALE"}),
             QString());
    const QString textfiles = dir.filePath("textfiles");
    QVERIFY(QDir().mkdir(textfiles));
    const QString metrics = textfiles + "/zelutil-till.prom";
    const double before = double(QDateTime::currentSecsSinceEpoch());
    QCOMPARE(RunConsole(prefix, {"--check-only", "--metrics", metrics}), 1);
    QVERIFY2(StartExporter(textfiles), qPrintable(QString::fromLocal8Bit(exporter_.readAll())));

    QByteArray scraped = Scrape();
    QVERIFY2(!scraped.isEmpty(), "no answer from node_exporter");
    const auto expect = [&](const QString& series, double value) {
      const auto found = Sample(scraped, series);
      QVERIFY2(found, qPrintable(series + " not served:\n" + QString::fromUtf8(scraped)));
      QVERIFY2(*found == value, qPrintable(series + " = " + QString::number(*found)));
    };
    expect("node_textfile_scrape_error", 0);
    expect("zelutil_last_run_exit_status{kind=\"check\"}", 1);
    expect("zelutil_table_unusable{folder=\"TEMPDATA\",table=\"PUMPSALE\"}", 1);
    expect("zelutil_tables{state=\"unusable\"}", 1);
    expect("zelutil_tables{state=\"usable\"}", 60);
    expect("zelutil_tables{state=\"replaced\"}", 0);
    expect("zelutil_lock_files{state=\"stale\"}", 11);
    expect("zelutil_lock_files{state=\"held\"}", 0);
    const auto checkedAt = Sample(scraped, "zelutil_last_run_timestamp_seconds{kind=\"check\"}");
    QVERIFY(checkedAt && *checkedAt >= before - 1 &&
            *checkedAt <= double(QDateTime::currentSecsSinceEpoch()) + 1);
    const auto took = Sample(scraped, "zelutil_run_duration_seconds{kind=\"check\"}");
    QVERIFY(took && *took > 0 && *took < 120);
    QVERIFY(Sample(scraped, "node_textfile_mtime_seconds{file=\"" + metrics + "\"}") ||
            Sample(scraped, "node_textfile_mtime_seconds{file=\"zelutil-till.prom\"}"));

    // The repair run: its own samples beside the check's, the file still valid for the exporter.
    QCOMPARE(RunConsole(prefix, {"--yes", "--simulate-power-off", "--metrics", metrics}), 0);
    scraped = Scrape();
    expect("node_textfile_scrape_error", 0);
    expect("zelutil_last_run_exit_status{kind=\"run\"}", 0);
    expect("zelutil_last_run_exit_status{kind=\"check\"}", 1);
    expect("zelutil_tables{state=\"replaced\"}", 1);
    expect("zelutil_tables{state=\"unusable\"}", 0);
    QVERIFY(!scraped.contains("zelutil_table_unusable{"));
    QVERIFY(QDir(textfiles).entryList(QDir::Files | QDir::Hidden) ==
            QStringList{"zelutil-till.prom"});
  }
};

QTEST_GUILESS_MAIN(NodeExporterTest)
#include "tst_node_exporter.moc"
