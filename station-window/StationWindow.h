#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AuditLog.h"
#include "Job.h"
#include "Station.h"

class QAction;
class QFrame;
class QGridLayout;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace quorvex {

class OperatorDialogs;

// The slots a job runs on: false with *error set (for the operator, in Russian) when there
// are none to run on.
using SlotSource = std::function<bool(const station::Job& job,
                                      std::vector<station::SlotSpec>* slots, std::string* error)>;

// The job's own slots, each shown by its port's name (ttyUSB0), usb: and usb-path: as written.
bool JobSlots(const station::Job& job, std::vector<station::SlotSpec>* slots, std::string* error);

// One slot as it is seen from across the room: its number and port, what it is doing in large
// letters on the colour of its state, the sector's transfer, and what the operator has to do.
class SlotTile final : public QWidget {
 public:
  SlotTile(int number, const QString& name, QWidget* parent);

  void Show(const station::SlotStatus& status);
  void Progress(int percent);
  // The station has stopped: a slot that was waiting now does nothing.
  void Stopped();

  // The colour behind the tile: grey waiting, blue programming, green passed, red failed,
  // amber when the unit was stopped.
  [[nodiscard]] QColor Colour() const;

 private:
  void Paint(const QColor& background);

  QLabel* title_;
  QLabel* state_;
  QLabel* cause_;
  QProgressBar* progress_;
  QLabel* takeOff_;
};

// quorvex-station: the window of a production line's station. It opens a job, starts the
// engine on the job's slots and shows each slot as a tile, the counts since the start and the
// log. The engine runs on threads of its own; the window only shows what it reports.
class StationWindow final : public QMainWindow {
 public:
  struct Setup {
    OperatorDialogs* dialogs = nullptr;  // every message box and the file dialog; required
    std::shared_ptr<AuditLog> audit;     // the --log-file record; none: no record
    SlotSource slots = JobSlots;
    station::StationOptions options;  // its audit is the one above
  };

  explicit StationWindow(Setup setup);
  ~StationWindow() override;  // stops the station and waits for it
  StationWindow(const StationWindow&) = delete;
  StationWindow& operator=(const StationWindow&) = delete;

  // Reads the job; a job that cannot be read is said in a message box with its line, and the
  // job shown before stays. False then, or while the station runs.
  bool OpenJob(const QString& path);
  // «Файл → Открыть задание»: the file dialog, then OpenJob.
  void ChooseJob();
  // «Старт»: a station on the job's slots; false with a message box when it cannot start.
  bool StartStation();
  // «Стоп»: units being programmed stop at their next step; the window waits for the engine
  // without blocking, and the station is over once Running() is false.
  void StopStation();
  [[nodiscard]] bool Running() const { return station_ != nullptr; }
  [[nodiscard]] const station::Counts& Counts() const { return counts_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class WindowReport;

  void BuildMenu();
  void BuildControls();
  void ShowJob();
  void MakeTiles(const std::vector<station::SlotSpec>& slots);
  void ShowCounts();
  void UpdateCommands();
  void AppendLog(int slot, const QString& text);
  SlotTile* Tile(int slot);
  // Polled while a stop is under way: once the engine has ended, it is let go.
  void CheckEnded();

  // What the report posts, run on the window's thread.
  void OnSlotChanged(const station::SlotStatus& status);
  void OnUnitEnded(int slot, int exit);

  Setup setup_;
  std::optional<station::Job> job_;
  std::unique_ptr<WindowReport> report_;
  std::unique_ptr<station::Station> station_;
  station::Counts counts_;
  std::vector<QString> slotNames_;
  bool closeWhenEnded_ = false;

  QAction* openAction_ = nullptr;
  QLabel* jobPath_ = nullptr;
  QTableWidget* sectors_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QLabel* passed_ = nullptr;
  QLabel* failed_ = nullptr;
  QLabel* total_ = nullptr;
  QWidget* tilesArea_ = nullptr;
  QGridLayout* tilesLayout_ = nullptr;
  std::vector<SlotTile*> tiles_;
  QPlainTextEdit* log_ = nullptr;
  QTimer* endPoll_ = nullptr;
};

}  // namespace quorvex
