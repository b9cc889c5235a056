#pragma once

#include <QString>

namespace quorvex {

class TForm1;

// Saves the pictures of the README in `folder`: the main window after programming `demoFile`
// (when given) into sector 1, the file dialog in that file's folder, the question before a
// written sector is overwritten, and the About window. Closes the window at the end.
void TakeScreenshots(TForm1& window, const QString& folder, const QString& demoFile);

}  // namespace quorvex
