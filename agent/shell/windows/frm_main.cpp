// frmMain: building the window and forwarding its events to the logic.
#include "agent/shell/windows/frm_main.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

namespace tavrel::agent {
namespace {

struct ItemText {
    int index;
    const char* menu;
    QKeySequence shortcut;
    const char* button;
    const char* toolTip;
};

const ItemText kItems[] = {
    {0, "Hide", QKeySequence(Qt::CTRL | Qt::Key_H), "&Hide in Tray",
     "Click to Hide in Tray (Ctrl+H)"},
    {1, "Trim Update Log Table", QKeySequence(Qt::CTRL | Qt::Key_T), "Trim Update Log",
     "Click to Trim Update Log Table (Ctrl+T)"},
    {2, "Refresh List", QKeySequence(Qt::CTRL | Qt::Key_R), "&Refresh List",
     "Click to Refresh List (Ctrl+R)"},
    {4, "Update Check", QKeySequence(Qt::CTRL | Qt::Key_U), "&Update Check",
     "Click to Check for Updates (Ctrl+U)"},
    {6, "Settings", QKeySequence(Qt::CTRL | Qt::Key_S), "&Settings",
     "Click to Change Settings (Ctrl+S)"},
    {8, "About", QKeySequence(Qt::CTRL | Qt::Key_A), "&About", "About Application (Ctrl+A)"},
    {10, "Exit", QKeySequence(Qt::CTRL | Qt::Key_X), "E&xit", "Exit Application (Ctrl+X)"},
};

constexpr const char* kFolderToolTip =
    "Kestmoor Tavrel Application Main Folder (Click on Settings to Change)";

struct PanelText {
    const char* key;
    const char* toolTip;
};
const PanelText kPanels[] = {
    {"STATUS", ""},
    {"LASTCHECK", "Last Update Check"},
    {"UPDVERSION", "Current Tavrel Update Version Installed"},
    {"CURVERSION", "Current Kestmoor Tavrel Installed Version "},
    {"MODE", "Update Mode"},
    {"VERSION", "Application Current Version"},
};

QAction* separator(QMenu* menu, const char* name, int index) {
    QAction* action = menu->addSeparator();
    action->setObjectName(arrayName(name, index));
    action->setEnabled(false);
    return action;
}

}  // namespace

QString arrayName(const char* name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

FrmMain::FrmMain(MainWindowDialogs& dialogs, bool trayAvailable, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_trayAvailable(trayAvailable) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowIcon(programIcon());
    setupMenus();
    setupPanels();
    setupButtons();
    setupStatusBar();
    setupTimer();
    if (m_trayAvailable) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setObjectName(QStringLiteral("picHook"));
        connect(m_tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (!m_logic) return;
                    if (reason == QSystemTrayIcon::DoubleClick) {
                        m_logic->picHook_MouseMove(kTrayLeftDoubleClick);
                    } else if (reason == QSystemTrayIcon::Context) {
                        m_logic->picHook_MouseMove(kTrayRightButtonUp);
                    }
                });
    }
}

FrmMain::~FrmMain() = default;

void FrmMain::setupMenus() {
    setupApplicationMenu();
    setupOptionMenu();
    m_reportAction = menuBar()->addAction(QStringLiteral("Open Report"));
    m_reportAction->setObjectName(QStringLiteral("mnuReport"));
    connect(m_reportAction, &QAction::triggered, this, [this] {
        if (m_logic) m_logic->mnuReport_Click();
    });
    setupTrayMenu();
}

