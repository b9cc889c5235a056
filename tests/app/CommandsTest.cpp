// The window's commands against a simulated instrument inside the test: the programming run
// with its question, Cancel, a close and SIGTERM or SIGHUP in the middle, the device check,
// the sector number, and the two sector service commands.
#include <signal.h>
#include <unistd.h>

#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QtTest>
#include <array>

#include "CloseOnSignal.h"

#include "SectorInf.h"
#include "SimulatedInstrument.h"
#include "WindowTestSupport.h"

using namespace quorvex;
using namespace quorvex::test;

namespace {

const char* const kReceiveFailure =
    "Ошибка приема сообщения\nВозможные причины:\n-неправильно выбран COM-порт\n"
    "-неисправна линии связи\n-прибор не в режиме связи с компьютером\n"
    "Нажмите клавишу 'Reset' на клавиатуре прибора";

using Block = std::array<std::uint8_t, 64>;

Block WrittenBlock() {
  Block block{};
  block[1] = 'O';
  block[2] = 'L';
  block[3] = 'D';
  block[62] = 0x55;
  block[63] = 0xAA;
  return block;
}

// A simulated instrument, the window with its port selected and open, and a firmware file
// already chosen through the menu.
class Bench {
 public:
  explicit Bench(std::vector<std::string> faults = {}, std::vector<std::string> ports = {},
                 bool paced = false) {
    sim::Options options;
    options.faults = std::move(faults);
    options.pace = paced;
    instrument = std::make_unique<sim::SimulatedInstrument>(options);
    std::string error;
    started = instrument->Start(&error);
    if (!started) return;
    window =
        std::make_unique<Window>(settings, std::move(ports), PortNameOf(instrument->PortPath()));
    image = std::make_unique<FileBytes>(PatternImage(1));
    file = WriteFirmware(folder, "fw.fls", *image);
    window->open(file);
    instrument->ClearLog();
  }

  // Log lines after the open command's own.
  QStringList runLog() { return window->log().mid(1); }
  std::vector<int> requestCodes() const {
    std::vector<int> codes;
    for (const sim::RequestRecord& request : instrument->Requests()) codes.push_back(request.code);
    return codes;
  }

  SettingsFile settings;
  QTemporaryDir folder;
  std::unique_ptr<sim::SimulatedInstrument> instrument;
  std::unique_ptr<Window> window;  // destroyed before the instrument
  std::unique_ptr<FileBytes> image;
  QString file;
  bool started = false;
};

#define START_BENCH(bench) QVERIFY2((bench).started, "the simulated instrument did not start")

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private slots:
  void programmingRun_data();
  void programmingRun();
  void cancelThenRunAgain();
  void portChoiceRefusedDuringRun();
  void closeDuringRun_data();
  void closeDuringRun();
  void signalDuringTransfer_data();
  void signalDuringTransfer();
  void signalWithBoxUp_data();
  void signalWithBoxUp();
  void deviceCheckFails_data();
  void deviceCheckFails();
  void sectorNumberFaults_data();
  void sectorNumberFaults();
  void listingAndClear();
};

void CommandsTest::programmingRun_data() {
  QTest::addColumn<bool>("written");  // the sector's block carries the written marker
  QTest::addColumn<int>("answer");    // to the overwrite question: IDYES 6, IDNO 7
  QTest::addColumn<bool>("done");

  QTest::newRow("blank sector") << false << 0 << true;
  QTest::newRow("written sector, overwrite") << true << 6 << true;
  QTest::newRow("written sector, keep") << true << 7 << false;
}

