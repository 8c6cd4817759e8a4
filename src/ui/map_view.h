// The client area of the main window: one custom-painted widget that opens at 514 x 435 for small
// maps or 1026 x 819 with Big Maps and follows the window when the user resizes it. Each paint asks
// the frame source (the application's paint logic) what to show and draws it: the light-grey
// background, the toolbar band with its lines, separators and eleven button pictures, the sunken
// frame, the display bitmap's visible rows at (1, 49) and the outlined speed text; at night the map
// and the toolbar are dimmed and shifted towards red, and the speed text is dark. With two device
// pixels per logical pixel the toolbar uses its 64 x 64 pictures and text is drawn at device
// resolution. Mouse presses and moves, the wheel, drags on the map and key releases go to the input
// handlers in client coordinates.
#pragma once

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>

#include "app/toolbar_layout.h"

class QPainter;

class QPushButton;

namespace vg {

// What one paint shows (app/paint_frame.h).
struct PaintFrame;

class MapView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSmallWidth = toolbar::kSmallMapWidth + toolbar::kFrameWidth;
    static constexpr int kSmallHeight = toolbar::kSmallMapHeight + toolbar::kBandAndFrameHeight;
    static constexpr int kBigWidth = toolbar::kBigMapWidth + toolbar::kFrameWidth;
    static constexpr int kBigHeight = toolbar::kBigMapHeight + toolbar::kBandAndFrameHeight;
    // Top-left corner of the map area, in client pixels.
    static constexpr int kMapLeft = toolbar::kMapLeft;
    static constexpr int kMapTop = toolbar::kMapTop;
    // The window background (the light-grey stock brush).
    static constexpr QRgb kBackground = 0xFFC0C0C0;
    // The speed text: white outline, dark blue letters.
    static constexpr QRgb kSpeedOutline = 0xFFFFFFFF;
    static constexpr QRgb kSpeedText = 0xFF000077;
    // The scale bar and its length: dark grey on the notes' light band.
    static constexpr QRgb kScaleBarInk = 0xFF202020;
    // At night: the map and the toolbar are multiplied by this colour (dimmed, blue and green more
    // than red), the background is dark and the speed text dark red on black.
    static constexpr QRgb kNightTint = 0xFF735A4D;
    static constexpr QRgb kNightBackground = 0xFF2A2420;
    static constexpr QRgb kNightSpeedOutline = 0xFF000000;
    static constexpr QRgb kNightSpeedText = 0xFF902010;
    // Smallest client area: the toolbar and one row of cells.
    static constexpr int kMinimumWidth = kSmallWidth;
    static constexpr int kMinimumHeight = toolbar::kBandAndFrameHeight + 256;

    enum class MouseButton { Left, Right };

    explicit MapView(QWidget* parent = nullptr);

    // Called at the start of every paint for what to draw (the application's paint handler): a query
    // with an answer rather than a notice, so a function and not a signal. Without one, the view
    // shows only the background.
    void set_frame_source(std::function<PaintFrame()> source) { frame_source_ = std::move(source); }

    // Whether a left press at a client point takes the route's line rather than the map (a query,
    // like the frame source): dragging it then ends in route_dragged() and the map stays.
    void set_line_test(std::function<bool(int, int)> test) { line_test_ = std::move(test); }

    // Paints done so far; readable from any thread.
    int paint_count() const { return paint_count_.load(); }

    // The picture of toolbar bitmap `id` (701 .. 752); a null image for an unknown id. With a device
    // pixel ratio above 1 the 64 x 64 picture, marked as drawn for ratio 2.
    static QImage toolbar_picture(int id, qreal device_pixel_ratio = 1.0);
    // The device scale the map is drawn for: 2 from a device pixel ratio of 1.5 up, else 1.
    static int device_scale_of(qreal device_pixel_ratio) { return device_pixel_ratio >= 1.5 ? 2 : 1; }

    // The current drag movement of the map picture (0, 0 when none).
    QPoint drag_offset() const { return dragging_ ? drag_offset_ : QPoint(); }

    // Draws `frame` on a client area `client_width` pixels wide, the map picture moved by `drag`;
    // `message_band` (when given) receives the message line's band (empty without a message).
    static void draw_frame(QPainter& painter, const PaintFrame& frame, int client_width, QPoint drag = {},
                           QRect* message_band = nullptr);
    // The message line as drawn within `width` pixels in `font`: whole on one line when it fits,
    // else wrapped at a space onto two lines, the second elided in the middle when still too long
    // (and one line elided in the middle when there is no space to wrap at).
    static QStringList message_lines(const QFont& font, const QString& text, int width);
    // Room kept right of the message for the Detect button while it is offered.
    static constexpr int kDetectButtonWidth = 64;
    // The message line's band and full text of the last paint (its tooltip shows the text whole).
    QRect message_band() const { return message_band_; }
    QString message_text() const { return message_text_; }

    // The short name of toolbar button `button` (toolbar::Button: tooltip and accessible name) and
    // the longer status tip; empty for no button.
    static QString button_name(int button);
    static QString button_status_tip(int button);

Q_SIGNALS:
    // Input, in client pixels. A left press on the map counts as a click when the button is released
    // without the pointer having moved further than the platform's drag distance; mouse_pressed then
    // carries the press point. A longer movement drags the map (the picture follows the pointer) and
    // ends in dragged() with the whole movement. Presses elsewhere and right presses are reported at
    // once.
    void mouse_pressed(vg::MapView::MouseButton button, int x, int y);
    void mouse_moved(int x, int y);
    void dragged(int dx, int dy);
    // The route's line was taken at (x0, y0) and dropped at (x1, y1).
    void route_dragged(int x0, int y0, int x1, int y1);
    // The map's context menu was asked for at (x, y): Shift with the right button, or the menu key.
    void context_menu_requested(int x, int y);
    // Wheel turns, in whole notches (positive away from the user), at the pointer's client point.
    void wheel_turned(int steps, int x, int y);
    // A key went up (not an auto-repeat), with its Qt key code.
    void key_released(int key);
    // The client area changed size.
    void resized(int width, int height);
    // Once, after the first paint that showed a whole view (a frame with a bitmap, its cells all
    // drawn) has reached the window.
    void first_map_painted();
    // The widget is now painted at another device scale (moved to a screen of another density).
    void device_scale_changed(int scale);
    // The Detect button beside the message line was pressed.
    void detect_requested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Lists the toolbar buttons as accessible children of the view (map_view_accessible.cpp).
    static void install_accessibility();

    std::function<PaintFrame()> frame_source_;
    bool press_on_map_ = false;  // a left press on the map waits for its release or a drag
    bool press_on_line_ = false; // ...and it took the route's line
    std::function<bool(int, int)> line_test_;
    bool dragging_ = false;
    QPoint press_point_;
    QPoint drag_offset_;
    int wheel_remainder_ = 0;  // wheel movement short of a whole notch
    bool first_map_shown_ = false;
    int hovered_button_ = -1;  // the toolbar button under the pointer, for its status tip
    std::atomic<int> paint_count_{0};
    int device_scale_ = 0;  // of the last paint
    QRect message_band_;
    QString message_text_;
    QPushButton* detect_ = nullptr;  // beside the message line while Detect is offered
};

}  // namespace vg