void FrmMain::setupApplicationMenu() {
    m_applicationMenu = menuBar()->addMenu(QStringLiteral("&Application"));
    m_applicationMenu->setObjectName(QStringLiteral("mnoApplication"));
    int next = 0;
    for (const ItemText& item : kItems) {
        for (; next < item.index; ++next) separator(m_applicationMenu, "mnoApplication", next);
        QAction* action = m_applicationMenu->addAction(QString::fromLatin1(item.menu));
        action->setObjectName(arrayName("mnoApplication", item.index));
        action->setShortcut(item.shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        const int index = item.index;
        connect(action, &QAction::triggered, this, [this, index] {
            if (m_logic) m_logic->mnoApplication_Click(index);
        });
        m_applicationItems[size_t(index)] = action;
        next = index + 1;
    }
}

void FrmMain::setupOptionMenu() {
    m_optionMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    m_optionMenu->setObjectName(QStringLiteral("mnoOption"));
    const std::pair<int, const char*> options[] = {
        {0, "Hide In System Tray"}, {1, "Hide on Minimize Button"}, {5, "Show Menu Buttons"}};
    for (const auto& option : options) {
        const int index = option.first;
        const char* caption = option.second;
        if (index == 5) separator(m_optionMenu, "mnoOption", 3);
        QAction* action = m_optionMenu->addAction(QString::fromLatin1(caption));
        action->setObjectName(arrayName("mnoOption", index));
        action->setCheckable(true);
        // The tick follows the logic, not the click.
        connect(action, &QAction::triggered, this, [this, index] {
            if (m_logic) m_logic->mnoOption_Click(index);
        });
        m_optionItems[size_t(index)] = action;
    }
    m_optionMenu->setToolTipsVisible(true);
}

void FrmMain::setupTrayMenu() {
    m_trayMenu = menuBar()->addMenu(QStringLiteral("TrayMenu"));
    m_trayMenu->setObjectName(QStringLiteral("mnuTray"));
    const std::pair<int, const char*> items[] = {
        {0, "Show"}, {4, "Update Check"}, {6, "Settings"}, {8, "About"}, {10, "Exit"}};
    for (const auto& [index, caption] : items) {
        if (index > 0) separator(m_trayMenu, "mnoTray", index - 1);
        QAction* action = m_trayMenu->addAction(QString::fromLatin1(caption));
        action->setObjectName(arrayName("mnoTray", index));
        const int i = index;
        connect(action, &QAction::triggered, this, [this, i] {
            if (m_logic) m_logic->mnoTray_Click(i);
        });
        m_trayItems[size_t(index)] = action;
    }
    m_trayMenu->setDefaultAction(m_trayItems[0]);
    m_trayMenu->menuAction()->setVisible(false);
}

void FrmMain::setupPanels() {
    auto* central = new QWidget(this);
    setCentralWidget(central);
    for (int i = 0; i < 3; ++i) {
        m_picWindow[size_t(i)] = new QFrame(central);
        m_picWindow[size_t(i)]->setObjectName(arrayName("picWindow", i));
    }
    m_folderCaption = new QLabel(QStringLiteral("Tavrel Folder:"), m_picWindow[2]);
    m_folderCaption->setObjectName(QStringLiteral("lblTavrelApp"));
    m_folderLabel = new QLabel(m_picWindow[2]);
    m_folderLabel->setObjectName(QStringLiteral("lblTavrelPath"));
    for (QLabel* label : {m_folderCaption, m_folderLabel}) {
        label->setToolTip(QString::fromLatin1(kFolderToolTip));
        watchHints(label);
    }
    m_picWindow[2]->setToolTip(QString::fromLatin1(kFolderToolTip));
    watchHints(m_picWindow[2]);

    m_list = new QTreeWidget(m_picWindow[1]);
    m_list->setObjectName(QStringLiteral("lvwUpdates"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    QStringList headers;
    for (const auto& column : history::kUpdateListColumns) {
        headers << QString::fromLatin1(column.caption.data(), qsizetype(column.caption.size()));
    }
    m_list->setHeaderLabels(headers);
    for (size_t c = 0; c < history::kUpdateListColumns.size(); ++c) {
        m_list->setColumnWidth(int(c), history::kUpdateListColumns[c].widthTwips / kTwipsPerPixel);
    }
    m_list->viewport()->setMouseTracking(true);
    m_list->viewport()->installEventFilter(this);
    connect(m_list, &QTreeWidget::itemClicked, this, [this] {
        if (m_logic) m_logic->lvwUpdates_ItemClick();
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (m_logic) m_logic->lvwUpdates_DblClick();
    });

    m_report = new QTextEdit(m_picWindow[1]);
    m_report->setObjectName(QStringLiteral("rtbReport"));
    m_report->setReadOnly(true);
    m_report->setAcceptRichText(false);
    m_report->setLineWrapMode(QTextEdit::NoWrap);
    m_report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_report->setToolTip(QStringLiteral("Press Escape Key to Close Report"));
    watchHints(m_report);
    m_closeReport = new QPushButton(QStringLiteral("Close"), m_picWindow[1]);
    m_closeReport->setObjectName(QStringLiteral("cmdCloseReport"));
    connect(m_closeReport, &QPushButton::clicked, this, [this] {
        if (m_logic) m_logic->CloseReport();
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_logic && m_logic->reportOpen()) m_logic->CloseReport();
    });
}

void FrmMain::setupButtons() {
    // Spacer buttons (3, 5, 7, 9) are disabled and invisible; the others are
    // stacked from the top in index order.
    int top = 4;
    for (int index = 0; index < kApplicationItemCount; ++index) {
        auto* button = new QPushButton(m_picWindow[0]);
        button->setObjectName(arrayName("cmdApplication", index));
        m_buttons[size_t(index)] = button;
        const ItemText* text = nullptr;
        for (const ItemText& item : kItems) {
            if (item.index == index) text = &item;
        }
        if (!text) {
            button->setEnabled(false);
            button->setVisible(false);
            continue;
        }
        button->setText(QString::fromLatin1(text->button));
        button->setToolTip(QString::fromLatin1(text->toolTip));
        button->setGeometry(4, top, 132, 26);
        top += 26 + 3;
        watchHints(button);
        connect(button, &QPushButton::clicked, this, [this, index] {
            if (m_logic) m_logic->cmdApplication_Click(index);
        });
    }
}

void FrmMain::setupStatusBar() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("stb1"));
    m_statusBar->setSizeGripEnabled(true);
    for (const PanelText& p : kPanels) {
        auto* label = new QLabel(m_statusBar);
        label->setObjectName(QString::fromLatin1(p.key));
        label->setToolTip(QString::fromLatin1(p.toolTip));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(std::string_view(p.key) == "STATUS" ? 200 : 80);
        if (std::string_view(p.key) == "STATUS") {
            m_statusBar->addWidget(label, 1);
        } else {
            m_statusBar->addPermanentWidget(label);
        }
    }
    setStatusBar(m_statusBar);
}

