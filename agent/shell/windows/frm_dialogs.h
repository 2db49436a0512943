// The agent's small modal windows: the tray notices frmHide, the about box
// frmAbout, and the settings dialog frmSetup over SettingsDialog.
#pragma once

#include <QDialog>
#include <functional>

#include "agent/shell/about_box.h"
#include "agent/shell/settings_dialog.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace tavrel::agent {

// frmHide: the image of "GENERAL", a message and OK; caption the application title.
class FrmHide : public QDialog {
  public:
    explicit FrmHide(const std::string& applicationTitle, QWidget* parent = nullptr);
    // Show the close or the minimise notice modally.
    void HideOnClose();
    void HideOnMinimize();
    QString message() const;

  private:
    QLabel* m_message = nullptr;
};

// The two notices' texts.
std::string hideOnCloseText();
std::string hideOnMinimizeText();

// frmAbout: caption "About " + title; read-only contact boxes; OK.
class FrmAbout : public QDialog {
  public:
    explicit FrmAbout(const AboutBoxContent& content, QWidget* parent = nullptr);
};

// The platform's file-open chooser for "&Find"; tests give their own.
class FileChooser {
  public:
    virtual ~FileChooser() = default;
    virtual std::optional<std::string> chooseApplicationFile(QWidget* parent,
                                                             const ApplicationFileRequest& r) = 0;
};

// QFileDialog with the request's title, file name, filter and folder; only
// an existing file can be chosen.
class QtFileChooser : public FileChooser {
  public:
    std::optional<std::string> chooseApplicationFile(QWidget* parent,
                                                     const ApplicationFileRequest& r) override;
};

// frmSetup over SettingsDialog. Opening it runs the dialog's opening steps.
class FrmSetup : public QDialog, public SettingsView {
  public:
    // `configuration` and `chooser` are borrowed and must outlive the dialog.
    FrmSetup(Configuration& configuration, FileChooser& chooser, QWidget* parent = nullptr);

    void setHourEntries(const std::vector<std::string>& entries) override;
    int startIndex() const override;
    void setStartIndex(int index) override;
    int finishIndex() const override;
    void setFinishIndex(int index) override;
    void setHourListsEnabled(bool enabled) override;
    std::string folderText() const override;
    void setFolderText(const std::string& text) override;
    void focusFolder() override;
    bool updatesChecked() const override;
    void setUpdatesChecked(bool checked) override;
    bool traceChecked() const override;
    void setTraceChecked(bool checked) override;
    std::string keepLastText() const override;
    void setKeepLastText(const std::string& text) override;
    void setPanelText(std::string_view key, const std::string& text) override;
    std::optional<std::string> chooseApplicationFile(const ApplicationFileRequest& r) override;
    void closeDialog() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setupFolderFrame();
    void setupTimesFrame();
    void setupOtherFrame();
    void setupButtons();

    SettingsDialog m_logic;
    FileChooser& m_chooser;
    QLineEdit* m_folder = nullptr;
    QCheckBox* m_updates = nullptr;
    QComboBox* m_start = nullptr;
    QComboBox* m_finish = nullptr;
    QCheckBox* m_trace = nullptr;
    QLineEdit* m_keepLast = nullptr;
    QStatusBar* m_statusBar = nullptr;
};

}  // namespace tavrel::agent
