#include "agent/session/update_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tavrel::session {
namespace {

// Panels of stb1, left to right, with their descriptions as tool tips.
struct PanelDefinition {
    const char* key;
    const char* description;
};
constexpr PanelDefinition kPanels[] = {
    {"ACTION", ""},
    {"UPDVERSION", "Current Update Version"},
    {"CURVERSION", "Current Application Version"},
    {"NEWVERSION", "Update Version being Installed"},
    {"AUTOUPDATE", ""},
};

QString arrayName(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

QString text(std::string_view value) {
    QString result = QString::fromLocal8Bit(value.data(), qsizetype(value.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

QPlainTextEdit* makeLog(QWidget* parent, int index) {
    auto* log = new QPlainTextEdit(parent);
    log->setObjectName(arrayName("rtbLog", index));
    log->setReadOnly(true);
    log->setLineWrapMode(QPlainTextEdit::NoWrap);
    log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return log;
}

QLabel* makeStatus(QWidget* parent, int index) {
    auto* label = new QLabel(parent);
    label->setObjectName(arrayName("lblStatus", index));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    return label;
}

const char* const kNotice4500 =
    "An Update has been downloaded for the 'Kestmoor Tavrel Update' Application.\n"
    "This needs to be installed before any other updates can be downloaded\n\n"
    "When the Application restarts Run Update Check again.";

}  // namespace

UpdateWindow::UpdateWindow(UpdateSession& session, NoticePrompt notice, QWidget* parent)
    : QDialog(parent), m_session(session), m_notice(std::move(notice)) {
    setupWindow();
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer, &QTimer::timeout, this, [this] { m_session.Timer1Tick(); });
    m_session.attach(*this, *this, *this);
    m_session.windowLog().setView(this);
}

UpdateWindow::~UpdateWindow() { m_session.windowLog().setView(nullptr); }

void UpdateWindow::setupWindow() {
    setObjectName(QStringLiteral("frmUpdate"));
    setWindowTitle(QString::fromLatin1(kUpdateWindowCaption));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    setupMenu();
    layout->setMenuBar(findChild<QMenuBar*>(QStringLiteral("mnuBar")));
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    m_tabs->addTab(setupCheckPage(), QStringLiteral("Update Check"));
    m_tabs->addTab(setupLogPage(1), QStringLiteral("Update Version"));
    m_tabs->addTab(setupTablesPage(), QStringLiteral("Update Tables"));
    connect(m_tabs, &QTabWidget::tabBarClicked, this,
            [this](int page) { m_tabs->setTabEnabled(page, true); });
    layout->addWidget(m_tabs, 1);
    setupButtons();
    setupStatusBar();
    layout->addWidget(m_statusBar);
    resize(720, 560);
}

QWidget* UpdateWindow::setupCheckPage() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    m_logs[0] = makeLog(page, 0);
    m_logs[3] = makeLog(page, 3);
    m_logs[3]->hide();
    grid->addWidget(m_logs[0], 0, 0);
    grid->addWidget(m_logs[3], 0, 0);
    auto* remote = new QGroupBox(QStringLiteral("Remote Files"), page);
    remote->setObjectName(QStringLiteral("fraRemoteFiles"));
    auto* remoteLayout = new QVBoxLayout(remote);
    m_remoteFiles = new QListWidget(remote);
    m_remoteFiles->setObjectName(QStringLiteral("lstRemoteFiles"));
    m_remoteFiles->setSelectionMode(QAbstractItemView::MultiSelection);
    m_remoteFiles->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    remoteLayout->addWidget(m_remoteFiles);
    grid->addWidget(remote, 0, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 1);
    m_pbr1 = new QProgressBar(page);
    m_pbr1->setObjectName(QStringLiteral("pbr1"));
    m_pbr1->setRange(0, 1);
    m_pbr1->setValue(0);
    grid->addWidget(m_pbr1, 1, 0, 1, 2);
    m_status[0] = makeStatus(page, 0);
    grid->addWidget(m_status[0], 2, 0, 1, 2);
    return page;
}

QWidget* UpdateWindow::setupLogPage(int index) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    m_logs[std::size_t(index)] = makeLog(page, index);
    layout->addWidget(m_logs[std::size_t(index)], 1);
    m_status[std::size_t(index)] = makeStatus(page, index);
    layout->addWidget(m_status[std::size_t(index)]);
    return page;
}

QWidget* UpdateWindow::setupTablesPage() {
    QWidget* page = setupLogPage(2);
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    auto* stage = new QGroupBox(QStringLiteral("Current Update Stage"), page);
    stage->setObjectName(QStringLiteral("fraUpdateStage"));
    auto* table = new QGroupBox(QStringLiteral("Current/Last TABLE Being Copied"), page);
    table->setObjectName(QStringLiteral("fraTableCopied"));
    auto* stageGrid = new QGridLayout(stage);
    auto* tableGrid = new QGridLayout(table);
    for (int n = 0; n < kProgressLines; ++n) {
        QWidget* frame = n < 3 ? stage : table;
        QGridLayout* grid = n < 3 ? stageGrid : tableGrid;
        auto* line = new QLineEdit(frame);
        line->setObjectName(arrayName("txtProgressText", n));
        line->setReadOnly(true);
        auto* value = new QLineEdit(frame);
        value->setObjectName(arrayName("txtProgressValue", n));
        value->setReadOnly(true);
        value->setMaximumWidth(90);
        auto* bar = new QProgressBar(frame);
        bar->setObjectName(arrayName("pbrProgress", n));
        bar->setRange(0, 100);
        bar->setValue(0);
        const int row = n < 3 ? n : n - 3;
        grid->addWidget(line, row, 0);
        grid->addWidget(value, row, 1);
        grid->addWidget(bar, row, 2);
        m_progressText[std::size_t(n)] = line;
        m_progressValue[std::size_t(n)] = value;
        m_progressBar[std::size_t(n)] = bar;
    }
    layout->insertWidget(0, stage);
    layout->insertWidget(1, table);
    return page;
}

void UpdateWindow::setupButtons() {
    auto* row = new QHBoxLayout;
    m_dateTime = new QLabel(this);
    m_dateTime->setObjectName(QStringLiteral("lblDateTime"));
    row->addWidget(m_dateTime, 1);
    const char* names[] = {"cmdConnect", "cmdDisconnect", "cmdExit"};
    const char* captions[] = {"Check For Update", "Disconnect", "Exit"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(QString::fromLatin1(captions[i]), this);
        button->setObjectName(QString::fromLatin1(names[i]));
        button->setAutoDefault(false);
        button->setMinimumWidth(130);
        row->addWidget(button);
        m_buttons[std::size_t(i)] = button;
    }
    connect(m_buttons[0], &QPushButton::clicked, this, [this] { m_session.cmdConnectClick(); });
    connect(m_buttons[1], &QPushButton::clicked, this, [this] { m_session.cmdDisconnectClick(); });
    connect(m_buttons[2], &QPushButton::clicked, this, [this] { m_session.cmdExitClick(); });
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

void UpdateWindow::setupMenu() {
    auto* bar = new QMenuBar(this);
    bar->setObjectName(QStringLiteral("mnuBar"));
    QMenu* options = bar->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("mnuOptions"));
    const char* names[] = {"mnuShowCommandLog", "mnuIgnoreUpdate", "mnuTraceFile"};
    const char* captions[] = {"Show Command Log", "Ignore This Update", "Produce Trace File"};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) options->addSeparator();
        QAction* action = options->addAction(QString::fromLatin1(captions[i]));
        action->setObjectName(QString::fromLatin1(names[i]));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this,
                [this, i] { m_session.menuItemClicked(OptionsItem(i)); });
        m_menuItems[std::size_t(i)] = action;
    }
}

