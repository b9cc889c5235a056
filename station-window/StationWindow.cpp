#include "StationWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenuBar>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <cmath>
#include <string_view>
#include <utility>

#include "DesignFont.h"
#include "Operator.h"
#include "OperatorDialogs.h"
#include "Report.h"
#include "TComPort.h"

namespace quorvex {
namespace {

using station::SlotState;
using station::SlotStatus;

constexpr int kExitStopped = 3;
// How many hex digits of a file's SHA-256 the job's table shows: enough to tell files apart.
constexpr int kShownHashDigits = 12;
// A stop is watched this often until the engine has ended.
constexpr auto kEndPoll = std::chrono::milliseconds(50);
// Tiles in a row before the next row starts.
constexpr int kTilesPerRow = 4;

const QColor kGrey(0x9E, 0x9E, 0x9E);
const QColor kBlue(0x15, 0x65, 0xC0);
const QColor kGreen(0x2E, 0x7D, 0x32);
const QColor kRed(0xC6, 0x28, 0x28);
const QColor kAmber(0xEF, 0x8F, 0x00);

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont Sized(int points, bool bold) {
  QFont font = DesignFont();
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

QString Caption() { return QStringLiteral("Quorvex — станция"); }

}  // namespace

bool JobSlots(const station::Job& job, std::vector<station::SlotSpec>* slots, std::string* error) {
  if (job.slots.empty()) {
    *error =
        "В задании не указаны гнёзда станции (slots в разделе [station]). Впишите порты "
        "гнёзд в задание и откройте его снова.";
    return false;
  }
  slots->clear();
  for (const std::string& spec : job.slots) {
    const bool byIdentity = spec.starts_with("usb:") || spec.starts_with("usb-path:");
    slots->push_back({byIdentity ? spec : PortNameOf(spec), spec});
  }
  return true;
}

// --- the tile ---------------------------------------------------------------------------------

SlotTile::SlotTile(int number, const QString& name, QWidget* parent)
    : QWidget(parent),
      title_(new QLabel(QString::number(number) + QStringLiteral("  ") + name, this)),
      state_(new QLabel(this)),
      cause_(new QLabel(this)),
      progress_(new QProgressBar(this)),
      takeOff_(new QLabel(QStringLiteral("снимите прибор"), this)) {
  setObjectName(QStringLiteral("slot%1").arg(number));
  title_->setObjectName(QStringLiteral("title"));
  state_->setObjectName(QStringLiteral("state"));
  cause_->setObjectName(QStringLiteral("cause"));
  progress_->setObjectName(QStringLiteral("progress"));
  takeOff_->setObjectName(QStringLiteral("takeOff"));
  title_->setFont(Sized(18, true));
  state_->setFont(Sized(30, true));
  cause_->setFont(Sized(14, false));
  takeOff_->setFont(Sized(20, true));
  progress_->setFont(Sized(14, false));
  progress_->setRange(0, 100);
  progress_->setMinimumHeight(32);
  cause_->setWordWrap(true);
  for (QLabel* label : {title_, state_, cause_, takeOff_}) label->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addStretch();
  layout->addWidget(state_);
  layout->addWidget(progress_);
  layout->addWidget(cause_);
  layout->addWidget(takeOff_);
  layout->addStretch();
  setMinimumSize(280, 200);
  setAutoFillBackground(true);
  SlotStatus waiting;
  waiting.slot = number;
  Show(waiting);
}

void SlotTile::Paint(const QColor& background) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, background);
  const QColor text = background == kGrey ? QColor(Qt::black) : QColor(Qt::white);
  palette.setColor(QPalette::WindowText, text);
  setPalette(palette);
}

void SlotTile::Show(const SlotStatus& status) {
  progress_->setVisible(status.state == SlotState::Programming);
  cause_->setVisible(status.state == SlotState::Failed);
  takeOff_->setVisible(status.state == SlotState::Passed || status.state == SlotState::Failed);
  switch (status.state) {
    case SlotState::Waiting:
    case SlotState::Removed:
      Paint(kGrey);
      state_->setText(QStringLiteral("ждёт прибор"));
      break;
    case SlotState::Programming:
      Paint(kBlue);
      if (state_->text() != QStringLiteral("сектор %1 (%2 из %3)")
                                .arg(status.sector)
                                .arg(status.sectorIndex)
                                .arg(status.sectors)) {
        progress_->setValue(0);
      }
      state_->setText(QStringLiteral("сектор %1 (%2 из %3)")
                          .arg(status.sector)
                          .arg(status.sectorIndex)
                          .arg(status.sectors));
      break;
    case SlotState::Passed:
      Paint(kGreen);
      state_->setText(QStringLiteral("ГОТОВО"));
      break;
    case SlotState::Failed:
      if (status.exit == kExitStopped) {
        Paint(kAmber);
        state_->setText(QStringLiteral("ОСТАНОВЛЕН"));
      } else {
        Paint(kRed);
        state_->setText(QStringLiteral("БРАК"));
      }
      cause_->setText(Utf8(status.cause));
      break;
  }
}