void FrmMain::setupTimer() {
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_logic) m_logic->Timer1_Timer();
    });
}

void FrmMain::watchHints(QWidget* widget) { widget->installEventFilter(this); }

bool FrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (m_logic && (event->type() == QEvent::Enter || event->type() == QEvent::FocusIn)) {
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget && watched != m_list->viewport()) {
            m_logic->showHint(widget->toolTip().toStdString());
        }
    }
    if (m_logic && watched == m_list->viewport() && event->type() == QEvent::MouseMove) {
        m_logic->lvwUpdates_MouseMove();
    }
    return QMainWindow::eventFilter(watched, event);
}

void FrmMain::closeEvent(QCloseEvent* event) {
    const CloseSource source = m_closingFromCode ? CloseSource::Code : CloseSource::CloseBox;
    m_closingFromCode = false;
    if (m_unloaded || !m_logic) {
        event->accept();
        return;
    }
    if (!m_logic->QueryUnload(source)) {
        event->ignore();
        return;
    }
    event->accept();
    m_unloaded = true;
    m_timer->stop();
    m_logic->Form_Unload();
    if (m_onUnload) m_onUnload();
}

void FrmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (m_logic) m_logic->Form_Resize(isMinimized());
}

void FrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_logic) {
        // Let the minimise finish before the window may hide itself.
        QTimer::singleShot(0, this, [this] {
            if (m_logic && isMinimized()) m_logic->Form_Minimized();
        });
    }
}

}  // namespace tavrel::agent
