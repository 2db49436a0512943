// The real installer window, offscreen: its controls found by id with their
// texts, positions and enabled states at start, after a success, after a
// failure and with a setup program; the timer and the buttons wired to the
// logic.
#include "installer/installer_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "installer/tests/installer_fixture.h"
#include "platform/tests/gui_test_main.h"

namespace tavrel::installer {
namespace {

using testing::AgentFolder;
using testing::RecordingStarter;

struct Expected {
    ControlId id;
    const char* className;
    QRect geometry;
    QString text;
};

class InstallerWindowTest : public ::testing::Test {
  protected:
    void open(const std::string& commandLine = "/N") {
        installer = std::make_unique<Installer>(agent.path(), commandLine, files, starter);
        ASSERT_TRUE(installer->startUp());
        window = std::make_unique<InstallerWindow>(*installer);
        window->show();
        QCoreApplication::processEvents();
    }
    template <typename Widget = QWidget>
    Widget* control(ControlId id) {
        auto* widget = window->findChild<Widget*>(controlName(id));
        EXPECT_NE(widget, nullptr) << controlName(id).toStdString();
        return widget;
    }
    QString text(ControlId id) {
        QWidget* widget = control(id);
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* box = qobject_cast<QLineEdit*>(widget)) return box->text();
        if (auto* log = qobject_cast<QPlainTextEdit*>(widget)) return log->toPlainText();
        if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
        return {};
    }
    // One tick of the window's own 5-second timer, then the steps it posted.
    void tick() {
        auto* timer = window->findChild<QTimer*>(QStringLiteral("timer1010"));
        ASSERT_NE(timer, nullptr);
        ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));
        drain();
    }
    // Runs the posted steps, including those that they post in turn.
    static void drain() {
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    }
    void newAgentVersion() {
        agent.versions("UPDATE0011", "UPDATE0012");
        agent.write("TavrelUpdate1.exe", "old agent");
        agent.write("NewVersion/TavrelUpdate1.exe", "new agent");
        agent.makeFolder("OldVersion");
    }
    bool enabled(ControlId id) { return control(id)->isEnabled(); }

    AgentFolder agent;
    PlatformFileOperations files;
    RecordingStarter starter;
    std::unique_ptr<Installer> installer;
    std::unique_ptr<InstallerWindow> window;
};

TEST_F(InstallerWindowTest, AtStartTheNineControlsShowTheirTextsAtTheirPlaces) {
    newAgentVersion();
    open();
    const QString folder = QString::fromStdString(agent.path().string()).toUpper();
    const std::vector<Expected> expected = {
        {ControlId::CurrentVersionLabel, "QLabel", {41, 12, 96, 16}, "Current Version"},
        {ControlId::UpdatedVersionLabel, "QLabel", {333, 12, 96, 16}, "Updated Version"},
        {ControlId::CurrentFolderLabel, "QLabel", {8, 32, 96, 16}, "Current Folder"},
        {ControlId::InstalledVersionBox, "QLineEdit", {143, 8, 88, 20}, "UPDATE0011"},
        {ControlId::NewVersionBox, "QLineEdit", {239, 8, 88, 20}, "UPDATE0012"},
        {ControlId::FolderBox, "QLineEdit", {6, 48, 480, 24}, folder},
        {ControlId::LogBox, "QPlainTextEdit", {6, 80, 480, 236}, ""},
        {ControlId::RunSetupButton, "QPushButton", {96, 324, 140, 32}, "Run Setup"},
        {ControlId::ExitButton, "QPushButton", {248, 324, 140, 32}, "Exit"},
    };
    for (const auto& want : expected) {
        SCOPED_TRACE(controlName(want.id).toStdString());
        QWidget* widget = control(want.id);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), want.className);
        EXPECT_EQ(widget->geometry(), want.geometry);
        EXPECT_EQ(text(want.id), want.text);
        EXPECT_EQ(widget->property("controlId").toInt(), int(want.id));
        const bool isButton = want.className == std::string("QPushButton");
        EXPECT_EQ(widget->isEnabled(), !isButton);
    }
    EXPECT_EQ(window->windowTitle(), "Installer for Kestmoor Tavrel Update");
    EXPECT_EQ(window->objectName(), "FORM_TAVRELUPDATE_FRMUPDATE_CLASS");
    EXPECT_EQ(window->font().pixelSize(), 11);
    EXPECT_EQ(window->font().family(), "MS Sans Serif");
    EXPECT_EQ(window->size(), QSize(kClientWidth, kClientHeight));
    const QList<QSize> iconSizes = window->windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)));
    EXPECT_TRUE(iconSizes.contains(QSize(32, 32)));

    for (ControlId id :
         {ControlId::InstalledVersionBox, ControlId::NewVersionBox, ControlId::FolderBox}) {
        EXPECT_TRUE(control<QLineEdit>(id)->isReadOnly());
    }
    EXPECT_TRUE(control<QLineEdit>(ControlId::NewVersionBox)->alignment() & Qt::AlignHCenter);
    auto* log = control<QPlainTextEdit>(ControlId::LogBox);
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    auto* timer = window->findChild<QTimer*>(QStringLiteral("timer1010"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5000);
}

