// The client area of the main window: one custom-painted widget of a fixed size (514 x 435 for small
// maps, 1026 x 819 with Big Maps). It fills itself with the light-grey window background and shows the
// display bitmap with its top-left corner at (1, 49), below the toolbar band.
#pragma once

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>

class QPainter;

namespace vg {

class MapView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSmallWidth = 514;
    static constexpr int kSmallHeight = 435;
    static constexpr int kBigWidth = 1026;
    static constexpr int kBigHeight = 819;
    // Top-left corner of the map area, in client pixels.
    static constexpr int kMapLeft = 1;
    static constexpr int kMapTop = 49;
    // The window background (the light-grey stock brush).
    static constexpr QRgb kBackground = 0xFFC0C0C0;

    explicit MapView(QWidget* parent = nullptr);

    // Shows `row_count` rows, starting at row `first_row`, of a top-down 24-bit bitmap (bytes blue,
    // green, red; rows of `stride` bytes) at (1, 49). The bytes are not copied: the caller keeps them
    // alive and changes them only on the window thread until the next call or clear_display_bitmap(),
    // so overlays drawn into them show at the next paint. A row_count below 0 means "to the last row".
    // Returns false, and shows no bitmap, when the description is inconsistent (null bits, a width or
    // height below 1, a stride shorter than 3 * width, rows outside the bitmap).
    bool set_display_bitmap(const std::uint8_t* bgr, int width, int height, int stride, int first_row = 0,
                            int row_count = -1);
    void clear_display_bitmap();
    bool has_display_bitmap() const { return bits_ != nullptr; }

    // Called at the end of every paint with the widget's painter, after the bitmap was drawn; for
    // drawing that belongs over the map (toolbar pictures, texts).
    void set_paint_handler(std::function<void(QPainter&)> handler) { paint_handler_ = std::move(handler); }

    // Paints done so far; readable from any thread.
    int paint_count() const { return paint_count_.load(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const std::uint8_t* bits_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    int first_row_ = 0;
    int row_count_ = 0;
    std::function<void(QPainter&)> paint_handler_;
    std::atomic<int> paint_count_{0};
};

}  // namespace vg