void CommandsTest::programmingRun() {
  QFETCH(bool, written);
  QFETCH(int, answer);
  QFETCH(bool, done);

  Bench bench;
  START_BENCH(bench);
  Window& window = *bench.window;
  if (written) bench.instrument->SetBlock(1, WrittenBlock());
  if (answer != 0) window.dialogs().answers.push_back(answer);
  QSignalSpy progress(window.find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged);
  bool programmingState = false;
  SoonDo(&window.form(), [&] { programmingState = window.programming(); });

  window.button("ButtonStart")->click();

  const std::vector<Shown> question{
      Box("Сектор записан, переписать?", "Программирование сектора", 0x14)};
  QCOMPARE(window.dialogs().shown, written ? question : std::vector<Shown>{});
  QVERIFY(window.idle());
  QCOMPARE(window.find<QProgressBar>("ProgressBar1")->value(), 0);
  if (done) {
    QCOMPARE(bench.runLog(), kProgrammingLog);
    QCOMPARE(window.dialogs().beeps, 1);
    QVERIFY(programmingState);
    QCOMPARE(progress.last().at(0).toInt(), 0);
    int highest = 0;
    for (const QList<QVariant>& value : progress) highest = std::max(highest, value.at(0).toInt());
    QCOMPARE(highest, 99);
    QCOMPARE(bench.requestCodes(), std::vector<int>({0x02, 0x33, 0x30, 0x31, 0x32, 0x35}));
    const std::vector<std::uint8_t> flash = bench.instrument->Flash(1);
    QVERIFY(std::equal(flash.begin(), flash.end(), bench.image->begin()));
    QCOMPARE(bench.instrument->Block(1), DeriveSectorInf(*bench.image));
  } else {
    QCOMPARE(bench.runLog(), kProgrammingLog.mid(0, 3));
    QCOMPARE(window.dialogs().beeps, 0);
    QCOMPARE(bench.requestCodes(), std::vector<int>({0x02, 0x33}));
    QCOMPARE(bench.instrument->Block(1), WrittenBlock());
  }
}

void CommandsTest::cancelThenRunAgain() {
  Bench bench;
  START_BENCH(bench);
  Window& window = *bench.window;
  bool programmingState = false;
  SoonDo(&window.form(), [&] {
    programmingState = window.programming();
    window.button("ButtonStop")->click();
  });

  window.button("ButtonStart")->click();

  QVERIFY(programmingState);
  QStringList stopped = kProgrammingLog.mid(0, 7);
  stopped << "Стоп";
  QCOMPARE(bench.runLog(), stopped);
  QCOMPARE(window.dialogs().beeps, 0);
  QVERIFY(window.dialogs().shown.empty());
  QVERIFY(window.idle());
  QCOMPARE(window.find<QProgressBar>("ProgressBar1")->value(), 0);
  QCOMPARE(bench.requestCodes(), std::vector<int>({0x02, 0x33, 0x30, 0x31, 0x32}));
  QVERIFY(bench.instrument->BlocksReceived() < 512);

  // Cancel leaves nothing behind: the next run goes through. The stopped run had already
  // written the new block, so this one asks before overwriting.
  window.dialogs().answers.push_back(6);
  window.button("ButtonStart")->click();
  QCOMPARE(window.dialogs().shown, std::vector<Shown>{Box("Сектор записан, переписать?",
                                                          "Программирование сектора", 0x14)});
  QCOMPARE(bench.runLog().mid(8), kProgrammingLog);
  QCOMPARE(window.dialogs().beeps, 1);
  QCOMPARE(bench.instrument->BlocksReceived(), 512);
  QVERIFY(window.idle());
}

void CommandsTest::portChoiceRefusedDuringRun() {
  Bench bench({}, {"ttyQuorvexAbsent0"});
  START_BENCH(bench);
  Window& window = *bench.window;
  QComboBox* list = window.comboBox1();
  const QString inUse = list->currentText();
  QStringList selectedAfterChoice;
  SoonDo(&window.form(), [&] {
    for (int index : {0, 1}) {
      list->setCurrentIndex(index);
      emit list->activated(index);
      selectedAfterChoice << list->currentText();
    }
  });

  window.button("ButtonStart")->click();

  QCOMPARE(selectedAfterChoice, QStringList({inUse, inUse}));
  QVERIFY(window.dialogs().shown.empty());  // the absent port was never tried
  QCOMPARE(bench.runLog(), kProgrammingLog);
  QCOMPARE(list->currentText(), inUse);
  QCOMPARE(bench.settings.Read(kValueComName), std::string());
}

void CommandsTest::closeDuringRun_data() {
  QTest::addColumn<bool>("deleteOnClose");
  QTest::newRow("window kept after closing") << false;
  QTest::newRow("window deleted on close") << true;
}