void SlotTile::Progress(int percent) { progress_->setValue(percent); }

void SlotTile::Stopped() {
  if (Colour() != kGrey && Colour() != kBlue) return;  // a verdict stays shown
  Paint(kGrey);
  progress_->hide();
  state_->setText(QStringLiteral("остановлено"));
}

QColor SlotTile::Colour() const { return palette().color(QPalette::Window); }

// --- the engine's report ----------------------------------------------------------------------

// Called from the slots' threads: everything is copied and posted to the window's thread, and
// nothing of the window is touched here.
class StationWindow::WindowReport final : public station::Report {
 public:
  explicit WindowReport(StationWindow* window) : window_(window) {}

  void SlotChanged(const SlotStatus& status) override {
    Post([status](StationWindow& w) { w.OnSlotChanged(status); });
  }
  void SlotLog(int slot, std::string_view line) override {
    Post([slot, text = Utf8(line)](StationWindow& w) { w.AppendLog(slot, text); });
  }
  void SlotMessage(int slot, std::string_view caption, std::string_view text) override {
    Post([slot, text = Utf8(caption) + QStringLiteral(": ") + Utf8(text)](StationWindow& w) {
      w.AppendLog(slot, text);
    });
  }
  void SlotProgress(int slot, int percent, std::size_t, std::size_t, bool) override {
    Post([slot, percent](StationWindow& w) {
      if (SlotTile* tile = w.Tile(slot)) tile->Progress(percent);
    });
  }
  void SlotNote(int slot, std::string_view text) override {
    Post([slot, text = Utf8(text)](StationWindow& w) { w.AppendLog(slot, text); });
  }
  void UnitEnded(const station::UnitRecord& record, const json&) override {
    QString line = QStringLiteral("прибор %1: ").arg(record.unit);
    if (record.exit == 0) {
      line += QStringLiteral("ГОТОВО");
    } else if (record.exit == kExitStopped) {
      line += QStringLiteral("ОСТАНОВЛЕН: ") + Utf8(record.ended);
    } else {
      line += QStringLiteral("БРАК: ") + Utf8(record.ended);
    }
    line += QStringLiteral(", %1 с").arg(record.seconds, 0, 'f', 1);
    Post([slot = record.slot, exit = record.exit, line](StationWindow& w) {
      w.AppendLog(slot, line);
      w.OnUnitEnded(slot, exit);
    });
  }

 private:
  template <typename F>
  void Post(F action) {
    // Dropped by Qt if the window is gone by then.
    QMetaObject::invokeMethod(
        window_, [window = window_, action = std::move(action)] { action(*window); },
        Qt::QueuedConnection);
  }

  StationWindow* window_;
};

// --- the window -------------------------------------------------------------------------------

StationWindow::StationWindow(Setup setup)
    : setup_(std::move(setup)), report_(std::make_unique<WindowReport>(this)) {
  setup_.options.audit = setup_.audit;
  setObjectName(QStringLiteral("StationWindow"));
  setWindowTitle(Caption());
  setFont(DesignFont());
  BuildMenu();
  BuildControls();
  endPoll_ = new QTimer(this);
  endPoll_->setInterval(kEndPoll);
  connect(endPoll_, &QTimer::timeout, this, &StationWindow::CheckEnded);
  ShowJob();
  UpdateCommands();
  resize(1200, 800);
}

StationWindow::~StationWindow() {
  if (station_) {
    station_->Stop();
    station_.reset();  // joins every slot
  }
}

void StationWindow::BuildMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  openAction_ =
      file->addAction(QStringLiteral("&Открыть задание..."), this, &StationWindow::ChooseJob);
  openAction_->setObjectName(QStringLiteral("openJob"));
  openAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Выход"), this, &QWidget::close);
  quit->setObjectName(QStringLiteral("quit"));
}

