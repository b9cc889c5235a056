#include "Screenshots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QTreeView>
#include <functional>

#include "About.h"
#include "Baseprog.h"

namespace quorvex {
namespace {

void Save(QWidget& widget, const QString& folder, const char* name) {
  widget.grab().save(QDir(folder).filePath(QString::fromLatin1(name)));
}

// Lets the event loop run for a while: the file dialog lists its folder in the background.
void Settle(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// Once the message box is up, saves it and answers No.
void SaveQuestionThenDecline(const QString& folder) {
  auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
  if (box == nullptr) {
    QTimer::singleShot(50, qApp, [folder] { SaveQuestionThenDecline(folder); });
    return;
  }
  QTimer::singleShot(200, box, [box, folder] {
    Save(*box, folder, "overwrite-question.png");
    box->button(QMessageBox::No)->click();
  });
}

}  // namespace

void TakeScreenshots(TForm1& window, const QString& folder, const QString& demoFile) {
  if (!demoFile.isEmpty()) {
    window.OpenFirmwareFile(demoFile);
    window.ButtonStartClick();
  }
  Save(window, folder, "main-window.png");

  // The dialog of Файл → Открыть, as the operator sees it (Qt's own, as on a desk without a
  // platform dialog).
  {
    QFileDialog dialog(&window, QString(), window.InitialFolder(),
                       QStringLiteral("Прошивки секторов flash (*.fls)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.resize(760, 420);  // wide enough for every column
    dialog.show();
    Settle(500);
    if (!demoFile.isEmpty()) dialog.selectFile(QFileInfo(demoFile).fileName());
    Settle(200);
    if (auto* view = dialog.findChild<QTreeView*>()) {
      for (int column = 0; column < view->model()->columnCount(view->rootIndex()); ++column) {
        view->resizeColumnToContents(column);
      }
    }
    Save(dialog, folder, "file-dialog.png");
    dialog.close();
  }

  // The sector now holds the demo firmware: a second run asks before overwriting it.
  if (!demoFile.isEmpty()) {
    QTimer::singleShot(0, qApp, [folder] { SaveQuestionThenDecline(folder); });
    window.ButtonStartClick();
  }

  TForm3 about(&window);
  about.show();
  QCoreApplication::processEvents();
  Save(about, folder, "about-window.png");
  about.close();
  window.close();
}

}  // namespace quorvex
