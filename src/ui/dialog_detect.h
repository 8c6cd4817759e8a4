// Detect's small non-modal list ("Detect Receiver"): what answered, one line each, "Searching…" or
// "Done" above them, and Use / Close. Use (or a double click) says which line was chosen; Close, the
// close box or Escape hides it and says so (a search still running is ended by the receiver of
// `closed`). Named children: "detect_state", "detect_list", "detect_use", "detect_close".
#pragma once

#include <QDialog>

#include "platform/window.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace vg {

class DetectDialog : public QDialog {
    Q_OBJECT
public:
    explicit DetectDialog(QWidget* parent = nullptr);

    // Replaces the lines and the state; shows the dialog when hidden.
    void show_texts(const DetectTexts& texts);
    QStringList lines() const;

Q_SIGNALS:
    void chosen(int index);
    void closed();

protected:
    void done(int result) override;

private:
    QLabel* state_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* use_ = nullptr;
};

}  // namespace vg