void StationWindow::BuildControls() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);

  jobPath_ = new QLabel(central);
  jobPath_->setObjectName(QStringLiteral("jobPath"));
  jobPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(jobPath_);

  sectors_ = new QTableWidget(0, 3, central);
  sectors_->setObjectName(QStringLiteral("sectors"));
  sectors_->setHorizontalHeaderLabels(
      {QStringLiteral("Сектор"), QStringLiteral("Файл"), QStringLiteral("SHA-256")});
  sectors_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sectors_->verticalHeader()->hide();
  sectors_->horizontalHeader()->setStretchLastSection(true);
  sectors_->setMaximumHeight(120);

  auto* commands = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("&Старт (F5)"), central);
  start_->setObjectName(QStringLiteral("start"));
  stop_ = new QPushButton(QStringLiteral("С&топ (F6)"), central);
  stop_->setObjectName(QStringLiteral("stop"));
  for (QPushButton* button : {start_, stop_}) {
    button->setFont(Sized(16, true));
    button->setMinimumHeight(48);
  }
  connect(start_, &QPushButton::clicked, this, [this] { StartStation(); });
  connect(stop_, &QPushButton::clicked, this, &StationWindow::StopStation);
  auto* startKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(startKey, &QShortcut::activated, start_, &QPushButton::click);
  auto* stopKey = new QShortcut(QKeySequence(Qt::Key_F6), this);
  connect(stopKey, &QShortcut::activated, stop_, &QPushButton::click);
  commands->addWidget(start_);
  commands->addWidget(stop_);
  commands->addSpacing(24);
  passed_ = new QLabel(central);
  passed_->setObjectName(QStringLiteral("passed"));
  failed_ = new QLabel(central);
  failed_->setObjectName(QStringLiteral("failed"));
  total_ = new QLabel(central);
  total_->setObjectName(QStringLiteral("total"));
  for (QLabel* count : {passed_, failed_, total_}) {
    count->setFont(Sized(20, true));
    commands->addWidget(count);
    commands->addSpacing(16);
  }
  commands->addStretch();

  auto* top = new QHBoxLayout;
  top->addWidget(sectors_, 1);
  layout->addLayout(top);
  layout->addLayout(commands);

  tilesArea_ = new QWidget(central);
  tilesLayout_ = new QGridLayout(tilesArea_);

  log_ = new QPlainTextEdit(central);
  log_->setObjectName(QStringLiteral("log"));
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(10000);

  auto* split = new QSplitter(Qt::Vertical, central);
  split->addWidget(tilesArea_);
  split->addWidget(log_);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  layout->addWidget(split, 1);
  setCentralWidget(central);
  ShowCounts();
}

void StationWindow::ShowJob() {
  sectors_->setRowCount(0);
  if (!job_) {
    jobPath_->setText(QStringLiteral("Задание не открыто (Файл → Открыть задание)"));
    return;
  }
  QString slots;
  for (const std::string& slot : job_->slots) {
    if (!slots.isEmpty()) slots += QStringLiteral(", ");
    slots += Utf8(slot);
  }
  jobPath_->setText(QStringLiteral("Задание: %1    Гнёзда: %2")
                        .arg(QDir::toNativeSeparators(Utf8(job_->path)),
                             slots.isEmpty() ? QStringLiteral("не указаны") : slots));
  sectors_->setRowCount(static_cast<int>(job_->sectors.size()));
  int row = 0;
  for (const station::JobSector& sector : job_->sectors) {
    const QString cells[] = {QString::number(sector.number),
                             QFileInfo(Utf8(sector.file)).fileName(),
                             Utf8(sector.sha256).left(kShownHashDigits)};
    for (int column = 0; column < 3; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      item->setFlags(item->flags() & ~Qt::ItemIsEditable);
      if (column == 1) item->setToolTip(QDir::toNativeSeparators(Utf8(sector.file)));
      sectors_->setItem(row, column, item);
    }
    ++row;
  }
  sectors_->resizeColumnsToContents();
}

bool StationWindow::OpenJob(const QString& path) {
  if (Running()) return false;
  station::Job job;
  std::string error;
  if (!station::LoadJob(path.toStdString(), &job, &error)) {
    setup_.dialogs->MessageBox(QStringLiteral("Задание не открыто:\n") + Utf8(error), Caption(),
                               kMbIconError);
    return false;
  }
  job_ = std::move(job);
  ShowJob();
  AppendLog(0, QStringLiteral("Открыто задание ") + QDir::toNativeSeparators(path));
  UpdateCommands();
  return true;
}

void StationWindow::ChooseJob() {
  if (Running()) return;
  const QString folder = job_ ? QFileInfo(Utf8(job_->path)).absolutePath() : QString();
  const QString path =
      setup_.dialogs->ChooseFile(this, folder, QStringLiteral("Задания (*.toml);;Все файлы (*)"));
  if (!path.isEmpty()) OpenJob(path);
}

