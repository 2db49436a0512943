#include "agent/shell/windows/frm_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "agent/shell/windows/frm_main.h"

namespace tavrel::agent {
namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

const char* const kTerminateSentence =
    "To Terminate the Application Right-Click the Icon in task Bar and select 'Exit' from the "
    "Menu";

QPushButton* okButton(QDialog* dialog) {
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    return ok;
}

QLineEdit* readOnlyBox(QWidget* parent, const char* name, const std::string& value) {
    auto* box = new QLineEdit(text(value), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setReadOnly(true);
    return box;
}

}  // namespace

std::string hideOnCloseText() {
    return std::string("Option 'Hide on Close Button' is Ticked\r\n\r\n") +
           "Although the main window is being closed, 'Kestmoor Tavrel Update' will continue to " +
           "run in the system tray (near the clock) so that it can continue to check for new "
           "Updates\r\n\r\n" +
           kTerminateSentence;
}

std::string hideOnMinimizeText() {
    return std::string("Option 'Hide on Minimize Button' is Ticked\r\n\r\n") +
           "'Kestmoor Tavrel Update' is returning to the system tray (near the clock) " +
           "so that it can continue to check for new Updates\r\n\r\n" + kTerminateSentence;
}

FrmHide::FrmHide(const std::string& applicationTitle, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHide"));
    setWindowTitle(text(applicationTitle));
    setModal(true);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgIcon"));
    icon->setPixmap(stateIcon("GENERAL").pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblMessage"));
    m_message->setWordWrap(true);
    m_message->setMinimumWidth(360);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(m_message, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(okButton(this), 0, Qt::AlignHCenter);
}

void FrmHide::HideOnClose() {
    m_message->setText(
        text(hideOnCloseText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    exec();
}

void FrmHide::HideOnMinimize() {
    m_message->setText(
        text(hideOnMinimizeText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    exec();
}

QString FrmHide::message() const { return m_message->text(); }

FrmAbout::FrmAbout(const AboutBoxContent& content, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(text(content.caption));
    setWindowIcon(programIcon());
    setModal(true);
    auto* title = new QLabel(text(content.title), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 2);
    title->setFont(bold);
    auto* version = new QLabel(QStringLiteral("Version ") + text(content.version), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* program =
        new QLabel(text(content.executableName + " in " + content.executableFolder), this);
    program->setObjectName(QStringLiteral("lblExecutable"));
    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(32, 32));
    auto* heading = new QHBoxLayout;
    heading->addWidget(icon);
    auto* names = new QVBoxLayout;
    names->addWidget(title);
    names->addWidget(version);
    names->addWidget(program);
    heading->addLayout(names, 1);
    auto* contacts = new QGroupBox(QStringLiteral("Help Desk"), this);
    auto* form = new QFormLayout(contacts);
    form->addRow(QStringLiteral("Web Site:"), readOnlyBox(contacts, "txtWebSite", content.webSite));
    form->addRow(QStringLiteral("E-Mail:"), readOnlyBox(contacts, "txtEMail", content.email));
    form->addRow(QStringLiteral("Telephone:"),
                 readOnlyBox(contacts, "txtTelephone", content.telephone));
    form->addRow(QStringLiteral("Fax:"), readOnlyBox(contacts, "txtFax", content.fax));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(heading);
    layout->addWidget(contacts);
    layout->addWidget(okButton(this), 0, Qt::AlignRight);
    setMinimumWidth(420);
}

std::optional<std::string> QtFileChooser::chooseApplicationFile(QWidget* parent,
                                                                const ApplicationFileRequest& r) {
    QFileDialog dialog(parent, text(r.title), text(r.initialFolder), text(r.filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.selectFile(text(r.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

FrmSetup::FrmSetup(Configuration& configuration, FileChooser& chooser, QWidget* parent)
    : QDialog(parent), m_logic(*this, configuration), m_chooser(chooser) {
    setObjectName(QStringLiteral("frmSetup"));
    setWindowTitle(
        QString::fromLatin1(kSettingsCaption.data(), qsizetype(kSettingsCaption.size())));
    setWindowIcon(programIcon());
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    setupFolderFrame();
    setupTimesFrame();
    setupOtherFrame();
    setupButtons();
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("stb1"));
    m_statusBar->setSizeGripEnabled(false);
    for (const char* key : {"STATUS", "FOLDER"}) {
        auto* panel = new QLabel(m_statusBar);
        panel->setObjectName(QString::fromLatin1(key));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_statusBar->addWidget(panel, 1);
    }
    layout->addWidget(m_statusBar);
    m_logic.Form_Load();
}

void FrmSetup::setupFolderFrame() {
    auto* frame =
        new QGroupBox(QStringLiteral("Kestmoor Tavrel Application Folder (TAVREL32.EXE)"), this);
    m_folder = new QLineEdit(frame);
    m_folder->setObjectName(QStringLiteral("txtPathMain"));
    m_folder->installEventFilter(this);
    connect(m_folder, &QLineEdit::textChanged, this, [this] { m_logic.TestFolder(); });
    auto* find = new QPushButton(QStringLiteral("&Find"), frame);
    find->setObjectName(QStringLiteral("cmdPathMain"));
    find->setAutoDefault(false);
    connect(find, &QPushButton::clicked, this, [this] { m_logic.cmdPathMain_Click(); });
    auto* row = new QHBoxLayout(frame);
    row->addWidget(m_folder, 1);
    row->addWidget(find);
    static_cast<QVBoxLayout*>(layout())->addWidget(frame);
}

void FrmSetup::setupTimesFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Automatic Update Process Start/Finish Time"), this);
    m_updates = new QCheckBox(QStringLiteral("Daily Check for Updates"), frame);
    m_updates->setObjectName(QStringLiteral("chkUpdates"));
    connect(m_updates, &QCheckBox::clicked, this, [this] { m_logic.chkUpdates_Click(); });
    m_start = new QComboBox(frame);
    m_start->setObjectName(QStringLiteral("cboUpdStart"));
    m_finish = new QComboBox(frame);
    m_finish->setObjectName(QStringLiteral("cboUpdFinish"));
    auto* warning = new QLabel(
        QStringLiteral("Warning!!!! Updates cannot be installed while Application is in Use"),
        frame);
    warning->setObjectName(QStringLiteral("lblWarning"));
    auto* form = new QFormLayout(frame);
    form->addRow(m_updates);
    form->addRow(QStringLiteral("Start Time"), m_start);
    form->addRow(QStringLiteral("Finish Time"), m_finish);
    form->addRow(warning);
    static_cast<QVBoxLayout*>(layout())->addWidget(frame);
}

void FrmSetup::setupOtherFrame() {
    auto* frame = new QGroupBox(QStringLiteral("Other Settings"), this);
    m_trace = new QCheckBox(QStringLiteral("Produce Trace File"), frame);
    m_trace->setObjectName(QStringLiteral("chkTraceFile"));
    m_keepLast = new QLineEdit(frame);
    m_keepLast->setObjectName(QStringLiteral("txtKeepLast"));
    m_keepLast->setMaxLength(3);
    m_keepLast->installEventFilter(this);
    auto* form = new QFormLayout(frame);
    form->addRow(m_trace);
    form->addRow(QStringLiteral("Number of Update Records to Keep"), m_keepLast);
    static_cast<QVBoxLayout*>(layout())->addWidget(frame);
}

void FrmSetup::setupButtons() {
    auto* ok = new QPushButton(QStringLiteral("&Ok"), this);
    ok->setObjectName(arrayName("cmdAction", 0));
    ok->setToolTip(QStringLiteral("click here to Exit after saving any changes"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cancel->setObjectName(arrayName("cmdAction", 1));
    cancel->setToolTip(QStringLiteral("click here to Exit without saving any changes"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, [this] { m_logic.cmdAction_Click(0); });
    // Escape and the close box reject the dialog, which saves nothing either.
    connect(cancel, &QPushButton::clicked, this, [this] { m_logic.cmdAction_Click(1); });
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    row->addWidget(cancel);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

bool FrmSetup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_keepLast && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString typed = key->text();
        // Typed characters other than digits are dropped, Backspace with them;
        // keys that type nothing (arrows, Delete, Tab) pass.
        if (key->key() == Qt::Key_Backspace) return true;
        if (!typed.isEmpty() && typed.front().isPrint() &&
            !SettingsDialog::keepLastAccepts(char(typed.front().toLatin1()))) {
            return true;
        }
    }
    if (watched == m_keepLast && event->type() == QEvent::FocusOut) m_logic.txtKeepLast_LostFocus();
    if (watched == m_folder && event->type() == QEvent::FocusIn) m_logic.TestFolder();
    return QDialog::eventFilter(watched, event);
}

void FrmSetup::setHourEntries(const std::vector<std::string>& entries) {
    for (QComboBox* list : {m_start, m_finish}) {
        list->clear();
        for (const std::string& entry : entries) list->addItem(text(entry));
    }
}

int FrmSetup::startIndex() const { return m_start->currentIndex(); }
void FrmSetup::setStartIndex(int index) { m_start->setCurrentIndex(index); }
int FrmSetup::finishIndex() const { return m_finish->currentIndex(); }
void FrmSetup::setFinishIndex(int index) { m_finish->setCurrentIndex(index); }

void FrmSetup::setHourListsEnabled(bool enabled) {
    m_start->setEnabled(enabled);
    m_finish->setEnabled(enabled);
}

std::string FrmSetup::folderText() const { return m_folder->text().toStdString(); }

void FrmSetup::setFolderText(const std::string& value) {
    if (m_folder->text() == text(value)) {
        m_logic.TestFolder();  // no change signal for the same text
    } else {
        m_folder->setText(text(value));
    }
}

void FrmSetup::focusFolder() { m_folder->setFocus(); }
bool FrmSetup::updatesChecked() const { return m_updates->isChecked(); }
void FrmSetup::setUpdatesChecked(bool checked) { m_updates->setChecked(checked); }
bool FrmSetup::traceChecked() const { return m_trace->isChecked(); }
void FrmSetup::setTraceChecked(bool checked) { m_trace->setChecked(checked); }
std::string FrmSetup::keepLastText() const { return m_keepLast->text().toStdString(); }
void FrmSetup::setKeepLastText(const std::string& value) { m_keepLast->setText(text(value)); }

void FrmSetup::setPanelText(std::string_view key, const std::string& value) {
    auto* panel = m_statusBar ? m_statusBar->findChild<QLabel*>(
                                    QString::fromLatin1(key.data(), qsizetype(key.size())))
                              : nullptr;
    if (panel) panel->setText(text(value));
}

std::optional<std::string> FrmSetup::chooseApplicationFile(const ApplicationFileRequest& r) {
    return m_chooser.chooseApplicationFile(this, r);
}

void FrmSetup::closeDialog() { done(QDialog::Accepted); }

}  // namespace tavrel::agent
