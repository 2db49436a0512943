// The "About File" dialog: ten rows of labels and read-only boxes and an OK
// button, filled from a version record by an event it posts to itself once it
// has been created.
#pragma once

#include <QDialog>
#include <QEvent>
#include <array>
#include <functional>

#include "kesver1/version_record.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tavrel::kesver1 {

class FrmAbout : public QDialog {
  public:
    // The event the dialog posts to itself after creation; on it the boxes
    // are filled from the record.
    static constexpr QEvent::Type kFillEvent = static_cast<QEvent::Type>(QEvent::User + 1001);

    // `recordSource` gives the record to show when the fill event arrives.
    explicit FrmAbout(std::function<VersionRecord()> recordSource, QWidget* parent = nullptr);

  protected:
    bool event(QEvent* event) override;

  private:
    void setUpWindow();
    void setUpRows();
    void setUpButton();
    void fill();

    std::function<VersionRecord()> m_recordSource;
    std::array<QLineEdit*, 9> m_boxes{};
    QPlainTextEdit* m_comments = nullptr;
};

}  // namespace tavrel::kesver1
