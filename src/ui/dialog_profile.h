// The non-modal Profile dialog (Gps → Profile...): the profile of the track App handed over, as
// elevation or speed against distance or time (plot/profile_chart.h draws it), PNG and SVG export,
// and hover: a vertical cursor with the point's values, the point's place sent to App's `highlight`
// hook so that the map marks it (none when the pointer leaves or the dialog closes).
// Window thread only; closing it deletes it. Controls are named: "quantity", "axis", "plot",
// "export_png", "export_svg".
#pragma once

#include <QDialog>
#include <QWidget>

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/window.h"
#include "plot/profile_chart.h"

class QComboBox;

namespace vg {

// The plot of the dialog: the chart at the widget's size, redrawn with the cursor at the point the
// pointer names.
class ProfileView : public QWidget {
    Q_OBJECT
public:
    explicit ProfileView(QWidget* parent = nullptr);
    void set_profile(std::shared_ptr<const Profile> profile, plot::ChartOptions options);
    void set_options(plot::ChartOptions options);
    const plot::ChartOptions& options() const { return options_; }
    // The chart as drawn now (none without a profile).
    const plot::ProfileChart* chart() const { return chart_.get(); }
    std::optional<std::size_t> cursor() const { return cursor_; }

Q_SIGNALS:
    // The point under the pointer (its index in the profile), or none.
    void hovered(std::optional<std::size_t> point);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void remake();
    void set_cursor(std::optional<std::size_t> point);

    std::shared_ptr<const Profile> profile_;
    plot::ChartOptions options_;
    std::unique_ptr<plot::ProfileChart> chart_;
    std::optional<std::size_t> cursor_;
};

class ProfileDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProfileDialog(ProfileDialogData data, QWidget* parent = nullptr);
    // Shows another track (the dialog stays where it is, with its choices).
    void set_data(ProfileDialogData data);
    ProfileView* view() const { return view_; }
    // Writes the chart at `size` as PNG or SVG by the path's ending; "" or why not.
    std::string export_to(const std::string& path, QSize size) const;

private:
    void choices_changed();
    void export_chosen(bool svg);
    void highlight(std::optional<std::size_t> point);

    ProfileDialogData data_;
    QComboBox* quantity_ = nullptr;
    QComboBox* axis_ = nullptr;
    ProfileView* view_ = nullptr;
};

// Opens the dialog over `parent`, or shows the new track in the one already open there.
ProfileDialog* open_profile_dialog(QWidget* parent, ProfileDialogData data);

}  // namespace vg
