// The About File dialog: its layout, the posted fill event, and ABOUT_FILE
// called through the loaded library with and without an owner window, and from
// a program that has no Qt application object.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "kesver1/frm_about.h"
#include "kesver1/kesver1.h"
#include "kesver1/tests/pe_writer.h"
#include "platform/dynamic_library.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kesver1 {
namespace {

using test::buildPe;
using test::buildVersionResource;
using test::PeSpec;
using test::typicalVersion;

const char* const kBoxNames[] = {"txtFileName",       "txtFileLocation",    "txtCompanyName",
                                 "txtCopyright",      "txtLegalTradeMarks", "txtFileVersion",
                                 "txtProductVersion", "txtInternalName",    "txtOriginalName",
                                 "txtComments"};

QString boxText(const QWidget& dialog, const char* name) {
    if (const auto* line = dialog.findChild<QLineEdit*>(name)) return line->text();
    if (const auto* text = dialog.findChild<QPlainTextEdit*>(name)) return text->toPlainText();
    return "<no box " + QString(name) + ">";
}

VersionRecord sampleRecord() {
    VersionRecord r;
    r.fileName = "APP.EXE";
    r.fileFolder = "/opt/app";
    r.companyName = "Tavrel Software Ltd";
    r.legalCopyright = "Copyright \xA9 2026";
    r.legalTrademarks = "Tavrel\x99";
    r.fileVersionText = "1.0.6.1006";
    r.productVersionText = "2.3.4.5005";
    r.internalName = "APP";
    r.originalFilename = "APP.EXE";
    r.comments = "First line";
    return r;
}

TEST(FrmAbout, WindowLayoutAndFont) {
    FrmAbout dialog([] { return VersionRecord{}; });
    EXPECT_EQ(dialog.objectName(), "KESVER1_FRMABOUT");
    EXPECT_EQ(dialog.windowTitle(), "About File");
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.size(), QSize(462, 305));
    EXPECT_EQ(dialog.font().family(), "MS Sans Serif");
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_EQ(dialog.font().weight(), QFont::Normal);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dialog.pos(), screen.center() - QPoint(468 / 2, 333 / 2));

    const char* const labels[] = {
        "File Name:",        "File Location:", "Company Name:",    "Copyright:",
        "Legal TradeMarks:", "File Version:",  "Product Version:", "Internal Name:",
        "Original Name:",    "Comments:"};
    const auto labelWidgets = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labelWidgets.size(), 10);
    for (int i = 0; i < 10; ++i) {
        const int y = 12 + 20 * i;
        const QLabel* label = labelWidgets[i];
        EXPECT_EQ(label->text(), labels[i]);
        EXPECT_EQ(label->geometry(), QRect(7, y, 95, 16)) << labels[i];
        const auto* box = dialog.findChild<QWidget*>(kBoxNames[i]);
        ASSERT_TRUE(box) << kBoxNames[i];
        EXPECT_EQ(box->geometry(), QRect(108, y, 348, i == 9 ? 61 : 16)) << kBoxNames[i];
        EXPECT_EQ(box->font().pointSize(), 8);
    }
    for (const auto* line : dialog.findChildren<QLineEdit*>()) EXPECT_TRUE(line->isReadOnly());
    EXPECT_TRUE(dialog.findChild<QPlainTextEdit*>("txtComments")->isReadOnly());
    const auto* ok = dialog.findChild<QPushButton*>("cmdOK");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(ok->geometry(), QRect(180, 264, 80, 28));
}

TEST(FrmAbout, BoxesAreFilledByThePostedEventFromTheRecordOfThatMoment) {
    VersionRecord record;
    FrmAbout dialog([&record] { return record; });
    for (const char* name : kBoxNames) EXPECT_EQ(boxText(dialog, name), "") << name;
    record = sampleRecord();  // read when the event arrives, not at creation
    QCoreApplication::sendPostedEvents(&dialog, FrmAbout::kFillEvent);
    const QString expected[] = {
        "APP.EXE",      "/opt/app",   "Tavrel Software Ltd", "Copyright \u00A9 2026",
        "Tavrel\u2122", "1.0.6.1006", "2.3.4.5005",          "APP",
        "APP.EXE",      "First line"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(boxText(dialog, kBoxNames[i]), expected[i]);
}

// What a test saw of the dialog while ABOUT_FILE was running.
struct Seen {
    bool dialog = false;
    bool ownerEnabled = true;
    bool otherEnabled = true;
    QString caption;
    std::map<std::string, QString> boxes;
};

struct Probe {
    Seen seen;
    QPointer<QWidget> owner;
    QPointer<QWidget> other;
    std::function<void(QWidget*)> close;
    std::chrono::steady_clock::time_point deadline;
    bool stopped = false;
};

QWidget* filledDialog();

// Runs in the dialog's modal loop until the dialog is up, or the call returned.
void probeOnce(const std::shared_ptr<Probe>& probe) {
    if (probe->stopped) return;
    QWidget* dialog = filledDialog();
    if (!dialog) {
        if (std::chrono::steady_clock::now() < probe->deadline) {
            QTimer::singleShot(5, [probe] { probeOnce(probe); });
        }
        return;
    }
    Seen& seen = probe->seen;
    seen.dialog = true;
    seen.ownerEnabled = probe->owner ? probe->owner->isEnabled() : true;
    seen.otherEnabled = probe->other ? probe->other->isEnabled() : true;
    seen.caption = dialog->windowTitle();
    for (const char* box : kBoxNames) seen.boxes[box] = boxText(*dialog, box);
    probe->close(dialog);
}

QWidget* filledDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "KESVER1_FRMABOUT" && widget->isVisible() &&
            !boxText(*widget, "txtFileName").isEmpty()) {
            return widget;
        }
    }
    return nullptr;
}

class AboutFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        m_library = platform::DynamicLibrary::open("KESVER1.dll", &error);
        ASSERT_TRUE(m_library) << error;
        m_aboutFile = m_library->function<decltype(&ABOUT_FILE)>("ABOUT_FILE");
        m_fileVersion = m_library->function<decltype(&GET_FILEVERSION)>("GET_FILEVERSION");
        m_alloc = m_library->function<decltype(&SysAllocStringByteLen)>("SysAllocStringByteLen");
        m_release = m_library->function<decltype(&SysFreeString)>("SysFreeString");
        ASSERT_TRUE(m_aboutFile && m_fileVersion && m_alloc && m_release);
        test::VersionSpec def = typicalVersion();
        def.stringTables[0].values[0].value = std::u16string(300, u'c');  // Comments
        PeSpec pe;
        pe.versionLanguages = {{0x0409, buildVersionResource(def)}};
        test::writeBytes(m_folder / "App.exe", buildPe(pe).bytes);
    }

    // Calls ABOUT_FILE; once the dialog is up and filled, records what it
    // shows and the owner's state, then runs `close` on it (default: click OK).
    Seen aboutFile(WId owner, const std::string& folder, const std::string& name,
                   std::function<void(QWidget*)> close = {}, QWidget* other = nullptr) {
        auto probe = std::make_shared<Probe>();
        probe->owner = owner ? QWidget::find(owner) : nullptr;
        probe->other = other;
        probe->close = close ? close : [](QWidget* dialog) {
            QTest::mouseClick(dialog->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        };
        probe->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        QTimer::singleShot(0, [probe] { probeOnce(probe); });
        Kesver1String folderText = m_alloc(folder.data(), unsigned(folder.size()));
        Kesver1String nameText = m_alloc(name.data(), unsigned(name.size()));
        m_aboutFile(static_cast<intptr_t>(owner), folderText, nameText);
        m_release(folderText);
        m_release(nameText);
        probe->stopped = true;
        return probe->seen;
    }

    std::string fileVersionText() {
        Kesver1String p[4] = {};
        m_fileVersion(&p[0], &p[1], &p[2], &p[3]);
        std::string text = std::string(p[0]) + "." + p[1] + "." + p[2] + "." + p[3];
        for (Kesver1String s : p) m_release(s);
        return text;
    }

    platform::testing::TempFolder m_folder;
    std::unique_ptr<platform::DynamicLibrary> m_library;
    decltype(&ABOUT_FILE) m_aboutFile = nullptr;
    decltype(&GET_FILEVERSION) m_fileVersion = nullptr;
    decltype(&SysAllocStringByteLen) m_alloc = nullptr;
    decltype(&SysFreeString) m_release = nullptr;
};

TEST_F(AboutFileTest, ShowsTheFileAndDisablesTheOwnerOnlyWhileOpen) {
    QWidget owner;
    owner.setWindowTitle("Owner");
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    EXPECT_TRUE(owner.isEnabled());

    const Seen seen = aboutFile(owner.winId(), m_folder.path().string(), "App.exe");
    ASSERT_TRUE(seen.dialog);
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_EQ(seen.caption, "About File");
    const std::map<std::string, QString> expected = {
        {"txtFileName", "App.exe"},
        {"txtFileLocation", QString::fromStdString(m_folder.path().string())},
        {"txtCompanyName", "Tavrel Software Ltd"},
        {"txtCopyright", "Copyright \u00A9 Tavrel 2026"},
        {"txtLegalTradeMarks", "Tavrel\u2122 is a trade mark"},
        {"txtFileVersion", "1.0.6.1006"},
        {"txtProductVersion", "2.3.4.5005"},
        {"txtInternalName", "KESVER1"},
        {"txtOriginalName", "KESVER1.DLL"},
        {"txtComments", QString(259, 'c')}};
    EXPECT_EQ(seen.boxes, expected);

    EXPECT_TRUE(owner.isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &owner; }, 2000));
    EXPECT_EQ(fileVersionText(), "1.0.6.1006");  // the record keeps the shown file
    EXPECT_EQ(filledDialog(), nullptr);
}

