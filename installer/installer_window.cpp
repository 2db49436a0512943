#include "installer/installer_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include "platform/text_rules.h"

namespace tavrel::installer {
namespace {

// The edit boxes of the window are upper-case boxes: whatever is put in them
// shows in upper case. Only ASCII letters change, by the same rule the log file
// is written with, so UPDATELOG.TXT holds exactly the text of the log box.
QString boxText(const std::string& text) {
    return QString::fromLocal8Bit(platform::upperText(text));
}

template <typename Widget>
Widget* placeControl(Widget* widget, ControlId id, int x, int y, int width, int height) {
    widget->setObjectName(controlName(id));
    widget->setProperty("controlId", int(id));
    widget->setGeometry(x, y, width, height);
    return widget;
}

QLineEdit* makeBox(QWidget* parent, Qt::Alignment alignment, const char* text) {
    auto* box = new QLineEdit(parent);
    box->setReadOnly(true);
    box->setFrame(true);
    box->setAlignment(alignment | Qt::AlignVCenter);
    box->setText(QString::fromLatin1(platform::upperText(text)));
    // Read-only boxes are not tab stops.
    box->setFocusPolicy(Qt::ClickFocus);
    return box;
}

QPixmap drawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 70, 150));
    painter.drawRoundedRect(QRectF(unit * 0.5, unit * 0.5, unit * 15, unit * 15), unit * 2.5,
                            unit * 2.5);
    // A downward arrow: a new version arriving.
    QPainterPath arrow;
    arrow.moveTo(unit * 6, unit * 3);
    arrow.lineTo(unit * 10, unit * 3);
    arrow.lineTo(unit * 10, unit * 8);
    arrow.lineTo(unit * 13, unit * 8);
    arrow.lineTo(unit * 8, unit * 13);
    arrow.lineTo(unit * 3, unit * 8);
    arrow.lineTo(unit * 6, unit * 8);
    arrow.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    return pixmap;
}

}  // namespace

QString controlName(ControlId id) { return QStringLiteral("control%1").arg(int(id)); }

QIcon kesUpdateIcon() {
    QIcon icon;
    icon.addPixmap(drawIcon(16));
    icon.addPixmap(drawIcon(32));
    return icon;
}

void QtEventQueue::post(std::function<void()> step) {
    QMetaObject::invokeMethod(m_context, std::move(step), Qt::QueuedConnection);
}

InstallerWindow::InstallerWindow(Installer& installer, QWidget* parent)
    : QWidget(parent), m_installer(installer), m_queue(this) {
    setupWindow();
    setupLabels();
    setupBoxes();
    setupButtons();
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("timer1010"));
    connect(m_timer, &QTimer::timeout, this, [this] { m_installer.onTimer(); });
    m_installer.onCreate(*this, m_queue);
}

void InstallerWindow::setupWindow() {
    setObjectName(QString::fromLatin1(kWindowClassName));
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    setWindowIcon(kesUpdateIcon());
    // MS Sans Serif at a height of 11 pixels (8 point on a 96 dpi screen); the
    // controls are placed in pixels, so the font is sized in pixels too.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    setFont(font);
    resize(kClientWidth, kClientHeight);
    centreOnScreen();
}

void InstallerWindow::setupLabels() {
    auto* current = placeControl(new QLabel(QStringLiteral("Current Version"), this),
                                 ControlId::CurrentVersionLabel, 41, 12, 96, 16);
    current->setAlignment(Qt::AlignRight | Qt::AlignTop);
    auto* updated = placeControl(new QLabel(QStringLiteral("Updated Version"), this),
                                 ControlId::UpdatedVersionLabel, 333, 12, 96, 16);
    updated->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* folder = placeControl(new QLabel(QStringLiteral("Current Folder"), this),
                                ControlId::CurrentFolderLabel, 8, 32, 96, 16);
    folder->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void InstallerWindow::setupBoxes() {
    m_installedVersionBox = placeControl(makeBox(this, Qt::AlignHCenter, "UPDATE0000"),
                                         ControlId::InstalledVersionBox, 143, 8, 88, 20);
    m_newVersionBox = placeControl(makeBox(this, Qt::AlignHCenter, "UPDATE0000"),
                                   ControlId::NewVersionBox, 239, 8, 88, 20);
    m_folderBox = placeControl(makeBox(this, Qt::AlignLeft, "Current Folder"), ControlId::FolderBox,
                               6, 48, 480, 24);

    m_logBox = placeControl(new QPlainTextEdit(this), ControlId::LogBox, 6, 80, 480, 236);
    m_logBox->setReadOnly(true);
    m_logBox->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_logBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_logBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_logBox->setFocusPolicy(Qt::StrongFocus);
}

void InstallerWindow::setupButtons() {
    m_runSetupButton = placeControl(new QPushButton(QStringLiteral("Run Setup"), this),
                                    ControlId::RunSetupButton, 96, 324, 140, 32);
    m_exitButton = placeControl(new QPushButton(QStringLiteral("Exit"), this),
                                ControlId::ExitButton, 248, 324, 140, 32);
    m_runSetupButton->setEnabled(false);
    m_exitButton->setEnabled(false);
    connect(m_runSetupButton, &QPushButton::clicked, this, [this] { m_installer.onRunSetup(); });
    connect(m_exitButton, &QPushButton::clicked, this, [this] { m_installer.onExit(); });
}

void InstallerWindow::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - kWindowWidth) / 2,
         area.y() + (area.height() - kWindowHeight) / 2);
}

void InstallerWindow::showFolder(const std::string& text) { m_folderBox->setText(boxText(text)); }

void InstallerWindow::showVersions(const std::string& installed, const std::string& updated) {
    m_installedVersionBox->setText(boxText(installed));
    m_newVersionBox->setText(boxText(updated));
}

void InstallerWindow::showLog(const std::string& text) {
    m_logBox->setPlainText(boxText(text));
    // Keep the newest entries in sight.
    m_logBox->verticalScrollBar()->setValue(m_logBox->verticalScrollBar()->maximum());
}

void InstallerWindow::setRunSetupEnabled(bool enabled) { m_runSetupButton->setEnabled(enabled); }

void InstallerWindow::setExitEnabled(bool enabled) { m_exitButton->setEnabled(enabled); }

void InstallerWindow::repaintNow() {
    if (isVisible()) repaint();
}

void InstallerWindow::startTickTimer(int milliseconds) { m_timer->start(milliseconds); }

void InstallerWindow::closeWindow() { close(); }

void InstallerWindow::closeEvent(QCloseEvent* event) {
    m_installer.onClosed();
    event->accept();
}

}  // namespace tavrel::installer
