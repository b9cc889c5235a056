// The station window against simulated units put on and taken off: a job opened from the menu,
// the tiles of a passing and a failing slot with the counts and the log, a stop in the middle
// of a unit by closing the window, and jobs that cannot be opened or started.
#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "AuditLog.h"
#include "SimulatedInstrument.h"
#include "StationWindow.h"
#include "TComPort.h"
#include "WindowTestSupport.h"

namespace quorvex::test {
namespace {

using namespace std::chrono_literals;

const QColor kGrey(0x9E, 0x9E, 0x9E);
const QColor kGreen(0x2E, 0x7D, 0x32);
const QColor kRed(0xC6, 0x28, 0x28);
const QColor kAmber(0xEF, 0x8F, 0x00);
const QColor kBlue(0x15, 0x65, 0xC0);

constexpr int kVerdictWait = 20'000;  // ms: a unit's run on an unpaced line takes about one

std::unique_ptr<sim::SimulatedInstrument> Units(std::chrono::milliseconds present,
                                                std::chrono::milliseconds absent,
                                                std::vector<std::string> faults = {},
                                                bool pace = false) {
  sim::Options options;
  options.pace = pace;
  options.faults = std::move(faults);
  options.comeAndGo = sim::ComeAndGo{present, absent};
  auto instrument = std::make_unique<sim::SimulatedInstrument>(std::move(options));
  std::string error;
  if (!instrument->Start(&error))
    qFatal("the simulated instrument did not start: %s", error.c_str());
  return instrument;
}

// A Cyrillic letter typed on a Russian keyboard layout: the key is the capital letter's code,
// the text the letter typed.
void Letter(QWidget* widget, const QString& letter, Qt::KeyboardModifiers modifiers = {}) {
  const auto key = static_cast<Qt::Key>(letter.toUpper().at(0).unicode());
  QTest::sendKeyEvent(QTest::Press, widget, key, letter, modifiers);
  QTest::sendKeyEvent(QTest::Release, widget, key, letter, modifiers);
}

// A slot's tile as the operator reads it.
struct TileView {
  SlotTile* tile;
  [[nodiscard]] QString state() const { return label("state")->text(); }
  [[nodiscard]] QString cause() const { return label("cause")->text(); }
  [[nodiscard]] bool takeOffShown() const { return !label("takeOff")->isHidden(); }
  [[nodiscard]] bool progressShown() const {
    return !tile->findChild<QProgressBar*>(QStringLiteral("progress"))->isHidden();
  }
  [[nodiscard]] QString title() const { return label("title")->text(); }
  [[nodiscard]] QColor colour() const { return tile->Colour(); }
  [[nodiscard]] QLabel* label(const char* name) const {
    return tile->findChild<QLabel*>(QString::fromLatin1(name));
  }
};

class Station {
 public:
  explicit Station(std::shared_ptr<AuditLog> audit = nullptr) {
    StationWindow::Setup setup;
    setup.dialogs = &dialogs;
    setup.audit = std::move(audit);
    // Probes five times as often as a station on a line: the same logic, in less time.
    setup.options.probeEvery = 100ms;
    setup.options.probeWait = 100ms;
    window = std::make_unique<StationWindow>(std::move(setup));
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window.get()) || window->isVisible());
  }

  // «Файл → Открыть задание» from the keyboard, with `path` chosen in the file dialog.
  void openFromMenu(const QString& path) {
    dialogs.files.push_back(path);
    Letter(window.get(), QStringLiteral("ф"), Qt::AltModifier);
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    Letter(QApplication::activePopupWidget(), QStringLiteral("о"));
    QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
  }