TEST_F(AboutFileTest, ClosingTheWindowAlsoGivesTheOwnerBack) {
    QWidget owner;
    owner.show();
    const Seen seen = aboutFile(owner.winId(), m_folder.path().string(), "App.exe",
                                [](QWidget* dialog) { dialog->close(); });
    ASSERT_TRUE(seen.dialog);
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(AboutFileTest, WithoutOwnerNoWindowIsDisabled) {
    QWidget other;
    other.show();
    Seen seen = aboutFile(0, m_folder.path().string(), "App.exe", {}, &other);
    ASSERT_TRUE(seen.dialog);
    EXPECT_TRUE(seen.otherEnabled);
    // A handle that names no window of this program counts as none.
    seen = aboutFile(WId(0x7FFFFFF0), m_folder.path().string(), "App.exe", {}, &other);
    ASSERT_TRUE(seen.dialog);
    EXPECT_TRUE(seen.otherEnabled);
    EXPECT_TRUE(other.isEnabled());
}

TEST_F(AboutFileTest, FolderWithOrWithoutTrailingSeparatorShownAsPassed) {
    const std::string folder = m_folder.path().string();
    Seen seen = aboutFile(0, folder + "/", "App.exe");
    ASSERT_TRUE(seen.dialog);
    EXPECT_EQ(seen.boxes["txtFileLocation"], QString::fromStdString(folder + "/"));
    EXPECT_EQ(seen.boxes["txtFileVersion"], "1.0.6.1006");
    seen = aboutFile(0, folder, "App.exe");
    ASSERT_TRUE(seen.dialog);
    EXPECT_EQ(seen.boxes["txtFileLocation"], QString::fromStdString(folder));
    EXPECT_EQ(seen.boxes["txtFileVersion"], "1.0.6.1006");
}

TEST_F(AboutFileTest, EmptyFolderReadsTheNameFromTheCurrentFolder) {
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(m_folder.path());
    const Seen seen = aboutFile(0, "", "App.exe");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(seen.dialog);
    EXPECT_EQ(seen.boxes.at("txtFileLocation"), "");
    EXPECT_EQ(seen.boxes.at("txtFileName"), "App.exe");
}

TEST_F(AboutFileTest, FileWithoutVersionResourceShowsNothing) {
    PeSpec noVersion;
    test::writeBytes(m_folder / "plain.exe", buildPe(noVersion).bytes);
    QWidget owner;
    owner.show();
    for (const char* name : {"plain.exe", "missing.exe"}) {
        const Seen seen = aboutFile(owner.winId(), m_folder.path().string(), name);
        EXPECT_FALSE(seen.dialog) << name;
        EXPECT_TRUE(owner.isEnabled());
        EXPECT_EQ(fileVersionText(), "0.0.0.0");
    }
}

TEST_F(AboutFileTest, CallFromAnotherThreadReadsTheFileButShowsNoDialog) {
    std::string folder = m_folder.path().string();
    Kesver1String folderText = m_alloc(folder.data(), unsigned(folder.size()));
    Kesver1String nameText = m_alloc("App.exe", 7);
    std::thread caller([&] { m_aboutFile(0, folderText, nameText); });
    caller.join();
    m_release(folderText);
    m_release(nameText);
    QCoreApplication::processEvents();
    EXPECT_EQ(filledDialog(), nullptr);
    EXPECT_EQ(fileVersionText(), "1.0.6.1006");
}

TEST(AboutFileHost, WorksInAProgramWithoutQtApplication) {
    platform::testing::TempFolder folder;
    PeSpec pe;
    pe.versionLanguages = {{0x0409, buildVersionResource(typicalVersion())}};
    test::writeBytes(folder / "App.exe", buildPe(pe).bytes);
    QProcess host;
    // The helper is built beside this test program.
    const QString program = QCoreApplication::applicationDirPath() + "/kesver1_about_host";
    host.start(program, {"about", QString::fromStdString(folder.path().string()), "App.exe", "2"});
    ASSERT_TRUE(host.waitForFinished(60000)) << host.errorString().toStdString();
    const QString output = QString::fromLocal8Bit(host.readAllStandardOutput());
    EXPECT_EQ(host.exitCode(), 0) << host.readAllStandardError().toStdString();
    EXPECT_EQ(output.count("caption About File\n"), 2) << output.toStdString();
    EXPECT_TRUE(output.contains("txtCompanyName=Tavrel Software Ltd\n"));
    EXPECT_TRUE(output.contains("txtFileName=App.exe\n"));
    EXPECT_TRUE(output.contains("returned 1 application gone\nfile 1 1 0 6 1006\n"));
    EXPECT_TRUE(output.contains("returned 2 application gone\nfile 1 1 0 6 1006\n"));
}

}  // namespace
}  // namespace tavrel::kesver1

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
