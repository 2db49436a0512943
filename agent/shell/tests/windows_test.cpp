// The agent's real windows, offscreen: each wired to its logic class, found
// by the control names, with captions, menu texts and shortcuts, enabled
// states, the history list's columns and a red failed item.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include "agent/shell/tests/main_window_fixture.h"
#include "agent/shell/windows/frm_dialogs.h"
#include "agent/shell/windows/frm_main.h"
#include "platform/tests/gui_test_main.h"

namespace tavrel::agent::testing {
namespace {

// Closes the next modal window once it is up, keeping its title and text.
struct ModalCloser {
    void arm() {
        QTimer::singleShot(0, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return;
            title = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) text = box->text();
            if (auto* label = modal->findChild<QLabel*>(QStringLiteral("lblMessage"))) {
                text = label->text();
            }
            objectName = modal->objectName();
            if (check) check(modal);
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
        });
    }
    QString title, text, objectName;
    std::function<void(QWidget*)> check;
};

class RecordingDialogs : public MainWindowDialogs {
  public:
    void showAboutBox(QWidget*) override { shown.push_back("about"); }
    void showHideOnClose(QWidget*) override { shown.push_back("close"); }
    void showHideOnMinimize(QWidget*) override { shown.push_back("minimize"); }
    std::vector<std::string> shown;
};

// The failed and completed records the history list shows.
class ListedHistory : public FakeHistory {
  public:
    void LoadUpdateList(history::UpdateListModel& list, bool configured, int,
                        const std::function<void()>&) override {
        if (!configured) return;
        list.clear();
        auto& failed = list.add("TAVREL0041TAVREL0041", "TAVREL0041");
        failed.subItems = {"TAVREL0041", "01 Dec 2026 01:05:00", "Tavrel App.", "Failed",
                           "INSTALL FAILED"};
        failed.failed = true;
        failed.toolTip = "INSTALL FAILED";
        auto& done = list.add("TAVREL0042TAVREL0042", "TAVREL0042");
        done.subItems = {"TAVREL0042", "02 Dec 2026 01:05:00", "Tavrel App.", "Completed",
                         "INSTALLED"};
        done.toolTip = "INSTALLED";
        list.setTrimEnabled(true);
    }
};

class FrmMainTest : public MainWindowTest {
  protected:
    void open(bool tray = false) {
        frm = std::make_unique<FrmMain>(dialogs, tray);
        frm->setUnloadHandler([this] { ++unloads; });
        window = std::make_unique<MainWindow>(*frm, state, config, init, versions, listed, services,
                                              clock, "1.0.0");
        frm->setLogic(window.get());
        window->Form_Load();
        QCoreApplication::processEvents();
    }
    template <typename T = QWidget>
    T* find(const QString& name) {
        T* child = frm->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name.toStdString();
        return child;
    }
    QAction* action(const char* name, int index) { return find<QAction>(arrayName(name, index)); }
    QLabel* panel(const char* key) {
        return find<QStatusBar>("stb1")->findChild<QLabel*>(QString::fromLatin1(key));
    }

    RecordingDialogs dialogs;
    ListedHistory listed;
    std::unique_ptr<FrmMain> frm;
    int unloads = 0;
};

