// The modal "Buttons and Keys" dialog: the program icon, the caption "VorGlobal" and three texts on
// how the mouse buttons and cursor keys work. Objects: "ctl888" (OK), "caption", "text1".."text3".
#pragma once

#include <QDialog>

namespace vg {

class KeysDialog : public QDialog {
    Q_OBJECT
public:
    explicit KeysDialog(QWidget* parent = nullptr);
};

// Runs the dialog modally over `parent` until OK or close.
void run_keys_dialog(QWidget* parent);

}  // namespace vg
