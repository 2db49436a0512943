#include "agent/app/agent_program.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "agent/app/agent_installation.h"
#include "agent/history/history_table.h"
#include "agent/history/operation_log.h"
#include "agent/shell/about_box.h"
#include "agent/tables/engine_fields.h"
#include "platform/process.h"

namespace tavrel::agent {

AgentProgram::AgentProgram(AgentOptions options, const platform::Clock& clock,
                           UpdateWindowRunner* updateWindow)
    : m_options(std::move(options)),
      m_clock(clock),
      m_updateWindow(updateWindow),
      m_configuration(m_state),
      m_init(m_state, m_configuration, clock),
      m_library([this](const std::string& line) { appendOperationLog(line); },
                m_options.engineFile),
      m_engine(m_library),
      m_kes01([this](const std::string& line) { appendOperationLog(line); }) {
    m_init.setRunServices(this);
    m_init.Settings().setDialog(this);
}

AgentProgram::~AgentProgram() {
    // The windows go before the engine and the logs they use.
    m_mainWindow.reset();
    m_frmMain.reset();
}

EntryOutcome AgentProgram::start() {
    EntryContext context;
    context.executablePath = m_options.executablePath;
    context.commandLine = m_options.commandLine;
    context.clock = &m_clock;
    context.services = this;
    return RunEntryRoutine(context, m_state, m_configuration);
}

void AgentProgram::finish() {
    if (m_mainWindow) m_mainWindow->Form_Terminate();
}

bool AgentProgram::claimSingleInstance() {
    m_instanceLock = platform::acquireSingleInstance("TavrelUpdate1", m_options.instanceFolder);
    return m_instanceLock != nullptr;
}

void AgentProgram::showInformation(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Information, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void AgentProgram::appendOperationLog(const std::string& message) {
    if (m_state.agentFolder.empty()) return;
    history::OperationLog(m_state.agentFolder, m_clock).AppendOperationLog(message);
}

std::intptr_t AgentProgram::startEngine() {
    if (!m_engine.start()) return 0;
    return reinterpret_cast<std::intptr_t>(m_engine.handle());
}

void AgentProgram::showMainWindow() {
    m_versions = std::make_unique<session::VersionFiles>(
        m_state.agentFolder, [this] { return m_state.applicationFolder; });
    m_frmMain = std::make_unique<FrmMain>(*this, m_options.trayAvailable);
    m_mainWindow =
        std::make_unique<MainWindow>(*m_frmMain, m_state, m_configuration, m_init, *m_versions,
                                     *this, *this, m_clock, m_options.version);
    m_frmMain->setLogic(m_mainWindow.get());
    m_frmMain->setUnloadHandler([] { QCoreApplication::exit(0); });
    m_mainWindow->Form_Load();
}

int AgentProgram::closeAllTables() {
    if (!m_engine.started()) return 0;
    return K4(m_library, code4close, m_engine.handle());
}

void AgentProgram::showUpdateWindow() {
    if (m_updateWindow) {
        m_updateWindow->runUpdateWindow(m_frmMain.get());
        return;
    }
    runRealUpdateWindow();
}

void AgentProgram::runRealUpdateWindow() {
    std::optional<history::HistoryTable> table;
    if (m_engine.started()) table.emplace(m_engine, m_clock, m_state.applicationFolder);
    history::HistoryTable* history = table ? &*table : nullptr;
    auto makeInstallation = [&](const session::UpdateWindowParts& parts)
        -> std::unique_ptr<session::PackageInstallation> {
        InstallationParts own{m_engine, m_kes01, *m_versions,
                              history,  m_clock, m_state.applicationFolder};
        return std::make_unique<AgentInstallation>(parts, own);
    };
    session::UpdateWindowServices services{
        m_state, m_configuration, m_clock, *m_versions, history, makeInstallation, {}, {}};
    m_lastSessionResult = session::showUpdateWindowModal(services, m_frmMain.get());
}

void AgentProgram::ImportInstallerResult() {
    history::HistoryTable table(m_engine, m_clock, m_state.applicationFolder);
    table.ImportInstallerResult(m_state.agentFolder, [this] {
        return m_versions->ReadVersionFile(session::VersionKind::Agent);
    });
}

void AgentProgram::LoadUpdateList(history::UpdateListModel& list, bool configured,
                                  int keepLastRecords, const std::function<void()>& trim) {
    history::HistoryTable table(m_engine, m_clock, m_state.applicationFolder);
    table.LoadUpdateList(list, configured, keepLastRecords, trim);
}

std::optional<std::string> AgentProgram::ReadUpdateReport(const std::string& itemKey) {
    history::HistoryTable table(m_engine, m_clock, m_state.applicationFolder);
    return table.ReadUpdateReport(itemKey);
}

int AgentProgram::TrimUpdateLogTable(int keepLastRecords) {
    history::HistoryTable table(m_engine, m_clock, m_state.applicationFolder);
    return table.TrimUpdateLogTable(keepLastRecords);
}

void AgentProgram::closeEngine() {
    m_engine.close();
    m_state.engineHandle =
        m_engine.started() ? reinterpret_cast<std::intptr_t>(m_engine.handle()) : 0;
}

int AgentProgram::startProgram(const std::string& program, const std::string& switches) {
    return platform::startDetached(program, platform::splitCommandLine(switches),
                                   m_state.agentFolder);
}

void AgentProgram::showSettingsDialog() {
    FrmSetup dialog(m_configuration, m_chooser, m_frmMain.get());
    dialog.exec();
}

void AgentProgram::showAboutBox(QWidget* parent) {
    FrmAbout about(aboutBoxContent(m_state, m_configuration, m_options.version), parent);
    about.exec();
}

void AgentProgram::showHideOnClose(QWidget* parent) {
    FrmHide(m_state.applicationTitle, parent).HideOnClose();
}

void AgentProgram::showHideOnMinimize(QWidget* parent) {
    FrmHide(m_state.applicationTitle, parent).HideOnMinimize();
}

}  // namespace tavrel::agent