// The close asks the run to stop and waits for it; the port, the buffers and the window
// itself stay alive until the run has returned (the sanitizer build runs this too).
void CommandsTest::closeDuringRun() {
  QFETCH(bool, deleteOnClose);

  SettingsFile settings;
  QTemporaryDir folder;
  sim::SimulatedInstrument instrument;
  std::string error;
  QVERIFY2(instrument.Start(&error), error.c_str());
  auto dialogs = std::make_unique<RecordingDialogs>();
  RecordingDialogs& recorded = *dialogs;
  TForm1::Setup setup;
  setup.dialogs = std::move(dialogs);
  setup.registry = settings.Accessor();
  setup.listPorts = [](TComPort&) { return std::vector<std::string>{}; };
  setup.simulatorPort = PortNameOf(instrument.PortPath());
  auto* form = new TForm1(std::move(setup));
  form->FormCreate();
  std::unique_ptr<TForm1> owner(deleteOnClose ? nullptr : form);
  form->setAttribute(Qt::WA_DeleteOnClose, deleteOnClose);
  QPointer<TForm1> alive(form);
  form->show();
  form->OpenFirmwareFile(WriteFirmware(folder, "fw.fls", PatternImage(2)));
  instrument.ClearLog();

  bool closedAtOnce = true;
  bool visibleWhileRunning = false;
  SoonDo(form, [&] {
    closedAtOnce = form->close();
    visibleWhileRunning = form->isVisible() && form->Running();
  });
  form->findChild<QPushButton*>(QStringLiteral("ButtonStart"))->click();

  QVERIFY(!closedAtOnce);
  QVERIFY(visibleWhileRunning);
  QCOMPARE(recorded.beeps, 0);
  if (deleteOnClose) {
    QTRY_VERIFY(alive.isNull());
  } else {
    QVERIFY(!form->isVisible());
    const QString text = form->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
    QVERIFY(text.endsWith(QStringLiteral("Программирование...\nСтоп")));
    QVERIFY(!form->Instrument().Port.IsOpen());
  }
  // The run stopped after its first blocks and never sent the finish request.
  for (const sim::RequestRecord& request : instrument.Requests()) QVERIFY(request.code != 0x35);
  QVERIFY(instrument.BlocksReceived() < 512);
}

void CommandsTest::signalDuringTransfer_data() {
  QTest::addColumn<int>("signal");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGHUP") << SIGHUP;
}

// A service manager's stop or a closed terminal during a transfer on a line as slow as the
// real one: the run stops at its next block with "Стоп", never sends the finish request, and
// the window closes once the run has returned, its port released.
void CommandsTest::signalDuringTransfer() {
  QFETCH(int, signal);
  Bench bench({}, {}, true);
  START_BENCH(bench);
  TForm1& form = bench.window->form();
  const CloseOnSignal closeOnSignal(form);
  QVERIFY(closeOnSignal.Installed());
  form.show();
  bool sent = false;
  QObject::connect(bench.window->find<QProgressBar>("ProgressBar1"), &QProgressBar::valueChanged,
                   &form, [&](int value) {
                     if (value > 0 && !sent) {
                       sent = true;
                       ::kill(::getpid(), signal);
                     }
                   });

  bench.window->button("ButtonStart")->click();

  QVERIFY(sent);
  QVERIFY(closeOnSignal.Asked());
  QVERIFY(!form.isVisible());
  QStringList stopped = kProgrammingLog.mid(0, 7);
  stopped << "Стоп";
  QCOMPARE(bench.runLog(), stopped);
  QCOMPARE(bench.window->dialogs().beeps, 0);
  QCOMPARE(bench.requestCodes(), std::vector<int>({0x02, 0x33, 0x30, 0x31, 0x32}));
  QVERIFY(bench.instrument->BlocksReceived() < 512);
  QVERIFY(!form.Instrument().Port.IsOpen());
}

void CommandsTest::signalWithBoxUp_data() {
  QTest::addColumn<int>("signal");
  QTest::addColumn<bool>("question");  // the overwrite question, or the receive-failure notice
  QTest::newRow("SIGTERM at the overwrite question") << SIGTERM << true;
  QTest::newRow("SIGHUP at the overwrite question") << SIGHUP << true;
  QTest::newRow("SIGTERM at a failure notice") << SIGTERM << false;
}

