// The About File call: reads a file into the current record and shows the
// dialog for it modally, with or without a Qt application in the process.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel::kesver1 {

// Clears the current record, reads `fileName` in `folder` into it and, when the
// file has a version resource, shows the About File dialog until it is closed.
// `owner` is the native handle (QWidget::winId) of a window to disable while
// the dialog is open, or 0; a handle that names no widget of this process is
// ignored. Without a QApplication one is made for the dialog's life; with a
// QCoreApplication only, from another thread than the application's, or with no
// display to show on, the record is read but no dialog is shown.
void showAboutFile(intptr_t owner, const std::string& folder, const std::string& fileName);

}  // namespace tavrel::kesver1