TEST_F(FrmMainTest, MenusButtonsAndPanelsCarryTheirNamesTextsAndShortcuts) {
    configure();
    open();
    EXPECT_EQ(frm->objectName(), "frmMain");
    EXPECT_EQ(frm->windowTitle(), "Kestmoor Tavrel Update");
    const struct {
        int index;
        const char* menu;
        const char* shortcut;
        const char* button;
        const char* tip;
    } items[] = {
        {0, "Hide", "Ctrl+H", "&Hide in Tray", "Click to Hide in Tray (Ctrl+H)"},
        {1, "Trim Update Log Table", "Ctrl+T", "Trim Update Log",
         "Click to Trim Update Log Table (Ctrl+T)"},
        {2, "Refresh List", "Ctrl+R", "&Refresh List", "Click to Refresh List (Ctrl+R)"},
        {4, "Update Check", "Ctrl+U", "&Update Check", "Click to Check for Updates (Ctrl+U)"},
        {6, "Settings", "Ctrl+S", "&Settings", "Click to Change Settings (Ctrl+S)"},
        {8, "About", "Ctrl+A", "&About", "About Application (Ctrl+A)"},
        {10, "Exit", "Ctrl+X", "E&xit", "Exit Application (Ctrl+X)"},
    };
    for (const auto& item : items) {
        SCOPED_TRACE(item.index);
        QAction* menu = action("mnoApplication", item.index);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->text(), item.menu);
        EXPECT_EQ(menu->shortcut().toString(), item.shortcut);
        auto* button = find<QPushButton>(arrayName("cmdApplication", item.index));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), item.button);
        EXPECT_EQ(button->toolTip(), item.tip);
    }
    for (int spacer : {3, 5, 7, 9}) {
        auto* button = find<QPushButton>(arrayName("cmdApplication", spacer));
        ASSERT_NE(button, nullptr);
        EXPECT_FALSE(button->isEnabled());
        EXPECT_TRUE(button->isHidden());
        EXPECT_TRUE(action("mnoApplication", spacer)->isSeparator());
    }
    EXPECT_EQ(action("mnoOption", 0)->text(), "Hide In System Tray");
    EXPECT_EQ(action("mnoOption", 1)->text(), "Hide on Minimize Button");
    EXPECT_EQ(action("mnoOption", 5)->text(), "Show Menu Buttons");
    EXPECT_TRUE(action("mnoOption", 5)->isChecked());
    EXPECT_EQ(find<QAction>("mnuReport")->text(), "Open Report");
    EXPECT_EQ(action("mnoTray", 0)->text(), "Show Kestmoor Tavrel Update");
    EXPECT_FALSE(find<QMenu>("mnuTray")->menuAction()->isVisible()) << "only in test mode";
    EXPECT_EQ(panel("MODE")->text(), "MANUAL");
    EXPECT_EQ(panel("MODE")->toolTip(), "Update Mode");
    EXPECT_EQ(panel("LASTCHECK")->toolTip(), "Last Update Check");
    EXPECT_EQ(panel("CURVERSION")->toolTip(), "Current Kestmoor Tavrel Installed Version ");
    EXPECT_EQ(panel("VERSION")->text(), "1.0.0");
    EXPECT_EQ(find<QLabel>("lblTavrelApp")->text(), "Tavrel Folder:");
    EXPECT_EQ(find<QLabel>("lblTavrelPath")->text(), QString::fromStdString(appFolder.string()));
    EXPECT_EQ(find<QLabel>("lblTavrelPath")->toolTip(),
              "Kestmoor Tavrel Application Main Folder (Click on Settings to Change)");
    auto* timer = find<QTimer>("Timer1");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 10000);
    EXPECT_EQ(frm->width(), 13900 / 15);
    EXPECT_EQ(frm->height(), 6600 / 15);
}

TEST_F(FrmMainTest, TheListShowsItsColumnsAndAFailedItemInRed) {
    configure();
    open();
    auto* list = find<QTreeWidget>("lvwUpdates");
    ASSERT_NE(list, nullptr);
    const QStringList captions = {"Update", "Zip File", "Date/Time",
                                  "Type",   "Result",   "Description"};
    ASSERT_EQ(list->columnCount(), 6);
    const int widths[] = {2205, 2205, 3175, 2117, 1764, 10583};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(list->headerItem()->text(c), captions[c]);
        EXPECT_EQ(list->columnWidth(c), widths[c] / 15);
    }
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QTreeWidgetItem* failed = list->topLevelItem(0);
    EXPECT_EQ(failed->text(0), "TAVREL0041");
    EXPECT_EQ(failed->text(4), "Failed");
    for (int c = 0; c < 6; ++c) EXPECT_EQ(failed->foreground(c).color(), QColor(255, 0, 0));
    EXPECT_EQ(failed->toolTip(5), "INSTALL FAILED");
    QTreeWidgetItem* done = list->topLevelItem(1);
    EXPECT_EQ(done->foreground(0).color(), frm->palette().color(QPalette::WindowText));
    EXPECT_TRUE(find<QPushButton>(arrayName("cmdApplication", 1))->isEnabled());
}

TEST_F(FrmMainTest, ADoubleClickOpensTheReportInAFixedPitchBoxAndEscapeClosesIt) {
    configure();
    listed.reports["TAVREL0042TAVREL0042"] = "REPORT LINE";
    open();
    auto* list = find<QTreeWidget>("lvwUpdates");
    auto* report = find<QTextEdit>("rtbReport");
    EXPECT_TRUE(QFontInfo(report->font()).fixedPitch());
    EXPECT_EQ(report->toolTip(), "Press Escape Key to Close Report");
    EXPECT_TRUE(report->isHidden());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm.get()));
    list->setCurrentItem(list->topLevelItem(1));
    const QRect rect = list->visualItemRect(list->topLevelItem(1));
    ASSERT_TRUE(list->viewport()->rect().contains(rect.center()))
        << rect.x() << "," << rect.y() << " in " << list->viewport()->width() << "x"
        << list->viewport()->height();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_FALSE(report->isHidden());
    EXPECT_EQ(report->toPlainText(), "REPORT LINE");
    EXPECT_TRUE(list->isHidden());
    EXPECT_FALSE(find<QPushButton>("cmdCloseReport")->isHidden());
    EXPECT_EQ(find<QAction>("mnuReport")->text(), "Close Report");
    QTest::keyClick(report, Qt::Key_Escape);
    EXPECT_TRUE(report->isHidden());
    EXPECT_FALSE(list->isHidden());
    EXPECT_EQ(find<QAction>("mnuReport")->text(), "Open Report");
}