// The real message boxes: a signal while one waits for an answer closes it as Escape does
// (the question answers No, the sector is kept), then the window.
void CommandsTest::signalWithBoxUp() {
  QFETCH(int, signal);
  QFETCH(bool, question);

  SettingsFile settings;
  QTemporaryDir folder;
  sim::SimulatedInstrument instrument;
  std::string error;
  QVERIFY2(instrument.Start(&error), error.c_str());
  instrument.SetBlock(1, WrittenBlock());
  TForm1::Setup setup;
  setup.registry = settings.Accessor();
  setup.listPorts = [](TComPort&) { return std::vector<std::string>{}; };
  if (question) setup.simulatorPort = PortNameOf(instrument.PortPath());
  TForm1 form(std::move(setup));
  form.FormCreate();
  const CloseOnSignal closeOnSignal(form);
  form.show();
  form.OpenFirmwareFile(WriteFirmware(folder, "fw.fls", PatternImage(2)));
  instrument.ClearLog();
  QString boxText;
  std::function<void()> whenBoxUp = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      QTimer::singleShot(10, &form, whenBoxUp);
      return;
    }
    boxText = box->text();
    ::kill(::getpid(), signal);
  };
  QTimer::singleShot(0, &form, whenBoxUp);

  form.findChild<QPushButton*>(QString::fromLatin1(question ? "ButtonStart" : "Button2"))->click();

  QVERIFY(closeOnSignal.Asked());
  QVERIFY(QApplication::activeModalWidget() == nullptr);
  QVERIFY(!form.isVisible());
  QCOMPARE(boxText, question ? QStringLiteral("Сектор записан, переписать?")
                             : QString::fromUtf8(kReceiveFailure));
  if (question) {
    std::vector<int> codes;
    for (const sim::RequestRecord& request : instrument.Requests()) codes.push_back(request.code);
    QCOMPARE(codes, std::vector<int>({0x02, 0x33}));
    QCOMPARE(instrument.Block(1), WrittenBlock());
  }
}

void CommandsTest::deviceCheckFails_data() {
  QTest::addColumn<QString>("fault");  // empty: no instrument at all, no port chosen
  QTest::addColumn<QString>("command");
  QTest::addColumn<QString>("message");

  const QString lost = QString::fromUtf8(kReceiveFailure);
  const QString version = QStringLiteral("Версия загрузчика не соответствует версии прибора");
  QTest::newRow("no port, programming") << ""
                                        << "ButtonStart" << lost;
  QTest::newRow("no port, clear") << ""
                                  << "Button1" << lost;
  QTest::newRow("no port, listing") << ""
                                    << "Button2" << lost;
  QTest::newRow("wrong loader, programming") << "version=45B4"
                                             << "ButtonStart" << version;
  QTest::newRow("wrong loader, listing") << "version=45B4"
                                         << "Button2" << version;
}

// The device check comes first: an empty sector field is not reported when it fails.
void CommandsTest::deviceCheckFails() {
  QFETCH(QString, fault);
  QFETCH(QString, command);
  QFETCH(QString, message);

  SettingsFile settings;
  std::unique_ptr<Bench> bench;
  std::unique_ptr<Window> lone;
  Window* window = nullptr;
  if (fault.isEmpty()) {
    lone = std::make_unique<Window>(settings);
    window = lone.get();
  } else {
    bench = std::make_unique<Bench>(std::vector<std::string>{fault.toStdString()});
    START_BENCH(*bench);
    window = bench->window.get();
  }
  const QStringList logBefore = window->log();
  window->edit1()->clear();

  window->button(command.toLatin1().constData())->click();

  QCOMPARE(window->dialogs().shown, std::vector<Shown>({{message, "Ошибка", 0x10, false}}));
  QCOMPARE(window->log(), logBefore);
  QCOMPARE(window->dialogs().beeps, 0);
  QVERIFY(window->idle());
  if (bench) QCOMPARE(bench->requestCodes(), std::vector<int>{0x02});
}

