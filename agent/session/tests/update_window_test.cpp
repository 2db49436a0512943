// The real update window offscreen, wired to the session: object names,
// captions and enabled states after load, a session run from its button
// against a loopback server with a close refused while a package installs,
// the command log, and the modal run for the main program.
#include "agent/session/update_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "agent/session/tests/update_session_fixture.h"
#include "platform/tests/gui_test_main.h"

namespace tavrel::session::testing {
namespace {

class UpdateWindowTest : public SessionTest {
  protected:
    void openWindow(bool automatic) {
        state.automaticRun = automatic;
        session = std::make_unique<UpdateSession>(
            SessionCollaborators{state, configuration, clock, versions, nullptr, timeouts});
        frm = std::make_unique<UpdateWindow>(*session, [this](QWidget*) { ++notices; });
        installation = std::make_unique<RecordingInstallation>(versions, *frm);
        session->setInstallation(installation.get());
        session->FormLoad();
        frm->show();
        QCoreApplication::processEvents();
    }
    template <typename Widget = QWidget>
    Widget* control(const char* name) {
        auto* widget = frm->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString logText(int page) {
        return control<QPlainTextEdit>(QStringLiteral("rtbLog(%1)").arg(page).toLatin1())
            ->toPlainText();
    }
    QString panel(const char* key) { return control<QLabel>(key)->text(); }

    void TearDown() override {
        frm.reset();
        session.reset();
    }

    std::unique_ptr<UpdateWindow> frm;
    int notices = 0;
};

TEST_F(UpdateWindowTest, UserSessionLoadsWithItsNamesCaptionsAndStates) {
    setLevels("TAVREL0122", "UPDATE0011");
    configuration.WriteTraceFile(true);
    openWindow(false);
    EXPECT_EQ(frm->objectName(), "frmUpdate");
    EXPECT_EQ(frm->windowTitle(), "Kestmoor Tavrel Update Operation");
    auto* tabs = control<QTabWidget>("SSTab1");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Update Check");
    EXPECT_EQ(tabs->tabText(1), "Update Version");
    EXPECT_EQ(tabs->tabText(2), "Update Tables");
    EXPECT_EQ(tabs->currentIndex(), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(frm->findChild<QPlainTextEdit*>(QStringLiteral("rtbLog(%1)").arg(i)), nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(frm->findChild<QLabel*>(QStringLiteral("lblStatus(%1)").arg(i)), nullptr);
    for (int i = 0; i < kProgressLines; ++i) {
        EXPECT_NE(frm->findChild<QProgressBar*>(QStringLiteral("pbrProgress(%1)").arg(i)), nullptr);
        EXPECT_NE(frm->findChild<QWidget*>(QStringLiteral("txtProgressText(%1)").arg(i)), nullptr);
    }
    EXPECT_TRUE(control("rtbLog(0)")->isVisible());
    EXPECT_FALSE(control("rtbLog(3)")->isVisible());
    EXPECT_EQ(control<QListWidget>("lstRemoteFiles")->selectionMode(),
              QAbstractItemView::MultiSelection);
    EXPECT_EQ(control<QProgressBar>("pbr1")->maximum(), 1);
    EXPECT_EQ(control<QPushButton>("cmdConnect")->text(), "Check For Update");
    EXPECT_EQ(control<QPushButton>("cmdDisconnect")->text(), "Disconnect");
    EXPECT_EQ(control<QPushButton>("cmdExit")->text(), "Exit");
    EXPECT_TRUE(control("cmdConnect")->isEnabled());
    EXPECT_TRUE(control("cmdExit")->isEnabled());
    auto* ignore = control<QAction>("mnuIgnoreUpdate");
    EXPECT_EQ(ignore->text(), "Ignore This Update");
    EXPECT_TRUE(ignore->isChecked());
    EXPECT_FALSE(ignore->isEnabled());
    EXPECT_TRUE(control<QAction>("mnuTraceFile")->isChecked());
    EXPECT_EQ(control<QAction>("mnuShowCommandLog")->text(), "Show Command Log");
    EXPECT_EQ(panel("AUTOUPDATE"), "USER");
    EXPECT_EQ(panel("CURVERSION"), "TAVREL0122");
    EXPECT_EQ(panel("UPDVERSION"), "UPDATE0011");
    EXPECT_FALSE(control<QTimer>("Timer1")->isActive());
}

TEST_F(UpdateWindowTest, AutomaticSessionStartsItsTimerWithTheButtonDisabled) {
    openWindow(true);
    EXPECT_FALSE(control("cmdConnect")->isEnabled());
    auto* timer = control<QTimer>("Timer1");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 15000);
    EXPECT_EQ(panel("AUTOUPDATE"), "AUTO");
    EXPECT_TRUE(control<QAction>("mnuIgnoreUpdate")->isEnabled());
    EXPECT_EQ(panel("CURVERSION"), "TAVREL0000") << "no version file yet";
}

TEST_F(UpdateWindowTest, TimerTicksConnectCountDownAndCloseAtTheFinish) {
    configuration.WriteFtpHost("127.0.0.1:1");
    configuration.WriteUpdateFinish("01:02");
    openWindow(true);
    auto* timer = control<QTimer>("Timer1");
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
    EXPECT_EQ(timer->interval(), 60000);
    EXPECT_EQ(control<QLabel>("lblDateTime")->text(), "07 Dec 2026 01:00:00");
    EXPECT_TRUE(logText(0).contains("Ftp Error : 12104"));
    EXPECT_TRUE(session->retryFlag());
    clock.advanceMinutes(1);
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
    EXPECT_EQ(control<QLabel>("lblStatus(0)")->text(), "Next Connection Due In 8 Mins");
    EXPECT_TRUE(frm->isVisible());
    clock.advanceMinutes(1);
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
    EXPECT_FALSE(frm->isVisible()) << "closed at the finish time";
    EXPECT_FALSE(timer->isActive());
}

TEST_F(UpdateWindowTest, SessionFromTheButtonRefusesToCloseWhileAPackageInstalls) {
    startServer();
    server->put(kFolder4 + "TAVREL0123.ZIP", "a");
    server->put(kFolder4 + "TAVREL0124.ZIP", "b");
    setLevels("TAVREL0122", "UPDATE0011");
    openWindow(false);
    std::vector<bool> states;
    installation->duringInstall = [&] {
        frm->close();
        states.push_back(frm->isVisible());
        states.push_back(control("cmdExit")->isEnabled());
        states.push_back(control("cmdConnect")->isEnabled());
    };
    QTest::mouseClick(control("cmdConnect"), Qt::LeftButton);
    EXPECT_EQ(states, (std::vector<bool>{true, false, false, true, false, false}));
    EXPECT_TRUE(logText(0).contains("RESULT: INSTALL SUCCESS TAVREL UPDATE: TAVREL0124"));
    auto* list = control<QListWidget>("lstRemoteFiles");
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(list->selectedItems().size(), 2);
    EXPECT_EQ(panel("CURVERSION"), "TAVREL0124");
    EXPECT_EQ(panel("NEWVERSION"), "TAVREL0124");
    EXPECT_EQ(control<QLabel>("lblStatus(0)")->text(),
              "Disconnected from 'Kestmoor Tavrel' Update Server");
    EXPECT_TRUE(control("cmdExit")->isEnabled());
    EXPECT_FALSE(control("cmdDisconnect")->isEnabled());

    // The command log holds the server's replies and takes rtbLog(0)'s place.
    EXPECT_TRUE(logText(3).contains("230 "));
    control<QAction>("mnuShowCommandLog")->trigger();
    EXPECT_TRUE(control("rtbLog(3)")->isVisible());
    EXPECT_FALSE(control("rtbLog(0)")->isVisible());

    QTest::mouseClick(control("cmdExit"), Qt::LeftButton);
    EXPECT_FALSE(frm->isVisible());
    EXPECT_TRUE(session->closedCleanly());
    EXPECT_EQ(configuration.ReadUpdateLast(), "") << "a user session records no day";
}

TEST_F(UpdateWindowTest, ModalRunReturnsTheSessionResultWhenExitIsPressed) {
    setLevels("TAVREL0122", "UPDATE0011");
    state.automaticRun = false;
    int made = 0;
    UpdateWindowServices services{state, configuration, clock, versions, nullptr, {}, {}, {}};
    services.makeInstallation = [&](const UpdateWindowParts& parts) {
        ++made;
        EXPECT_EQ(parts.panels.panelText("AUTOUPDATE"), "");
        return std::make_unique<RecordingInstallation>(versions, parts.panels);
    };
    // The load lets events run before the window is shown, so wait for it.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&poll] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        poll.stop();
        EXPECT_EQ(modal->objectName(), "frmUpdate");
        auto* exit = modal->findChild<QPushButton*>(QStringLiteral("cmdExit"));
        ASSERT_NE(exit, nullptr);
        exit->click();
    });
    poll.start();
    EXPECT_EQ(showUpdateWindowModal(services), int(SessionResult::kLoaded));
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(platform::folderExists(agentFolder() / "NewVersion"));
    EXPECT_TRUE(platform::folderExists(agentFolder() / "OldVersion"));
}

}  // namespace
}  // namespace tavrel::session::testing

int main(int argc, char** argv) { return tavrel::platform::testing::runGuiTests(argc, argv); }
