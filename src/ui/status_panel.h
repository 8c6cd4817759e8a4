// The main window's status bar: the receiver and its state, the fix and its satellites, the age of
// the last fix, the view's tiles (left, failed and why) and on or off line, each a label named
// "status_receiver", "status_fix", "status_age", "status_tiles", "status_line", the height under the
// pointer "status_ground" (hidden while none is known), and a Detect button
// ("status_detect") shown while Detect is offered. Texts come from each paint's frame.
#pragma once

#include <QStatusBar>

#include "app/paint_frame.h"

class QLabel;
class QPushButton;

namespace vg {

class StatusPanel : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget* parent = nullptr);

    // The fields of one paint; labels whose text is unchanged are not touched.
    void show_status(const PaintFrame::Status& status, bool offer_detect);
    QString receiver_text() const;

Q_SIGNALS:
    void detect_clicked();

private:
    QLabel* receiver_ = nullptr;
    QLabel* fix_ = nullptr;
    QLabel* age_ = nullptr;
    QLabel* tiles_ = nullptr;
    QLabel* line_ = nullptr;
    QLabel* ground_ = nullptr;
    QPushButton* detect_ = nullptr;
};

}  // namespace vg
