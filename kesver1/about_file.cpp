#include "kesver1/about_file.h"

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <memory>

#include "kesver1/frm_about.h"
#include "kesver1/version_record.h"
#include "platform/display.h"

namespace tavrel::kesver1 {

namespace {

// The application for the dialog: the caller's, or a new one owned by
// `owned`; null when widgets cannot be shown from here.
QApplication* dialogApplication(std::unique_ptr<QApplication>& owned) {
    if (QCoreApplication* existing = QCoreApplication::instance()) {
        auto* application = qobject_cast<QApplication*>(existing);
        if (!application || QThread::currentThread() != application->thread()) return nullptr;
        return application;
    }
    // Making a QApplication without a display ends the process inside Qt,
    // which would take the calling program with it; refuse instead.
    if (!platform::displayAvailable()) return nullptr;
    static int argc = 1;
    static char name[] = "KESVER1";
    static char* argv[] = {name, nullptr};
    owned = std::make_unique<QApplication>(argc, argv);
    return owned.get();
}

void runDialog(intptr_t owner) {
    std::unique_ptr<QApplication> ownApplication;
    if (!dialogApplication(ownApplication)) return;
    QPointer<QWidget> ownerWidget = owner ? QWidget::find(static_cast<WId>(owner)) : nullptr;

    FrmAbout dialog([] { return CurrentRecord::get(); });
    // Closing the dialog must never end the calling program's application.
    dialog.setAttribute(Qt::WA_QuitOnClose, false);
    if (ownerWidget) {
        dialog.winId();
        if (QWindow* ownerWindow = ownerWidget->window()->windowHandle()) {
            dialog.windowHandle()->setTransientParent(ownerWindow);
        }
        ownerWidget->setEnabled(false);
    }
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec();
    if (ownerWidget) {
        ownerWidget->setEnabled(true);
        ownerWidget->activateWindow();
    }
}

}  // namespace

void showAboutFile(intptr_t owner, const std::string& folder, const std::string& fileName) {
    CurrentRecord::clear();
    VersionRecord record;
    if (!extractVersionInfo(joinFolder(folder, fileName), record)) return;
    record.fileName = cutText(fileName);
    record.fileFolder = cutText(folder);
    CurrentRecord::set(std::move(record));
    runDialog(owner);
}

}  // namespace tavrel::kesver1
