// The program itself at start-up: Qt's Russian translations found, or missing with one note on
// stderr while the window still opens.
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

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