  TileView tile(int slot) {
    auto* tile = window->findChild<SlotTile*>(QStringLiteral("slot%1").arg(slot));
    if (tile == nullptr) qFatal("no tile for slot %d", slot);
    return {tile};
  }
  QString text(const char* name) {
    return window->findChild<QLabel*>(QString::fromLatin1(name))->text();
  }
  QStringList log() {
    return window->findChild<QPlainTextEdit*>(QStringLiteral("log"))
        ->toPlainText()
        .split(QLatin1Char('\n'));
  }
  QTableWidget* sectors() { return window->findChild<QTableWidget*>(QStringLiteral("sectors")); }
  QPushButton* button(const char* name) {
    return window->findChild<QPushButton*>(QString::fromLatin1(name));
  }

  RecordingDialogs dialogs;
  std::unique_ptr<StationWindow> window;
};

}  // namespace

class StationWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void openedJobShowsItsSectors();
  void passingAndFailingSlots();
  void closingDuringAUnitStopsIt();
  void jobsThatCannotBeOpened_data();
  void jobsThatCannotBeOpened();
  void startNeedsSlots();

 private:
  // A job of `sectors` (TOML lines) and the given slots, in the test's folder.
  QString writeJob(const char* name, const QString& body);
  QString slotsLine(const std::vector<const sim::SimulatedInstrument*>& slots);

  QTemporaryDir folder_;
  QString boot_;
  QString app_;
};

void StationWindowTest::initTestCase() {
  QVERIFY(folder_.isValid());
  boot_ = WriteFirmware(folder_, "boot.fls", SampleImage("BOOT", false, 5));
  app_ = WriteFirmware(folder_, "app.fls", SampleImage("APP", false, 7));
}

QString StationWindowTest::writeJob(const char* name, const QString& body) {
  const QString path = folder_.filePath(QString::fromUtf8(name));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write the job");
  file.write(body.toUtf8());
  return path;
}

QString StationWindowTest::slotsLine(const std::vector<const sim::SimulatedInstrument*>& slots) {
  QStringList quoted;
  for (const auto* slot : slots) quoted << '"' + QString::fromStdString(slot->PortPath()) + '"';
  return QStringLiteral("[station]\nslots = [") + quoted.join(QStringLiteral(", ")) +
         QStringLiteral("]\n");
}

void StationWindowTest::openedJobShowsItsSectors() {
  const QString job =
      writeJob("two.toml", QStringLiteral("[[sector]]\nnumber = 5\nfile = \"boot.fls\"\n"
                                          "[[sector]]\nnumber = 7\nfile = \"app.fls\"\n"));
  Station station;
  QVERIFY(!station.button("start")->isEnabled());
  station.openFromMenu(job);
  QCOMPARE(station.dialogs.shown.size(), 0u);
  QCOMPARE(station.dialogs.dialogFilter.left(8), QStringLiteral("Задания "));
  QTableWidget* table = station.sectors();
  QCOMPARE(table->rowCount(), 2);
  const QString files[] = {boot_, app_};
  const QString numbers[] = {QStringLiteral("5"), QStringLiteral("7")};
  for (int row = 0; row < 2; ++row) {
    QFile file(files[row]);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    QCOMPARE(table->item(row, 0)->text(), numbers[row]);
    QCOMPARE(table->item(row, 1)->text(), QFileInfo(files[row]).fileName());
    QCOMPARE(table->item(row, 2)->text(), digest.left(12));
    QVERIFY(!(table->item(row, 1)->flags() & Qt::ItemIsEditable));
  }
  QVERIFY(station.text("jobPath").contains(QStringLiteral("two.toml")));
  QVERIFY(station.button("start")->isEnabled());
}