TEST_F(InstallerWindowTest, AfterASuccessTheVersionsMatchAndTheNextTickStartsTheAgentAndCloses) {
    newAgentVersion();
    open("/N/S+2");
    tick();
    EXPECT_EQ(text(ControlId::InstalledVersionBox), "UPDATE0012");
    EXPECT_EQ(text(ControlId::NewVersionBox), "UPDATE0012");
    const QString log = text(ControlId::LogBox);
    EXPECT_TRUE(log.startsWith("UPDATING CURRENT VERSION UPDATE0011 TO NEW VERSION UPDATE0012\n"))
        << log.toStdString();
    EXPECT_TRUE(log.contains("INSTALLING UPDATED FILE TAVRELUPDATE1.EXE"));
    EXPECT_FALSE(enabled(ControlId::RunSetupButton));
    EXPECT_FALSE(enabled(ControlId::ExitButton));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(starter.started.empty());

    tick();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "TavrelUpdate1.exe /N/S+2");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(InstallerWindowTest, AfterAFailureExitIsEnabledOnTheNextTickAndClosesWithoutTheAgent) {
    newAgentVersion();
    agent.write("NewVersion/EXTRA.DLL", "no current file of this name");
    open();
    tick();
    EXPECT_EQ(text(ControlId::InstalledVersionBox), "UPDATE0011");
    EXPECT_EQ(text(ControlId::NewVersionBox), "UPDATE0012");
    EXPECT_TRUE(text(ControlId::LogBox).endsWith(QString(64, '=')));
    EXPECT_FALSE(enabled(ControlId::ExitButton));

    tick();
    EXPECT_TRUE(enabled(ControlId::ExitButton));
    EXPECT_FALSE(enabled(ControlId::RunSetupButton));
    EXPECT_TRUE(window->isVisible());

    QTest::mouseClick(control(ControlId::ExitButton), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(starter.started.empty());
}

TEST_F(InstallerWindowTest, RunSetupStartsTheOfferedProgramAndCloses) {
    newAgentVersion();
    agent.write("TAVREL_UPDATE0012.EXE", "setup");
    open();
    tick();
    EXPECT_TRUE(enabled(ControlId::RunSetupButton));
    EXPECT_TRUE(enabled(ControlId::ExitButton));
    EXPECT_TRUE(text(ControlId::LogBox).startsWith("NEW KESTMOOR TAVREL UPDATE SETUP APPLICATION"));

    QTest::mouseClick(control(ControlId::RunSetupButton), Qt::LeftButton);
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "TAVREL_UPDATE0012.EXE");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(InstallerWindowTest, TheLogFileHoldsExactlyTheTextOfTheLogBoxWhateverTheLetters) {
    newAgentVersion();
    agent.write("caf\xc3\xa9.dll", "old");
    agent.write("NewVersion/caf\xc3\xa9.dll", "new");
    open();
    tick();
    const QString box = text(ControlId::LogBox);
    EXPECT_TRUE(box.contains(QString::fromUtf8("INSTALLING UPDATED FILE CAF\xc3\xa9.DLL")))
        << box.toStdString();
    QString file = QString::fromUtf8(agent.read("UPDATELOG.TXT"));
    file.replace("\r\n", "\n");
    EXPECT_EQ(file, box + "\n\n");
}

TEST_F(InstallerWindowTest, ClosingFromTheSystemMenuDropsTheQueuedSteps) {
    newAgentVersion();
    open();
    auto* timer = window->findChild<QTimer*>(QStringLiteral("timer1010"));
    ASSERT_TRUE(QMetaObject::invokeMethod(timer, "timeout"));  // setup check posted
    window->close();
    drain();
    EXPECT_EQ(agent.read("TavrelUpdate1.exe"), "old agent");
    EXPECT_FALSE(agent.has("UPDATELOG.RES"));
    EXPECT_TRUE(installer->closed());
}

}  // namespace
}  // namespace tavrel::installer

int main(int argc, char** argv) { return tavrel::platform::testing::runGuiTests(argc, argv); }