TEST_F(FrmMainTest, NotConfiguredWithoutATrayDisablesTheCheckAndTheHideOptions) {
    open(false);
    EXPECT_EQ(frm->windowTitle(), "Kestmoor Tavrel Update (NOT CONFIGURED)");
    EXPECT_FALSE(action("mnoApplication", 4)->isEnabled());
    EXPECT_FALSE(find<QPushButton>(arrayName("cmdApplication", 4))->isEnabled());
    EXPECT_FALSE(action("mnoApplication", 2)->isEnabled());
    EXPECT_FALSE(action("mnoTray", 4)->isEnabled());
    EXPECT_FALSE(action("mnoOption", 0)->isEnabled());
    EXPECT_FALSE(action("mnoOption", 1)->isEnabled());
    EXPECT_EQ(action("mnoOption", 0)->toolTip().toStdString(), kNoTrayToolTip);
    EXPECT_FALSE(find<QPushButton>(arrayName("cmdApplication", 0))->isEnabled());
    EXPECT_EQ(panel("STATUS")->text(), "Use Settings Option to configure the Application");
    // The close box ends the agent: there is nowhere to hide.
    frm->close();
    EXPECT_EQ(unloads, 1);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(services.log.back(), "TavrelUpdate1 - Unloaded");
}

TEST_F(FrmMainTest, WithATrayTheCloseBoxHidesAfterItsNotice) {
    configure();
    open(true);
    EXPECT_TRUE(action("mnoOption", 0)->isEnabled());
    EXPECT_TRUE(action("mnoOption", 0)->isChecked());
    frm->close();
    EXPECT_EQ(unloads, 0);
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"close"});
    EXPECT_FALSE(frm->isVisible());
    // Exit from the menu ends it.
    action("mnoApplication", 10)->trigger();
    EXPECT_EQ(unloads, 1);
}

TEST_F(FrmMainTest, NoticeThreeThousandFiveHundredIsAMessageBoxWithTheTitle) {
    configure();
    writeLevels("UPDATE0011", "UPDATE0012");
    open();
    ModalCloser closer;
    closer.arm();
    find<QPushButton>(arrayName("cmdApplication", 4))->click();
    EXPECT_EQ(closer.title, "Kestmoor Tavrel Update");
    EXPECT_EQ(closer.text,
              "This Application needs to Terminate and Restart itself in order to install an "
              "Update");
    EXPECT_EQ(unloads, 1);
    EXPECT_EQ(services.started.size(), 1u);
}

class FixedChooser : public FileChooser {
  public:
    std::optional<std::string> chooseApplicationFile(QWidget*,
                                                     const ApplicationFileRequest& r) override {
        request = r;
        return chosen;
    }
    ApplicationFileRequest request;
    std::optional<std::string> chosen;
};

