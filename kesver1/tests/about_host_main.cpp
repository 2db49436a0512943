// A foreign caller of KESVER1.dll that has no Qt application object of its
// own: it loads the library by file name and binds the exports by name.
//
//   kesver1_about_host parts
//       prints the file and product version parts and the dotted text of a
//       freshly loaded library, before any read.
//   kesver1_about_host about <folder> <file name> [times]
//       calls ABOUT_FILE (owner 0) `times` times; each time, once the dialog
//       is up and filled, prints its caption and boxes and clicks OK. Prints
//       whether a Qt application object is left afterwards.
//   kesver1_about_host screenshot <folder> <file name> <png>
//       as "about" once, but first saves a screenshot of the dialog's area of
//       the screen (used under Xvfb by kesver1/screenshot.sh).
#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "kesver1/kesver1.h"
#include "platform/dynamic_library.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Exports {
    decltype(&EXTRACTVERSIONINFO) extract = nullptr;
    decltype(&GET_FILEVERSION) fileVersion = nullptr;
    decltype(&GET_PRODUCTVERSION) productVersion = nullptr;
    decltype(&GET_RETURNVERSION) returnVersion = nullptr;
    decltype(&ABOUT_FILE) aboutFile = nullptr;
    decltype(&SysAllocStringByteLen) alloc = nullptr;
    decltype(&SysFreeString) release = nullptr;
};

Kesver1String make(const Exports& e, const std::string& text) {
    return e.alloc(text.data(), static_cast<unsigned>(text.size()));
}

void printParts(const Exports& e, const char* label, decltype(&GET_FILEVERSION) get) {
    Kesver1String parts[4] = {};
    const int result = get(&parts[0], &parts[1], &parts[2], &parts[3]);
    std::printf("%s %d %s %s %s %s\n", label, result, parts[0], parts[1], parts[2], parts[3]);
    for (Kesver1String part : parts) e.release(part);
}

QWidget* filledDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() != "KESVER1_FRMABOUT" || !widget->isVisible()) continue;
        const auto* name = widget->findChild<QLineEdit*>("txtFileName");
        if (name && !name->text().isEmpty()) return widget;
    }
    return nullptr;
}

// Where "screenshot" saves its picture; empty for the other commands.
std::string screenshotPath;

bool saveScreenshot(QWidget* dialog) {
    const QRect frame = dialog->frameGeometry();
    QPixmap picture =
        dialog->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (picture.isNull()) picture = dialog->grab();
    return picture.save(QString::fromStdString(screenshotPath), "PNG");
}

// Runs inside the library's modal loop: reports the dialog and clicks OK.
void closeDialogWhenUp(Clock::time_point deadline) {
    QWidget* dialog = filledDialog();
    if (!dialog) {
        if (Clock::now() > deadline) {
            std::printf("no dialog\n");
            std::fflush(stdout);
            std::_Exit(3);
        }
        QTimer::singleShot(10, [deadline] { closeDialogWhenUp(deadline); });
        return;
    }
    std::printf("caption %s\n", qPrintable(dialog->windowTitle()));
    for (const char* name :
         {"txtFileName", "txtFileLocation", "txtCompanyName", "txtCopyright", "txtLegalTradeMarks",
          "txtFileVersion", "txtProductVersion", "txtInternalName", "txtOriginalName"}) {
        std::printf("%s=%s\n", name, qPrintable(dialog->findChild<QLineEdit*>(name)->text()));
    }
    std::printf("txtComments=%s\n",
                qPrintable(dialog->findChild<QPlainTextEdit*>("txtComments")->toPlainText()));
    std::fflush(stdout);
    if (!screenshotPath.empty()) {
        // Give the window system time to map and paint the window first.
        QTimer::singleShot(500, dialog, [dialog] {
            if (!saveScreenshot(dialog)) std::fprintf(stderr, "cannot save the screenshot\n");
            dialog->findChild<QPushButton*>("cmdOK")->click();
        });
        return;
    }
    dialog->findChild<QPushButton*>("cmdOK")->click();
}

int about(const Exports& e, const std::string& folder, const std::string& file, int times) {
    QObject anchor;  // lives on this thread; its queued calls wait for an event loop
    for (int i = 0; i < times; ++i) {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        QMetaObject::invokeMethod(
            &anchor, [deadline] { closeDialogWhenUp(deadline); }, Qt::QueuedConnection);
        Kesver1String folderText = make(e, folder);
        Kesver1String fileText = make(e, file);
        e.aboutFile(0, folderText, fileText);
        e.release(folderText);
        e.release(fileText);
        std::printf("returned %d application %s\n", i + 1,
                    QCoreApplication::instance() ? "left" : "gone");
        printParts(e, "file", e.fileVersion);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto library = tavrel::platform::DynamicLibrary::open("KESVER1.dll", &error);
    if (!library) {
        std::fprintf(stderr, "cannot load KESVER1.dll: %s\n", error.c_str());
        return 2;
    }
    Exports e;
    e.extract = library->function<decltype(e.extract)>("EXTRACTVERSIONINFO");
    e.fileVersion = library->function<decltype(e.fileVersion)>("GET_FILEVERSION");
    e.productVersion = library->function<decltype(e.productVersion)>("GET_PRODUCTVERSION");
    e.returnVersion = library->function<decltype(e.returnVersion)>("GET_RETURNVERSION");
    e.aboutFile = library->function<decltype(e.aboutFile)>("ABOUT_FILE");
    e.alloc = library->function<decltype(e.alloc)>("SysAllocStringByteLen");
    e.release = library->function<decltype(e.release)>("SysFreeString");
    if (!e.extract || !e.fileVersion || !e.productVersion || !e.returnVersion || !e.aboutFile ||
        !e.alloc || !e.release) {
        std::fprintf(stderr, "missing export\n");
        return 2;
    }
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "parts") {
        printParts(e, "file", e.fileVersion);
        printParts(e, "product", e.productVersion);
        Kesver1String text = nullptr;
        const int result = e.returnVersion(KESVER1_FILE_VERSION | 15, &text);
        std::printf("dotted %d %s\n", result, text ? text : "(none)");
        e.release(text);
        return 0;
    }
    if (command == "about" && argc >= 4) {
        return about(e, argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 1);
    }
    if (command == "screenshot" && argc == 5) {
        screenshotPath = argv[4];
        return about(e, argv[2], argv[3], 1);
    }
    std::fprintf(stderr,
                 "usage: %s parts | about <folder> <file name> [times]"
                 " | screenshot <folder> <file name> <png>\n",
                 argv[0]);
    return 2;
}
