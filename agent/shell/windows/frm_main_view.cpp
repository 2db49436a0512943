// frmMain: what the logic shows through MainWindowView.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include "agent/shell/windows/frm_main.h"

namespace tavrel::agent {
namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

int pixels(int twips) { return twips / kTwipsPerPixel; }
int twips(int pixels) { return pixels * kTwipsPerPixel; }

const char* iconFile(std::string_view key) {
    if (key == "AUTOMATIC") return ":/icons/automatic.png";
    if (key == "RUNNING") return ":/icons/running.png";
    if (key == "STOPPED") return ":/icons/stopped.png";
    return ":/icons/general.png";
}

// The height of the folder panel picWindow(2), in pixels.
constexpr int kFolderPanelHeight = 24;

}  // namespace

QIcon stateIcon(std::string_view stateKey) {
    return QIcon(QString::fromLatin1(iconFile(stateKey)));
}

QIcon programIcon() { return QIcon(QStringLiteral(":/icons/program.png")); }

void FrmMain::showMessageBox(const std::string& title, const std::string& message, MessageStyle) {
    QMessageBox box(QMessageBox::Information, text(title), text(message), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.exec();
}

void FrmMain::setCaption(const std::string& caption) { setWindowTitle(text(caption)); }

void FrmMain::setStateIcon(std::string_view stateKey) { setWindowIcon(stateIcon(stateKey)); }

void FrmMain::setApplicationMenuEnabled(bool enabled) {
    m_applicationMenu->menuAction()->setEnabled(enabled);
}

void FrmMain::setApplicationItemEnabled(int index, bool enabled) {
    if (QAction* action = m_applicationItems.at(size_t(index))) action->setEnabled(enabled);
}

void FrmMain::setButtonEnabled(int index, bool enabled) {
    m_buttons.at(size_t(index))->setEnabled(enabled);
}

void FrmMain::setTrayItemEnabled(int index, bool enabled) {
    if (QAction* action = m_trayItems.at(size_t(index))) action->setEnabled(enabled);
}

void FrmMain::setOptionChecked(int index, bool checked) {
    if (QAction* action = m_optionItems.at(size_t(index))) action->setChecked(checked);
}

void FrmMain::setOptionEnabled(int index, bool enabled, const std::string& toolTip) {
    QAction* action = m_optionItems.at(size_t(index));
    if (!action) return;
    action->setEnabled(enabled);
    action->setToolTip(toolTip.empty() ? action->text() : text(toolTip));
}

void FrmMain::setReportMenuCaption(const std::string& caption) {
    m_reportAction->setText(text(caption));
}

void FrmMain::setTrayShowCaption(const std::string& caption) {
    m_trayItems[0]->setText(text(caption));
}

void FrmMain::setTrayMenuInMenuBar(bool visible) { m_trayMenu->menuAction()->setVisible(visible); }

QLabel* FrmMain::panel(std::string_view key) const {
    return m_statusBar->findChild<QLabel*>(QString::fromLatin1(key.data(), qsizetype(key.size())),
                                           Qt::FindDirectChildrenOnly);
}

void FrmMain::setPanelText(std::string_view key, const std::string& value) {
    if (QLabel* label = panel(key)) label->setText(text(value));
}

void FrmMain::setPanelToolTip(std::string_view key, const std::string& toolTip) {
    if (QLabel* label = panel(key)) label->setToolTip(text(toolTip));
}

std::string FrmMain::panelText(std::string_view key) const {
    QLabel* label = panel(key);
    return label ? label->text().toStdString() : std::string();
}

void FrmMain::setFolderText(const std::string& value) { m_folderLabel->setText(text(value)); }

int FrmMain::windowWidthTwips() const { return twips(width()); }
int FrmMain::windowHeightTwips() const { return twips(height()); }

void FrmMain::setWindowSizeTwips(int width, int height) { resize(pixels(width), pixels(height)); }

int FrmMain::clientWidthTwips() const { return twips(centralWidget()->width()); }

int FrmMain::buttonColumnWidthTwips() const { return twips(140); }

int FrmMain::folderPanelWidthTwips() const { return twips(m_picWindow[2]->width()); }

int FrmMain::folderLabelLeftTwips() const { return twips(m_folderLabel->x()); }

void FrmMain::applyLayout(const WindowLayout& layout) {
    QWidget* central = centralWidget();
    const int height = central->height();
    m_picWindow[2]->setGeometry(0, 0, central->width(), kFolderPanelHeight);
    m_folderCaption->setGeometry(4, 4, 90, 16);
    m_folderLabel->move(96, 4);
    m_folderLabel->resize(std::max(0, pixels(layout.folderLabelWidthTwips)), 16);
    const int top = kFolderPanelHeight;
    m_picWindow[0]->setVisible(layout.buttonsVisible);
    m_picWindow[0]->setGeometry(0, top, 140, height - top);
    const int left = layout.buttonsVisible ? 140 + 2 : 2;
    const int width = std::max(0, pixels(layout.listPanelWidthTwips));
    m_picWindow[1]->setGeometry(left, top, width, height - top);
    const int inner = std::max(0, height - top - 2);
    m_list->setGeometry(0, 0, width, inner);
    m_report->setGeometry(0, 0, width, std::max(0, inner - 32));
    m_closeReport->setGeometry(std::max(0, width - 90), std::max(0, inner - 28), 86, 26);
}

bool FrmMain::isWindowVisible() const { return isVisible(); }

bool FrmMain::isWindowNormal() const { return !isMinimized() && !isMaximized() && !isFullScreen(); }

void FrmMain::showWindow() {
    show();
    raise();
    activateWindow();
}

void FrmMain::hideWindow() { hide(); }

void FrmMain::restoreNormalState() { setWindowState(Qt::WindowNoState); }

void FrmMain::processPendingEvents() { QCoreApplication::processEvents(); }

void FrmMain::showUpdateList(const history::UpdateListModel& model) {
    // Items that are there already keep their place; new ones come at the end.
    const QColor failed(255, 0, 0);
    const QColor normal = palette().color(QPalette::WindowText);
    if (size_t(m_list->topLevelItemCount()) > model.count()) m_list->clear();
    for (size_t i = 0; i < model.count(); ++i) {
        const history::UpdateListItem& item = model.items()[i];
        QTreeWidgetItem* row =
            int(i) < m_list->topLevelItemCount() ? m_list->topLevelItem(int(i)) : nullptr;
        if (!row || row->data(0, Qt::UserRole).toString() != text(item.key)) {
            if (row) m_list->clear();
            row = new QTreeWidgetItem(m_list);
            row->setData(0, Qt::UserRole, text(item.key));
        }
        row->setText(0, text(item.text));
        for (size_t c = 0; c < item.subItems.size(); ++c) {
            row->setText(int(c) + 1, text(item.subItems[c]));
        }
        for (int c = 0; c < m_list->columnCount(); ++c) {
            row->setForeground(c, item.failed ? failed : normal);
            row->setToolTip(c, text(item.toolTip));
        }
    }
}

std::optional<std::string> FrmMain::selectedItemKey() const {
    QTreeWidgetItem* item = m_list->currentItem();
    if (!item || !item->isSelected()) return std::nullopt;
    return item->data(0, Qt::UserRole).toString().toStdString();
}

void FrmMain::showReport(const std::string& report) {
    m_report->setPlainText(text(report));
    m_report->setVisible(true);
    m_closeReport->setVisible(true);
    m_closeReport->setDefault(false);
    m_list->setVisible(false);
    m_report->setFocus();
}

void FrmMain::hideReport() {
    m_list->setVisible(true);
    m_report->setVisible(false);
    m_closeReport->setVisible(false);
    m_report->clear();
}

int FrmMain::timerInterval() const { return m_timer->interval(); }

void FrmMain::setTimerInterval(int milliseconds) { m_timer->setInterval(milliseconds); }

void FrmMain::setTimerEnabled(bool enabled) {
    if (enabled && !m_unloaded) {
        m_timer->start();
    } else {
        m_timer->stop();
    }
}

void FrmMain::addTrayIcon(std::string_view stateKey, const std::string& tip) {
    if (!m_tray) return;
    m_tray->setIcon(stateIcon(stateKey));
    m_tray->setToolTip(text(tip));
    m_tray->show();
}

void FrmMain::modifyTrayIcon(std::string_view stateKey, const std::string& tip) {
    if (!m_tray) return;
    m_tray->setIcon(stateIcon(stateKey));
    m_tray->setToolTip(text(tip));
}

void FrmMain::deleteTrayIcon() {
    if (m_tray) m_tray->hide();
}

void FrmMain::popupTrayMenu() {
    m_trayMenu->setDefaultAction(m_trayItems[0]);
    m_trayMenu->popup(QCursor::pos());
}

void FrmMain::showAboutBox() { m_dialogs.showAboutBox(this); }

void FrmMain::showHideOnClose() { m_dialogs.showHideOnClose(this); }

void FrmMain::showHideOnMinimize() { m_dialogs.showHideOnMinimize(this); }

void FrmMain::unloadWindow() {
    if (m_unloaded) return;
    m_closingFromCode = true;
    // A hidden window is closed all the same.
    close();
    m_closingFromCode = false;
}

}  // namespace tavrel::agent