void UpdateWindow::setupStatusBar() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("stb1"));
    m_statusBar->setSizeGripEnabled(false);
    for (const PanelDefinition& panel : kPanels) {
        auto* label = new QLabel(m_statusBar);
        label->setObjectName(QString::fromLatin1(panel.key));
        label->setToolTip(QString::fromLatin1(panel.description));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setMinimumWidth(90);
        m_statusBar->addWidget(label, panel.key == std::string_view("ACTION") ? 1 : 0);
    }
}

void UpdateWindow::setButtonEnabled(UpdateButton button, bool enabled) {
    m_buttons[std::size_t(button)]->setEnabled(enabled);
}

void UpdateWindow::setMenuItem(OptionsItem item, bool checked, bool enabled) {
    QAction* action = m_menuItems[std::size_t(item)];
    action->setChecked(checked);
    action->setEnabled(enabled);
}

void UpdateWindow::showCommandLog(bool shown) {
    m_logs[3]->setVisible(shown);
    m_logs[0]->setVisible(!shown);
}

void UpdateWindow::remoteListCleared() { m_remoteFiles->clear(); }

void UpdateWindow::remoteItemInserted(int index, std::string_view name) {
    m_remoteFiles->insertItem(index, text(name));
}

void UpdateWindow::remoteItemSelected(int index, bool selected) {
    if (QListWidgetItem* item = m_remoteFiles->item(index)) item->setSelected(selected);
}

