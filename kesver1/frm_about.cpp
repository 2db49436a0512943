#include "kesver1/frm_about.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "kesver1/ansi_text.h"

namespace tavrel::kesver1 {

namespace {

// The window measures 468 x 333 pixels with its dialog frame (3 pixels on each
// side) and caption (22 pixels); the controls are placed in the client area.
constexpr int kWindowWidth = 468;
constexpr int kWindowHeight = 333;
constexpr int kClientWidth = kWindowWidth - 2 * 3;
constexpr int kClientHeight = kWindowHeight - 2 * 3 - 22;

constexpr int kLabelX = 7;
constexpr int kLabelWidth = 95;
constexpr int kBoxX = 108;
constexpr int kBoxWidth = 348;
constexpr int kRowHeight = 16;
constexpr int kFirstRowY = 12;
constexpr int kRowStep = 20;
constexpr int kCommentsHeight = 61;

struct Row {
    const char* label;
    const char* labelName;
    const char* boxName;
};
constexpr Row kRows[] = {
    {"File Name:", "lblFileName", "txtFileName"},
    {"File Location:", "lblFileLocation", "txtFileLocation"},
    {"Company Name:", "lblCompanyName", "txtCompanyName"},
    {"Copyright:", "lblCopyright", "txtCopyright"},
    {"Legal TradeMarks:", "lblLegalTradeMarks", "txtLegalTradeMarks"},
    {"File Version:", "lblFileVersion", "txtFileVersion"},
    {"Product Version:", "lblProductVersion", "txtProductVersion"},
    {"Internal Name:", "lblInternalName", "txtInternalName"},
    {"Original Name:", "lblOriginalName", "txtOriginalName"},
    {"Comments:", "lblComments", "txtComments"},
};

QString fromAnsi(const std::string& text) { return QString::fromStdU16String(ansiToUtf16(text)); }

}  // namespace

FrmAbout::FrmAbout(std::function<VersionRecord()> recordSource, QWidget* parent)
    : QDialog(parent), m_recordSource(std::move(recordSource)) {
    setUpWindow();
    setUpRows();
    setUpButton();
    QCoreApplication::postEvent(this, new QEvent(kFillEvent));
}

void FrmAbout::setUpWindow() {
    setObjectName("KESVER1_FRMABOUT");
    setWindowTitle("About File");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    // Where MS Sans Serif is missing, fall back to faces of about its width,
    // so that the longest label still fits its 95 pixels.
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                      "DejaVu Sans Condensed"});
    font.setPointSize(8);
    font.setWeight(QFont::Normal);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QPoint centre = screen->availableGeometry().center();
        move(centre.x() - kWindowWidth / 2, centre.y() - kWindowHeight / 2);
    }
}

void FrmAbout::setUpRows() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const int y = kFirstRowY + static_cast<int>(i) * kRowStep;
        auto* label = new QLabel(kRows[i].label, this);
        label->setObjectName(kRows[i].labelName);
        label->setGeometry(kLabelX, y, kLabelWidth, kRowHeight);
        if (i + 1 < std::size(kRows)) {
            auto* box = new QLineEdit(this);
            box->setReadOnly(true);
            box->setFrame(true);
            box->setObjectName(kRows[i].boxName);
            box->setGeometry(kBoxX, y, kBoxWidth, kRowHeight);
            m_boxes[i] = box;
        } else {
            m_comments = new QPlainTextEdit(this);
            m_comments->setReadOnly(true);
            m_comments->setObjectName(kRows[i].boxName);
            m_comments->setGeometry(kBoxX, y, kBoxWidth, kCommentsHeight);
        }
    }
}

void FrmAbout::setUpButton() {
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("cmdOK");
    ok->setGeometry(180, 264, 80, 28);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

bool FrmAbout::event(QEvent* event) {
    if (event->type() == kFillEvent) {
        fill();
        return true;
    }
    return QDialog::event(event);
}

void FrmAbout::fill() {
    const VersionRecord record = m_recordSource ? m_recordSource() : VersionRecord{};
    const std::string* values[] = {
        &record.fileName,           &record.fileFolder,      &record.companyName,
        &record.legalCopyright,     &record.legalTrademarks, &record.fileVersionText,
        &record.productVersionText, &record.internalName,    &record.originalFilename};
    for (size_t i = 0; i < m_boxes.size(); ++i) {
        m_boxes[i]->setText(fromAnsi(*values[i]));
        m_boxes[i]->setCursorPosition(0);
    }
    m_comments->setPlainText(fromAnsi(record.comments));
}

}  // namespace tavrel::kesver1
