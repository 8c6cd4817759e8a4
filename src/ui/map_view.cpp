#include "ui/map_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include <cstdint>

namespace vg {

MapView::MapView(QWidget* parent) : QWidget(parent) {
    setObjectName("map_view");
    // Every paint fills the whole widget, so Qt need not erase it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setFixedSize(kSmallWidth, kSmallHeight);
}

bool MapView::set_display_bitmap(const std::uint8_t* bgr, int width, int height, int stride, int first_row,
                                 int row_count) {
    clear_display_bitmap();
    if (bgr == nullptr || width < 1 || height < 1) return false;
    if (static_cast<std::int64_t>(stride) < 3 * static_cast<std::int64_t>(width)) return false;
    if (first_row < 0 || first_row >= height) return false;
    if (row_count < 0) row_count = height - first_row;
    if (row_count < 1 || row_count > height - first_row) return false;
    bits_ = bgr;
    width_ = width;
    height_ = height;
    stride_ = stride;
    first_row_ = first_row;
    row_count_ = row_count;
    return true;
}

void MapView::clear_display_bitmap() {
    bits_ = nullptr;
    width_ = height_ = stride_ = first_row_ = row_count_ = 0;
}

void MapView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor::fromRgb(kBackground));
    if (bits_ != nullptr) {
        // Wraps the visible rows without copying; Format_BGR888 reads the bytes as blue, green, red.
        const QImage visible(bits_ + static_cast<std::ptrdiff_t>(first_row_) * stride_, width_, row_count_,
                             stride_, QImage::Format_BGR888);
        painter.drawImage(QPoint(kMapLeft, kMapTop), visible);
    }
    if (paint_handler_) paint_handler_(painter);
    paint_count_.fetch_add(1);
}

}  // namespace vg
