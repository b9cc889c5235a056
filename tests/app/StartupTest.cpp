// The program itself at start-up: Qt's Russian translations found, or missing with one note on
// stderr while the window still opens; and SIGTERM or SIGHUP to the idle window closes it as
// its close button does.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char* const kNote = "Qt's Russian translations (qtbase_ru.qm) were not found";

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void translations_data();
  void translations();
  void signalClosesIdleWindow_data();
  void signalClosesIdleWindow();
};

void StartupTest::translations_data() {
  QTest::addColumn<bool>("missing");
  QTest::newRow("installed") << false;
  QTest::newRow("missing") << true;
}

void StartupTest::translations() {
  QFETCH(bool, missing);
  QTemporaryDir dir;
  QString program = QStringLiteral(QUORVEX_PROGRAM);
  if (missing) {
    // A copy of the program whose Qt looks for its translations in a folder that is not there.
    const QString copy = dir.filePath(QStringLiteral("quorvex"));
    QVERIFY(QFile::copy(program, copy));
    QFile conf(dir.filePath(QStringLiteral("qt.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[Paths]\nPrefix=" + QLibraryInfo::path(QLibraryInfo::PrefixPath).toUtf8() +
               "\nPlugins=" + QLibraryInfo::path(QLibraryInfo::PluginsPath).toUtf8() +
               "\nTranslations=" + dir.filePath(QStringLiteral("absent")).toUtf8() + "\n");
    conf.close();
    program = copy;
  }
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  environment.insert(QStringLiteral("QUORVEX_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
  process.setProcessEnvironment(environment);
  process.start(program, {});
  QVERIFY(process.waitForFinished(60'000));
  QCOMPARE(process.exitCode(), 0);
  QCOMPARE(process.readAllStandardOutput(), QByteArray("shown\n"));  // the window opened
  const QByteArray errors = process.readAllStandardError();
  QCOMPARE(errors.count(kNote), missing ? 1 : 0);
}

void StartupTest::signalClosesIdleWindow_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGHUP") << SIGHUP;
}

// A first start, told to end once it has written its settings: it closes with exit code 0 and
// its settings stay as they were written.
void StartupTest::signalClosesIdleWindow() {
  QFETCH(int, signal);
  QTemporaryDir dir;
  const QString settings = dir.filePath(QStringLiteral("config/quorvex/settings.ini"));
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
  environment.remove(QStringLiteral("QUORVEX_EXIT_WHEN_SHOWN"));
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(QUORVEX_PROGRAM), {});
  QVERIFY(process.waitForStarted(10'000));
  // The settings are written at start-up (both values, one after the other), after the window
  // takes the signals over.
  QFile file(settings);
  const auto contents = [&file] {
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    const QByteArray bytes = file.readAll();
    file.close();
    return bytes;
  };
  QTRY_VERIFY_WITH_TIMEOUT(contents().contains("PathFileProg"), 30'000);
  const QByteArray written = contents();

  QCOMPARE(::kill(static_cast<pid_t>(process.processId()), signal), 0);
  QVERIFY(process.waitForFinished(10'000));
  QCOMPARE(process.exitStatus(), QProcess::NormalExit);
  QCOMPARE(process.exitCode(), 0);
  QCOMPARE(contents(), written);
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