void UpdateWindow::remoteCurrentItem(int index) {
    // Moving the current item must not change the selection marks.
    if (index < 0) {
        m_remoteFiles->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
        return;
    }
    m_remoteFiles->setCurrentRow(index, QItemSelectionModel::NoUpdate);
}

void UpdateWindow::transferProgressChanged(int value, int maximum) {
    m_pbr1->setRange(0, maximum);
    m_pbr1->setValue(value);
}

void UpdateWindow::showDateTime(std::string_view value) { m_dateTime->setText(text(value)); }

void UpdateWindow::setTimer(bool running, int intervalMilliseconds) {
    m_timer->setInterval(intervalMilliseconds);
    if (!running)
        m_timer->stop();
    else if (!m_timer->isActive())
        m_timer->start();
}

void UpdateWindow::closeWindow() { close(); }

void UpdateWindow::showUpdateNotice() {
    if (m_notice) {
        m_notice(this);
        return;
    }
    QMessageBox::information(this, QStringLiteral("Kestmoor Tavrel Update"),
                             QString::fromLatin1(kNotice4500));
}

void UpdateWindow::letEventsRun() { QCoreApplication::processEvents(); }

std::string UpdateWindow::panelText(std::string_view key) const {
    auto* label = m_statusBar->findChild<QLabel*>(text(key));
    return label ? label->text().toLocal8Bit().toStdString() : std::string();
}

void UpdateWindow::setPanelText(std::string_view key, std::string_view value) {
    if (auto* label = m_statusBar->findChild<QLabel*>(text(key))) label->setText(text(value));
}

void UpdateWindow::ProgressText(int line, std::string_view value) {
    if (line < 0 || line >= kProgressLines) return;
    m_progressText[std::size_t(line)]->setText(text(value));
    m_progressText[std::size_t(line)]->repaint();
}

void UpdateWindow::ProgressValue(int bar, std::int64_t value, std::int64_t maximum) {
    if (bar < 0 || bar >= kProgressBars) return;
    QProgressBar* widget = bar < kProgressLines ? m_progressBar[std::size_t(bar)] : nullptr;
    if (maximum != -1) {
        m_barMaximum[std::size_t(bar)] = maximum;
        if (widget) widget->setRange(0, 100);
        QCoreApplication::processEvents();
    }
    if (value <= 0) return;
    const std::int64_t most = m_barMaximum[std::size_t(bar)];
    // Scaled in 64 bits: record counts and byte sizes do not fit an int.
    const int percent = most > 0 ? int(std::min<std::int64_t>(value * 100 / most, 100)) : 0;
    if (!widget) return;
    m_progressValue[std::size_t(bar)]->setText(QString::number(value));
    widget->setValue(percent);
    widget->repaint();
    widget->setToolTip(QStringLiteral("Completed Percentage %1%").arg(percent));
    if ((bar == 2 || bar == 3) && percent % 10 == 0) QCoreApplication::processEvents();
}

void UpdateWindow::SelectLogPage(int page) {
    if (page < 0 || page >= m_tabs->count()) return;
    m_tabs->setTabEnabled(page, true);
    m_tabs->setCurrentIndex(page);
    repaint();
    QCoreApplication::processEvents();
}

void UpdateWindow::pageCleared(int page) { m_logs[std::size_t(page)]->clear(); }

void UpdateWindow::lineAdded(int page, std::string_view line) {
    m_logs[std::size_t(page)]->appendPlainText(text(line));
}

void UpdateWindow::statusChanged(int page, std::string_view value) {
    m_status[std::size_t(page)]->setText(text(value));
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    if (!m_session.QueryUnload()) {
        event->ignore();
        return;
    }
    m_session.FormUnload();
    event->accept();
    done(QDialog::Accepted);
}

void UpdateWindow::reject() { close(); }

int showUpdateWindowModal(const UpdateWindowServices& services, QWidget* parent) {
    UpdateSession session(SessionCollaborators{services.state, services.configuration,
                                               services.clock, services.versions, services.history,
                                               services.timeouts});
    UpdateWindow window(session, services.notice, parent);
    std::unique_ptr<PackageInstallation> installation;
    if (services.makeInstallation)
        installation =
            services.makeInstallation(UpdateWindowParts{session.windowLog(), window, window});
    session.setInstallation(installation.get());
    session.FormLoad();
    window.exec();
    const int result = session.lastSessionResult();
    session.setInstallation(nullptr);
    return result;
}

}  // namespace tavrel::session