void CommandsTest::sectorNumberFaults_data() {
  QTest::addColumn<QString>("command");
  QTest::addColumn<QString>("text");  // typed, or pasted where the filter would refuse it
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<unsigned>("flags");

  const QString wrong = QStringLiteral("Введен неправильный номер сектора");
  const QString enter = QStringLiteral("Введите номер сектора");
  for (const char* command : {"ButtonStart", "Button1"}) {
    const QByteArray c(command);
    QTest::newRow(c + ", empty") << command << "" << enter << "Quorvex" << 0u;
    QTest::newRow(c + ", 0") << command << "0" << wrong << "Ошибка" << 0x10u;
    QTest::newRow(c + ", 65") << command << "65" << wrong << "Ошибка" << 0x10u;
    QTest::newRow(c + ", 00") << command << "00" << wrong << "Ошибка" << 0x10u;
    QTest::newRow(c + ", pasted -1") << command << "-1" << wrong << "Ошибка" << 0x10u;
    QTest::newRow(c + ", pasted 1a") << command << "1a"
                                     << "'1a' is not a valid integer value."
                                     << "Quorvex" << 0x10u;
    QTest::newRow(c + ", pasted trailing space") << command << "5 "
                                                 << "'5 ' is not a valid integer value."
                                                 << "Quorvex" << 0x10u;
  }
}

void CommandsTest::sectorNumberFaults() {
  QFETCH(QString, command);
  QFETCH(QString, text);
  QFETCH(QString, message);
  QFETCH(QString, caption);
  QFETCH(unsigned, flags);

  Bench bench;
  START_BENCH(bench);
  Window& window = *bench.window;
  window.edit1()->setText(text);

  window.button(command.toLatin1().constData())->click();

  QCOMPARE(window.dialogs().shown,
           std::vector<Shown>({{message, caption, flags, caption == "Quorvex" && flags == 0}}));
  QVERIFY(bench.runLog().isEmpty());
  QVERIFY(window.idle());
  QCOMPARE(window.edit1()->text(), text);
  QCOMPARE(bench.requestCodes(), std::vector<int>{0x02});
}

void CommandsTest::listingAndClear() {
  Bench bench;
  START_BENCH(bench);
  Window& window = *bench.window;
  Block named{};
  named[1] = 'T';
  named[2] = 'E';
  named[3] = 'S';
  named[4] = 'T';
  named[63] = 0xAA;
  bench.instrument->SetBlock(5, named);
  bench.instrument->SetBlock(64, WrittenBlock());

  window.button("Button2")->click();
  QStringList listing = bench.runLog();
  QCOMPARE(listing.size(), 64);
  QCOMPARE(listing[0], QStringLiteral("Cектор 1 - не загружен"));
  QCOMPARE(listing[4], QStringLiteral("Cектор 5 - TEST"));
  QCOMPARE(listing[63], QStringLiteral("Cектор 64 - OLD"));

  // The bounds are accepted, and a leading zero is only a zero.
  for (const char* sector : {"05", "64", "1"}) {
    window.edit1()->setText(QString::fromLatin1(sector));
    window.button("Button1")->click();
  }
  QVERIFY(window.dialogs().shown.empty());
  QCOMPARE(bench.runLog().mid(64), QStringList({"Стирание сектора...", "ОК", "Стирание сектора...",
                                                "ОК", "Стирание сектора...", "ОК"}));
  QCOMPARE(bench.instrument->Block(5), Block{});
  QCOMPARE(bench.instrument->Block(64), Block{});
  // The clear command writes the block only: no erase, no block read.
  const std::vector<int> codes = bench.requestCodes();
  QCOMPARE(std::vector<int>(codes.begin() + 65, codes.end()),
           std::vector<int>({0x02, 0x30, 0x02, 0x30, 0x02, 0x30}));

  window.button("Button2")->click();
  listing = bench.runLog().mid(70);
  QCOMPARE(listing.size(), 64);
  QCOMPARE(listing[4], QStringLiteral("Cектор 5 - не загружен"));
  QCOMPARE(listing[63], QStringLiteral("Cектор 64 - не загружен"));
  QVERIFY(window.idle());
}

QTEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