bool StationWindow::StartStation() {
  if (Running() || endPoll_->isActive()) return false;
  if (!job_) {
    setup_.dialogs->MessageBox(QStringLiteral("Сначала откройте задание (Файл → Открыть задание)."),
                               Caption(), kMbIconError);
    return false;
  }
  std::vector<station::SlotSpec> slots;
  std::string error;
  if (!setup_.slots(*job_, &slots, &error)) {
    setup_.dialogs->MessageBox(Utf8(error), Caption(), kMbIconError);
    return false;
  }
  if (const std::string problem = station::SlotSpecProblem(slots); !problem.empty()) {
    setup_.dialogs->MessageBox(QStringLiteral("Гнёзда станции не годятся:\n") + Utf8(problem),
                               Caption(), kMbIconError);
    return false;
  }
  MakeTiles(slots);
  counts_ = {};
  ShowCounts();
  AppendLog(0, QStringLiteral("Старт"));
  station_ = std::make_unique<station::Station>(*job_, std::move(slots), *report_, setup_.options);
  station_->Start();
  UpdateCommands();
  return true;
}

void StationWindow::StopStation() {
  if (!station_ || endPoll_->isActive()) return;
  AppendLog(0, QStringLiteral("Стоп"));
  station_->Stop();
  endPoll_->start();
  UpdateCommands();
}

void StationWindow::CheckEnded() {
  if (!station_ || !station_->WaitUntil(std::chrono::steady_clock::now())) return;
  endPoll_->stop();
  const int code = station_->Wait();
  station_.reset();  // every slot joined: nothing more is posted
  // What the slots posted before they ended is shown first.
  QMetaObject::invokeMethod(
      this,
      [this, code] {
        for (SlotTile* tile : tiles_) tile->Stopped();
        AppendLog(0, QStringLiteral("Станция остановлена, код %1").arg(code));
        UpdateCommands();
        if (closeWhenEnded_) close();
      },
      Qt::QueuedConnection);
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!Running()) {
    event->accept();
    return;
  }
  // A unit being programmed is stopped and records its stop; the window closes after.
  closeWhenEnded_ = true;
  StopStation();
  event->ignore();
}

void StationWindow::MakeTiles(const std::vector<station::SlotSpec>& slots) {
  for (SlotTile* tile : tiles_) delete tile;
  tiles_.clear();
  slotNames_.clear();
  int number = 1;
  for (const station::SlotSpec& slot : slots) {
    slotNames_.push_back(Utf8(slot.name));
    auto* tile = new SlotTile(number, Utf8(slot.name), tilesArea_);
    tilesLayout_->addWidget(tile, (number - 1) / kTilesPerRow, (number - 1) % kTilesPerRow);
    tiles_.push_back(tile);
    ++number;
  }
}

SlotTile* StationWindow::Tile(int slot) {
  if (slot < 1 || static_cast<std::size_t>(slot) > tiles_.size()) return nullptr;
  return tiles_[static_cast<std::size_t>(slot) - 1];
}

void StationWindow::ShowCounts() {
  passed_->setText(QStringLiteral("годных %1").arg(counts_.passed));
  failed_->setText(QStringLiteral("брак %1").arg(counts_.failed));
  total_->setText(QStringLiteral("всего %1").arg(counts_.passed + counts_.failed));
}

void StationWindow::UpdateCommands() {
  const bool running = Running();
  const bool stopping = endPoll_ != nullptr && endPoll_->isActive();
  openAction_->setEnabled(!running);
  start_->setEnabled(!running && job_.has_value());
  stop_->setEnabled(running && !stopping);
}

void StationWindow::AppendLog(int slot, const QString& text) {
  QString prefix;
  if (slot >= 1 && static_cast<std::size_t>(slot) <= slotNames_.size()) {
    prefix =
        QStringLiteral("%1 %2: ").arg(slot).arg(slotNames_[static_cast<std::size_t>(slot) - 1]);
  }
  for (const QString& line : text.split(QLatin1Char('\n'))) log_->appendPlainText(prefix + line);
}

void StationWindow::OnSlotChanged(const SlotStatus& status) {
  if (SlotTile* tile = Tile(status.slot)) tile->Show(status);
}

void StationWindow::OnUnitEnded(int, int exit) {
  if (exit == 0) {
    ++counts_.passed;
  } else {
    ++counts_.failed;
  }
  ShowCounts();
}

}  // namespace quorvex