void StationWindowTest::passingAndFailingSlots() {
  const auto good = Units(5000ms, 2000ms);
  const auto bad = Units(5000ms, 2000ms, {"checksum-mismatch"});
  const QString job =
      writeJob("pair.toml", QStringLiteral("[[sector]]\nnumber = 5\nfile = \"boot.fls\"\n") +
                                slotsLine({good.get(), bad.get()}));
  Station station;
  QVERIFY(station.window->OpenJob(job));
  QTest::keyClick(station.window.get(), Qt::Key_F5);
  QVERIFY(station.window->Running());
  QVERIFY(!station.button("start")->isEnabled());
  QVERIFY(station.button("stop")->isEnabled());
  const QString goodName = QString::fromStdString(PortNameOf(good->PortPath()));
  const QString badName = QString::fromStdString(PortNameOf(bad->PortPath()));
  QCOMPARE(station.tile(1).title(), QStringLiteral("1  ") + goodName);
  QCOMPARE(station.tile(2).title(), QStringLiteral("2  ") + badName);

  // Both verdicts stand together while both units are still on their slots.
  TileView one = station.tile(1);
  TileView two = station.tile(2);
  QTRY_VERIFY_WITH_TIMEOUT(
      one.state() == QStringLiteral("ГОТОВО") && two.state() == QStringLiteral("БРАК"),
      kVerdictWait);
  QCOMPARE(one.colour(), kGreen);
  QVERIFY(one.takeOffShown());
  QVERIFY(!one.progressShown());
  QCOMPARE(two.colour(), kRed);
  QVERIFY(two.takeOffShown());
  QVERIFY(!two.cause().isEmpty());
  QCOMPARE(station.text("passed"), QStringLiteral("годных 1"));
  QCOMPARE(station.text("failed"), QStringLiteral("брак 1"));
  QCOMPARE(station.text("total"), QStringLiteral("всего 2"));

  // Every line of the log names its slot.
  const QStringList log = station.log();
  const QString goodPrefix = QStringLiteral("1 ") + goodName + QStringLiteral(": ");
  const QString badPrefix = QStringLiteral("2 ") + badName + QStringLiteral(": ");
  QVERIFY2(log.contains(goodPrefix + QStringLiteral("Программирование...")),
           qPrintable(log.join('\n')));
  QVERIFY(log.contains(badPrefix + QStringLiteral("Программирование...")));
  bool badVerdict = false;
  for (const QString& line : log) {
    if (line.startsWith(badPrefix) && line.contains(QStringLiteral("БРАК: "))) badVerdict = true;
  }
  QVERIFY(badVerdict);

  // The units are taken away: the tiles wait for the next, and the verdicts are counted once.
  QTRY_VERIFY_WITH_TIMEOUT(
      one.state() == QStringLiteral("ждёт прибор") && two.state() == QStringLiteral("ждёт прибор"),
      kVerdictWait);
  QCOMPARE(one.colour(), kGrey);
  QVERIFY(!one.takeOffShown());
  QVERIFY(!two.takeOffShown());
  QCOMPARE(station.text("total"), QStringLiteral("всего 2"));

  // The next units: programmed, and counted on top.
  QTRY_VERIFY_WITH_TIMEOUT(station.text("total") == QStringLiteral("всего 4"), kVerdictWait);
  QTRY_COMPARE(station.text("passed"), QStringLiteral("годных 2"));

  QTest::keyClick(station.window.get(), Qt::Key_F6);
  QTRY_VERIFY_WITH_TIMEOUT(!station.window->Running(), kVerdictWait);
  QVERIFY(station.button("start")->isEnabled());
}