TEST_F(MainWindowTest, FrmSetupShowsTheStoredSettingsAndSavesOnOk) {
    config.WriteUpdateStart("05:00");
    config.WriteUpdateFinish("07:00");
    FixedChooser chooser;
    FrmSetup setup(config, chooser);
    EXPECT_EQ(setup.objectName(), "frmSetup");
    EXPECT_EQ(setup.windowTitle(), "Kestmoor Tavrel Update Settings");
    auto* start = setup.findChild<QComboBox*>("cboUpdStart");
    auto* finish = setup.findChild<QComboBox*>("cboUpdFinish");
    ASSERT_TRUE(start && finish);
    EXPECT_EQ(start->count(), 24);
    EXPECT_EQ(start->currentText(), "05:00");
    EXPECT_EQ(finish->currentText(), "07:00");
    EXPECT_FALSE(start->isEnabled()) << "daily checking is off";
    auto* folderPanel = setup.findChild<QStatusBar*>("stb1")->findChild<QLabel*>("FOLDER");
    EXPECT_EQ(folderPanel->text(), "APPLICATION FOLDER IS MISSING");
    auto* ok = setup.findChild<QPushButton*>(arrayName("cmdAction", 0));
    auto* cancel = setup.findChild<QPushButton*>(arrayName("cmdAction", 1));
    ASSERT_TRUE(ok && cancel);
    EXPECT_EQ(ok->text(), "&Ok");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(ok->toolTip(), "click here to Exit after saving any changes");
    EXPECT_EQ(cancel->text(), "&Cancel");

    setup.show();
    setup.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&setup));
    auto* updates = setup.findChild<QCheckBox*>("chkUpdates");
    // On the box itself: a check box takes clicks on its box and its text only.
    QTest::mouseClick(updates, Qt::LeftButton, {}, QPoint(6, updates->height() / 2));
    EXPECT_TRUE(start->isEnabled());
    auto* keep = setup.findChild<QLineEdit*>("txtKeepLast");
    EXPECT_EQ(keep->maxLength(), 3);
    keep->setFocus();
    keep->selectAll();
    QTest::keyClicks(keep, "1x2");
    EXPECT_EQ(keep->text(), "12");
    QTest::keyClick(keep, Qt::Key_Backspace);
    EXPECT_EQ(keep->text(), "12") << "Backspace is dropped with the other keys";
    setup.findChild<QLineEdit*>("txtPathMain")->setFocus();
    EXPECT_EQ(keep->text(), "50");

    configure();
    chooser.chosen = (appFolder / "TAVREL32.EXE").string();
    QTest::mouseClick(setup.findChild<QPushButton*>("cmdPathMain"), Qt::LeftButton);
    EXPECT_EQ(chooser.request.title, "Kestmoor Tavrel Application Folder");
    EXPECT_EQ(setup.findChild<QLineEdit*>("txtPathMain")->text(),
              QString::fromStdString(appFolder.string()));
    EXPECT_EQ(folderPanel->text(), "APPLICATION FOLDER IS CORRECT");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(setup.isVisible());
    EXPECT_EQ(ini("General", "KeepLastRecords"), "50");
    EXPECT_EQ(ini("Updates", "UpdateFlag"), "True");
    EXPECT_EQ(ini("Updates", "UpdateStart"), "05:00");
}

TEST_F(MainWindowTest, FrmSetupCancelSavesNothing) {
    FixedChooser chooser;
    FrmSetup setup(config, chooser);
    setup.show();
    setup.findChild<QLineEdit*>("txtPathMain")->setText("/somewhere");
    QTest::keyClick(&setup, Qt::Key_Escape);
    EXPECT_FALSE(setup.isVisible());
    EXPECT_FALSE(platform::fileExists(config.FilePath()));
}

TEST_F(MainWindowTest, FrmAboutShowsTheProgramAndReadOnlyContacts) {
    config.WriteText("About", "Telephone", "01234 567890");
    FrmAbout about(aboutBoxContent(state, config, "1.0.0"));
    EXPECT_EQ(about.objectName(), "frmAbout");
    EXPECT_EQ(about.windowTitle(), "About Kestmoor Tavrel Update");
    EXPECT_EQ(about.findChild<QLabel*>("lblVersion")->text(), "Version 1.0.0");
    EXPECT_TRUE(about.findChild<QLabel*>("lblExecutable")->text().startsWith("TavrelUpdate1 in "));
    for (const char* name : {"txtWebSite", "txtEMail", "txtTelephone", "txtFax"}) {
        auto* box = about.findChild<QLineEdit*>(name);
        ASSERT_NE(box, nullptr) << name;
        EXPECT_TRUE(box->isReadOnly());
    }
    EXPECT_EQ(about.findChild<QLineEdit*>("txtTelephone")->text(), "01234 567890");
    EXPECT_EQ(about.findChild<QLineEdit*>("txtWebSite")->text(), kDefaultWebSite);
    EXPECT_NE(about.findChild<QPushButton*>("cmdOK"), nullptr);
}

TEST(FrmHideTest, BothNoticesShowTheirTextsUnderTheTitle) {
    FrmHide hide("Kestmoor Tavrel Update");
    EXPECT_EQ(hide.objectName(), "frmHide");
    EXPECT_EQ(hide.windowTitle(), "Kestmoor Tavrel Update");
    ModalCloser closer;
    closer.arm();
    hide.HideOnClose();
    EXPECT_EQ(closer.objectName, "frmHide");
    EXPECT_EQ(closer.text,
              "Option 'Hide on Close Button' is Ticked\n\nAlthough the main window is being "
              "closed, 'Kestmoor Tavrel Update' will continue to run in the system tray (near the "
              "clock) so that it can continue to check for new Updates\n\nTo Terminate the "
              "Application Right-Click the Icon in task Bar and select 'Exit' from the Menu");
    closer.arm();
    hide.HideOnMinimize();
    EXPECT_TRUE(closer.text.startsWith(
        "Option 'Hide on Minimize Button' is Ticked\n\n'Kestmoor Tavrel Update' is returning to "
        "the system tray (near the clock) so that it can continue to check for new Updates"));
}

}  // namespace
}  // namespace tavrel::agent::testing

int main(int argc, char** argv) { return tavrel::platform::testing::runGuiTests(argc, argv); }