void StationWindowTest::closingDuringAUnitStopsIt() {
  // Paced as on a real line, a unit takes many seconds: it is stopped in the middle.
  const auto slot = Units(60000ms, 1000ms, {}, true);
  const QString auditPath = folder_.filePath(QStringLiteral("audit.jsonl"));
  std::string error;
  auto file = OpenAppendFile(auditPath.toStdString(), &error);
  QVERIFY2(file, error.c_str());
  const QString job =
      writeJob("one.toml", QStringLiteral("[[sector]]\nnumber = 5\nfile = \"boot.fls\"\n") +
                               slotsLine({slot.get()}));
  Station station(std::make_shared<AuditLog>(std::move(file)));
  QVERIFY(station.window->OpenJob(job));
  QTest::keyClick(station.window.get(), Qt::Key_F5);
  TileView tile = station.tile(1);
  QTRY_COMPARE_WITH_TIMEOUT(tile.state(), QStringLiteral("сектор 5 (1 из 1)"), kVerdictWait);
  QCOMPARE(tile.colour(), kBlue);
  QVERIFY(tile.progressShown());
  QTRY_VERIFY_WITH_TIMEOUT(
      tile.tile->findChild<QProgressBar*>(QStringLiteral("progress"))->value() > 0, kVerdictWait);

  QVERIFY(station.window->close() == false);  // not yet: the unit is stopped first
  QVERIFY(station.window->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(!station.window->isVisible(), kVerdictWait);
  QVERIFY(!station.window->Running());
  QTRY_COMPARE(tile.state(), QStringLiteral("ОСТАНОВЛЕН"));
  QCOMPARE(tile.colour(), kAmber);
  QVERIFY(tile.takeOffShown());
  QCOMPARE(station.text("failed"), QStringLiteral("брак 1"));

  QFile audit(auditPath);
  QVERIFY(audit.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = audit.readAll().trimmed().split('\n');
  QCOMPARE(lines.size(), 1);
  QVERIFY2(lines[0].contains("\"exit\":3"), lines[0].constData());
}

void StationWindowTest::jobsThatCannotBeOpened_data() {
  QTest::addColumn<QString>("body");
  QTest::addColumn<QString>("says");
  QTest::newRow("unknown key") << QStringLiteral("[[sector]]\nfile = \"boot.fls\"\nnubmer = 1\n")
                               << QStringLiteral("bad.toml:3:");
  QTest::newRow("missing firmware")
      << QStringLiteral(
             "[[sector]]\nnumber = 1\nfile = \"boot.fls\"\n\n[[sector]]\nnumber = 2\n"
             "file = \"gone.fls\"\n")
      << QStringLiteral("bad.toml:7: sector 2");
  QTest::newRow("not TOML") << QStringLiteral("[[sector]\n") << QStringLiteral("bad.toml:1");
}

void StationWindowTest::jobsThatCannotBeOpened() {
  QFETCH(QString, body);
  QFETCH(QString, says);
  const QString good =
      writeJob("good.toml", QStringLiteral("[[sector]]\nnumber = 5\nfile = \"boot.fls\"\n"));
  const QString bad = writeJob("bad.toml", body);
  Station station;
  station.openFromMenu(good);
  station.openFromMenu(bad);
  QCOMPARE(station.dialogs.shown.size(), 1u);
  const Shown& box = station.dialogs.shown[0];
  QVERIFY2(box.text.contains(says), qPrintable(box.text));
  QVERIFY(box.text.startsWith(QStringLiteral("Задание не открыто")));
  QCOMPARE(box.flags, 0x10u);
  // The job opened before stays, and can still be started.
  QVERIFY(station.text("jobPath").contains(QStringLiteral("good.toml")));
  QCOMPARE(station.sectors()->rowCount(), 1);
}

void StationWindowTest::startNeedsSlots() {
  Station station;
  QTest::keyClick(station.window.get(), Qt::Key_F5);  // no job yet: the button is off
  QCOMPARE(station.dialogs.shown.size(), 0u);
  QVERIFY(!station.window->Running());

  const QString job =
      writeJob("noslots.toml", QStringLiteral("[[sector]]\nnumber = 5\nfile = \"boot.fls\"\n"));
  QVERIFY(station.window->OpenJob(job));
  QTest::keyClick(station.window.get(), Qt::Key_F5);
  QVERIFY(!station.window->Running());
  QCOMPARE(station.dialogs.shown.size(), 1u);
  QVERIFY2(station.dialogs.shown[0].text.contains(QStringLiteral("не указаны гнёзда")),
           qPrintable(station.dialogs.shown[0].text));
}

}  // namespace quorvex::test

QTEST_MAIN(quorvex::test::StationWindowTest)
#include "StationWindowTest.moc"
