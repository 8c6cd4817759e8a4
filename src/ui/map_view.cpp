#include "app/paint_frame.h"
#include "app/toolbar_layout.h"

#include "ui/map_view.h"

#include "ui/ais_painter.h"
#include "ui/fleet_painter.h"
#include "ui/dialog_common.h"

#include <QApplication>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QPushButton>
#include <QStatusTipEvent>
#include <QToolTip>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QWheelEvent>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>

namespace vg {

namespace {

void horizontal_line(QPainter& painter, int x_from, int x_to, int y, QRgb colour) {
    // Line drawing leaves out the end point: pixels x_from .. x_to - 1.
    if (x_to > x_from) painter.fillRect(QRect(x_from, y, x_to - x_from, 1), QColor::fromRgb(colour));
}

void vertical_line(QPainter& painter, int x, int y_from, int y_to, QRgb colour) {
    if (y_to > y_from) painter.fillRect(QRect(x, y_from, 1, y_to - y_from), QColor::fromRgb(colour));
}

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr int kMapLeftEdge = toolbar::kMapLeft;

// Multiplies what is already drawn in `area` by the night tint: darker, and blue and green more than
// red, which keeps the eyes used to the dark.
void tint_for_night(QPainter& painter, const QRect& area) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(area, QColor::fromRgb(MapView::kNightTint));
    painter.restore();
}

void draw_toolbar(QPainter& painter, const PaintFrame& frame, int client_width) {
    horizontal_line(painter, 0, client_width, toolbar::kLineBlackTop, kBlack);
    horizontal_line(painter, 0, client_width, toolbar::kLineWhiteTop, kWhite);
    horizontal_line(painter, 0, client_width, toolbar::kLineBlackBottom, kBlack);
    horizontal_line(painter, 0, client_width, toolbar::kLineWhiteBottom, kWhite);
    for (int x : toolbar::kSeparatorX) {
        vertical_line(painter, x, toolbar::kSeparatorTop, toolbar::kSeparatorBottom, kBlack);
        vertical_line(painter, x + 1, toolbar::kSeparatorTop, toolbar::kSeparatorBottom, kWhite);
    }
    for (int b = 0; b < toolbar::kButtonCount; ++b) {
        const QImage picture = MapView::toolbar_picture(frame.button_bitmaps[static_cast<std::size_t>(b)],
                                                        painter.device()->devicePixelRatioF());
        if (!picture.isNull()) painter.drawImage(QPoint(toolbar::kButtonX[static_cast<std::size_t>(b)], toolbar::kButtonTop), picture);
    }
    if (frame.night) tint_for_night(painter, QRect(0, 0, client_width, toolbar::kBandHeight));
}

// The sunken frame around a map area of map_width x map_height at (kMapLeft, kMapTop): black along
// the top and left, white along the bottom and right.
void draw_map_frame(QPainter& painter, int map_width, int map_height) {
    constexpr int top = toolbar::kMapTop - 1;
    const int bottom = toolbar::kMapTop + map_height;
    horizontal_line(painter, 0, map_width + toolbar::kFrameWidth, top, kBlack);
    vertical_line(painter, 0, top, bottom + 1, kBlack);
    horizontal_line(painter, 0, map_width + toolbar::kFrameWidth, bottom, kWhite);
    vertical_line(painter, map_width + 1, top, bottom + 1, kWhite);
}

// Gives the text's left edge.
int draw_speed(QPainter& painter, const PaintFrame::Speed& speed, int map_width, bool night) {
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setFamily(QStringLiteral("sans-serif"));
    font.setWeight(QFont::Black);
    // The height is the character cell's (ascent plus descent), as the font's requested height
    // means there, so the letters' em size is somewhat smaller.
    font.setPixelSize(speed.font_height);
    const int cell = QFontMetrics(font).height();
    if (cell > speed.font_height) font.setPixelSize(std::max(1, speed.font_height * speed.font_height / cell));
    painter.setFont(font);
    const QString text = QString::fromUtf8(speed.text.data(), static_cast<qsizetype>(speed.text.size()));
    // The left edge allows a fixed width per character; where this font's letters are wider, the
    // text moves left so that it (with its outline) still ends inside the map area.
    const int right_limit = kMapLeftEdge + map_width - 2;
    const int x = std::max(0, std::min(speed.x, right_limit - painter.fontMetrics().horizontalAdvance(text)));
    // The text's top edge is at y: Qt places text by its baseline.
    const int baseline = speed.y + painter.fontMetrics().ascent();
    const QPoint outline[] = {{-2, 0}, {0, -2}, {2, 0}, {0, 2}};
    painter.setPen(QColor::fromRgb(night ? MapView::kNightSpeedOutline : MapView::kSpeedOutline));
    for (const QPoint& offset : outline) painter.drawText(QPoint(x, baseline) + offset, text);
    painter.setPen(QColor::fromRgb(night ? MapView::kNightSpeedText : MapView::kSpeedText));
    painter.drawText(QPoint(x, baseline), text);
    return x - 2;  // its outline
}

// While tiles are on their way: "N tiles left" (and how many failed, with the last reason) in small
// text at the top right of the map area, on a light band so that it reads on any tile.
void draw_progress(QPainter& painter, const PaintFrame& frame) {
    if (frame.tiles_left <= 0 && frame.failed_tiles <= 0) return;
    QString text;
    if (frame.tiles_left > 0)
        text = frame.tiles_left == 1 ? MapView::tr("1 tile left") : MapView::tr("%1 tiles left").arg(frame.tiles_left);
    if (frame.failed_tiles > 0) {
        if (!text.isEmpty()) text += QStringLiteral(", ");
        text += MapView::tr("%1 failed (%2)").arg(frame.failed_tiles).arg(QString::fromStdString(frame.failure_reason));
    }
    painter.save();
    QFont font;
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance(text) + 8, h = metrics.height() + 2;
    const QRect box(MapView::kMapLeft + frame.map_width - w - 2, MapView::kMapTop + 2, w, h);
    painter.fillRect(box, frame.night ? QColor(0, 0, 0, 160) : QColor(255, 255, 255, 190));
    painter.setPen(frame.night ? QColor::fromRgb(MapView::kNightSpeedText) : QColor(Qt::black));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

}  // namespace

MapView::MapView(QWidget* parent) : QWidget(parent) {
    setObjectName("map_view");
    install_accessibility();
    setAccessibleName(tr("Map"));
    // Every paint fills the whole widget, so Qt need not erase it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kSmallWidth, kSmallHeight);
    detect_ = new QPushButton(tr("Detect"), this);
    detect_->setObjectName(QStringLiteral("map_detect"));
    detect_->setToolTip(tr("Look for a receiver: gpsd, NMEA on UDP 10110 and the serial ports"));
    detect_->hide();
    connect(detect_, &QPushButton::clicked, this, &MapView::detect_requested);
}

QImage MapView::toolbar_picture(int id, qreal device_pixel_ratio) {
    // Loaded once per picture and scale; the cache lives on the window thread, which alone paints.
    static std::map<std::pair<int, bool>, QImage> cache;
    const bool fine = device_pixel_ratio > 1.0;
    auto it = cache.find({id, fine});
    if (it == cache.end()) {
        init_resources();
        QImage image(QStringLiteral(":/vorglobal/toolbar/%1%2.png").arg(id).arg(fine ? "@2x" : ""));
        if (!image.isNull()) {
            image = image.convertToFormat(QImage::Format_RGB32);
            image.setDevicePixelRatio(fine ? 2.0 : 1.0);
        }
        it = cache.emplace(std::pair{id, fine}, image).first;
    }
    return it->second;
}

// Small text lines over the map's bottom-left corner, each on a translucent white band so it reads
// on any tile: the message line (dark red, on up to two lines, never cut) above the attribution,
// ending before `right` (the speed text's left edge). Gives the top edge of the lines.
static int draw_map_notes(QPainter& painter, const PaintFrame& frame, int right, QRect* message_band) {
    QFont font;  // the plain font, whatever the speed text left in the painter
    font.setPixelSize(11);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    int bottom = MapView::kMapTop + frame.map_height - 1;
    const int width = std::min(frame.map_width, right - MapView::kMapLeft - 4) - 8;
    auto note = [&](const QStringList& lines, QColor colour) {
        if (lines.isEmpty()) return QRect();
        int widest = 0;
        for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
        const int line_height = metrics.height() + 2;
        const QRect band(MapView::kMapLeft, bottom - line_height * static_cast<int>(lines.size()), widest + 8,
                         line_height * static_cast<int>(lines.size()));
        painter.fillRect(band, QColor(255, 255, 255, 200));
        painter.setPen(colour);
        for (qsizetype i = 0; i < lines.size(); ++i)
            painter.drawText(QRect(band.left() + 4, band.top() + static_cast<int>(i) * line_height, widest, line_height),
                             Qt::AlignVCenter | Qt::AlignLeft, lines[i]);
        bottom = band.top();
        return band;
    };
    const QString attribution = QString::fromUtf8(frame.attribution.data(), static_cast<qsizetype>(frame.attribution.size()));
    if (!attribution.isEmpty()) note({metrics.elidedText(attribution, Qt::ElideRight, width)}, QColor(32, 32, 32));
    const QString message = QString::fromUtf8(frame.message.data(), static_cast<qsizetype>(frame.message.size()));
    const int message_width = width - (frame.offer_detect ? MapView::kDetectButtonWidth : 0);
    const QRect band = message.isEmpty() ? QRect() : note(MapView::message_lines(font, message, message_width), QColor(160, 0, 0));
    if (message_band) *message_band = band;
    return bottom;
}

QStringList MapView::message_lines(const QFont& font, const QString& text, int width) {
    const QFontMetrics metrics(font);
    if (text.isEmpty() || metrics.horizontalAdvance(text) <= width) return {text};
    // The longest first line that fits, broken at a space; the rest on the second line.
    qsizetype cut = -1;
    for (qsizetype i = text.lastIndexOf(QLatin1Char(' ')); i > 0; i = text.lastIndexOf(QLatin1Char(' '), i - 1)) {
        if (metrics.horizontalAdvance(text.left(i)) <= width) {
            cut = i;
            break;
        }
    }
    if (cut <= 0) return {metrics.elidedText(text, Qt::ElideMiddle, width)};
    return {text.left(cut), metrics.elidedText(text.mid(cut + 1), Qt::ElideMiddle, width)};
}

// The scale bar on the same kind of band, its bottom edge at `bottom` (above the notes, left of the
// speed text): a dark bar of the frame's length with a tick at each end, and the length beside it.
static void draw_scale_bar(QPainter& painter, const PaintFrame& frame, int bottom) {
    const PaintFrame::ScaleBar& bar = frame.scale_bar;
    if (!bar.show || bar.pixels <= 0) return;
    const QFontMetrics metrics(painter.font());  // the notes' small font
    const QString label = QString::fromUtf8(bar.label.data(), static_cast<qsizetype>(bar.label.size()));
    const int height = metrics.height() + 4;
    const int left = MapView::kMapLeft + 4;
    const QRect band(MapView::kMapLeft, bottom - height, bar.pixels + metrics.horizontalAdvance(label) + 16, height);
    painter.fillRect(band, QColor(255, 255, 255, 200));
    const QColor ink(MapView::kScaleBarInk);
    const int base = band.bottom() - 3;  // the bar's lower row
    painter.fillRect(QRect(left, base - 1, bar.pixels, 2), ink);
    painter.fillRect(QRect(left, band.top() + 3, 1, base - band.top() - 3), ink);
    painter.fillRect(QRect(left + bar.pixels - 1, band.top() + 3, 1, base - band.top() - 3), ink);
    painter.setPen(ink);
    painter.drawText(QRect(left + bar.pixels + 6, band.top(), band.right() - left - bar.pixels - 6, height),
                     Qt::AlignVCenter | Qt::AlignLeft, label);
}

void MapView::draw_frame(QPainter& painter, const PaintFrame& frame, int client_width, QPoint drag,
                         QRect* message_band) {
    if (message_band) *message_band = QRect();
    if (!frame.draw_toolbar) return;
    draw_toolbar(painter, frame, client_width);
    const DisplayBitmap* bitmap = frame.bitmap;
    if (bitmap == nullptr || !bitmap->exists()) return;
    if (frame.draw_frame) draw_map_frame(painter, frame.map_width, frame.map_height);
    // The visible rows in one blit, read in place: Format_BGR888 takes the bytes as blue, green, red.
    const int first = frame.visible_first_row;
    const int first_column = std::clamp(frame.visible_first_column, 0, bitmap->width() - 1);
    const int columns = std::min(frame.map_width, bitmap->width() - first_column);
    int rows = frame.map_height;
    const QRect area(kMapLeft, kMapTop, frame.map_width, frame.map_height);
    painter.save();
    painter.setClipRect(area);
    if (!drag.isNull()) {
        // While the map is dragged, the picture follows the pointer over the grey of the missing cells.
        painter.fillRect(area, QColor(kMosaicGrey, kMosaicGrey, kMosaicGrey));
    }
    if (first >= 0 && first < bitmap->height() && columns > 0) {
        if (rows > bitmap->height() - first) rows = bitmap->height() - first;
        if (rows > 0) {
            const QImage visible(bitmap->row(first) + 3 * first_column, columns, rows, bitmap->stride(),
                                 QImage::Format_BGR888);
            painter.drawImage(QPoint(kMapLeft, kMapTop) + drag, visible);
        }
    }
    // Sharp cells over their enlarged 1x pixels, one device pixel for each of theirs.
    for (const PaintFrame::FineCell& cell : frame.fine_cells) {
        if (cell.bgr == nullptr) continue;
        QImage fine(cell.bgr, kFineCellSize, kFineCellSize, 3 * kFineCellSize, QImage::Format_BGR888);
        fine.setDevicePixelRatio(2.0);
        painter.drawImage(QPoint(kMapLeft + cell.x - first_column, kMapTop + cell.y - first) + drag, fine);
    }
    // The route under everything else drawn over the map; the position marker, which the bitmap
    // holds, drawn again over it.
    if (frame.route.line.size() >= 2) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF origin = QPointF(kMapLeft + 0.5, kMapTop + 0.5) + drag;
        std::vector<QPointF> line;
        line.reserve(frame.route.line.size());
        for (const auto& p : frame.route.line) line.push_back(origin + QPointF(p[0], p[1]));
        painter.setPen(QPen(QColor(0xff, 0xff, 0xff, 200), 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(line.data(), static_cast<int>(line.size()));
        const QColor blue = frame.route.rerouting ? QColor(0x70, 0x90, 0xc0, 150) : QColor(0x20, 0x50, 0xe0, 210);
        painter.setPen(QPen(blue, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(line.data(), static_cast<int>(line.size()));
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(blue);
        for (const auto& v : frame.route.via) painter.drawEllipse(origin + QPointF(v[0], v[1]), 6, 6);
        painter.restore();
        if (frame.route.marker) {
            const int half = PaintFrame::kMarkerBox / 2;
            const int bx = frame.route.marker_x - half + first_column, by = frame.route.marker_y - half + first;
            const QRect box = QRect(bx, by, PaintFrame::kMarkerBox, PaintFrame::kMarkerBox)
                                  .intersected(QRect(0, 0, bitmap->width(), bitmap->height()));
            if (!box.isEmpty()) {
                const QImage patch(bitmap->row(box.top()) + 3 * box.left(), box.width(), box.height(), bitmap->stride(),
                                   QImage::Format_BGR888);
                painter.drawImage(QPoint(kMapLeft + box.left() - first_column, kMapTop + box.top() - first) + drag, patch);
            }
        }
    }
    // The fix's horizontal error: a translucent blue disc with a rim around the position.
    if (frame.accuracy.show) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x10, 0x60, 0xd0, 200), 1.5));
        painter.setBrush(QColor(0x10, 0x60, 0xd0, 40));
        const QPointF centre = QPointF(kMapLeft + frame.accuracy.x + 0.5, kMapTop + frame.accuracy.y + 0.5) + drag;
        painter.drawEllipse(centre, frame.accuracy.radius, frame.accuracy.radius);
        painter.restore();
    }
    // AIS targets over the map, under the waypoint names.
    draw_ais_marks(painter, frame.ais, QPointF(kMapLeft, kMapTop) + drag, frame.night);
    // The fleet: each device with its trail and name.
    draw_fleet_marks(painter, frame.fleet, QPointF(kMapLeft + 0.5, kMapTop + 0.5) + drag);
    // Waypoint names, dark blue like their markers, outlined in white so that they read on any tile.
    if (!frame.labels.empty()) {
        QFont font = painter.font();
        font.setPixelSize(11);
        painter.setFont(font);
        const int middle = QFontMetrics(font).ascent() / 2 - 1;
        for (const PaintFrame::Label& label : frame.labels) {
            const QPoint at = QPoint(kMapLeft + label.x, kMapTop + label.y + middle) + drag;
            const QString text = QString::fromStdString(label.text);
            painter.setPen(Qt::white);
            for (const QPoint d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)}) painter.drawText(at + d, text);
            painter.setPen(QColor(0x00, 0x30, 0x80));
            painter.drawText(at, text);
        }
    }
    // The place chosen in the search field: a red pin standing on it, its name beside the head.
    if (frame.pin.show) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF tip = QPointF(kMapLeft + frame.pin.x + 0.5, kMapTop + frame.pin.y + 0.5) + drag;
        const QPointF head = tip - QPointF(0, 16);
        QPainterPath pin;
        pin.moveTo(tip);
        pin.lineTo(head + QPointF(-5, 3));
        pin.arcTo(QRectF(head - QPointF(6, 6), QSizeF(12, 12)), 210, -240);
        pin.closeSubpath();
        painter.setPen(QPen(Qt::white, 1.5));
        painter.setBrush(QColor(0xd0, 0x20, 0x20));
        painter.drawPath(pin);
        painter.setBrush(Qt::white);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(head, 2, 2);
        QFont font = painter.font();
        font.setPixelSize(12);
        font.setBold(true);
        painter.setFont(font);
        const QPointF at = head + QPointF(9, QFontMetrics(font).ascent() / 2.0 - 1);
        const QString name = QString::fromStdString(frame.pin.name);
        painter.setPen(Qt::white);
        for (const QPointF d : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)}) painter.drawText(at + d, name);
        painter.setPen(QColor(0x80, 0x10, 0x10));
        painter.drawText(at, name);
        painter.restore();
    }
    if (frame.dim_map) tint_for_night(painter, area);
    painter.restore();
    int notes_right = kMapLeft + frame.map_width;
    if (frame.speed.show && frame.speed.font_height > 0)
        notes_right = draw_speed(painter, frame.speed, frame.map_width, frame.night);
    draw_progress(painter, frame);
    draw_scale_bar(painter, frame, draw_map_notes(painter, frame, notes_right, message_band));
}

void MapView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (const int scale = device_scale_of(devicePixelRatioF()); scale != device_scale_) {
        if (device_scale_ != 0) Q_EMIT device_scale_changed(scale);
        device_scale_ = scale;
    }
    if (frame_source_) {
        const PaintFrame frame = frame_source_();
        painter.fillRect(event->rect(), QColor::fromRgb(frame.night ? kNightBackground : kBackground));
        draw_frame(painter, frame, width(), drag_offset(), &message_band_);
        message_text_ = QString::fromUtf8(frame.message.data(), static_cast<qsizetype>(frame.message.size()));
        // Detect beside the message line while it is offered.
        const bool offer = frame.offer_detect && !message_band_.isEmpty();
        if (offer) {
            const QRect place(message_band_.right() + 4, message_band_.bottom() - 21, kDetectButtonWidth - 8, 22);
            if (detect_->geometry() != place) detect_->setGeometry(place);
        }
        if (detect_->isVisible() != offer) detect_->setVisible(offer);
        if (!first_map_shown_ && frame.draw_toolbar && frame.bitmap != nullptr && frame.bitmap->exists() &&
            frame.view_complete) {
            // After this paint has reached the window: a grab made from inside the paint would be empty.
            first_map_shown_ = true;
            QTimer::singleShot(0, this, &MapView::first_map_painted);
        }
    } else {
        painter.fillRect(event->rect(), QColor::fromRgb(kBackground));
    }
    paint_count_.fetch_add(1);
}

void MapView::mousePressEvent(QMouseEvent* event) {
    MouseButton button;
    if (event->button() == Qt::LeftButton) {
        button = MouseButton::Left;
    } else if (event->button() == Qt::RightButton) {
        button = MouseButton::Right;
    } else {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    if (button == MouseButton::Right && (event->modifiers() & Qt::ShiftModifier) && at.y() >= kMapTop) {
        Q_EMIT context_menu_requested(at.x(), at.y());
        return;
    }
    if (button == MouseButton::Left && at.y() >= kMapTop) {
        // On the map a left press may start a drag: it is decided at the release or the first move.
        press_on_map_ = true;
        press_on_line_ = line_test_ && line_test_(at.x(), at.y());
        dragging_ = false;
        press_point_ = at;
        return;
    }
    Q_EMIT mouse_pressed(button, at.x(), at.y());
}

void MapView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (press_on_map_ && (event->buttons() & Qt::LeftButton)) {
        if (!dragging_ && (at - press_point_).manhattanLength() >= QApplication::startDragDistance()) dragging_ = true;
        if (dragging_ && !press_on_line_) {
            drag_offset_ = at - press_point_;
            update();
        }
    }
    const int button = toolbar::hit_button(at.x(), at.y());
    const int hovered = button == toolbar::kButtonCount ? -1 : button;
    if (hovered != hovered_button_) {
        hovered_button_ = hovered;
        // The main window shows it where it has a status bar; an empty tip clears it.
        QStatusTipEvent tip(button_status_tip(hovered));
        QCoreApplication::sendEvent(this, &tip);
    }
    Q_EMIT mouse_moved(at.x(), at.y());
}

void MapView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !press_on_map_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    press_on_map_ = false;
    if (dragging_ && press_on_line_) {
        dragging_ = false;
        press_on_line_ = false;
        const QPoint at = event->position().toPoint();
        Q_EMIT route_dragged(press_point_.x(), press_point_.y(), at.x(), at.y());
    } else if (dragging_) {
        dragging_ = false;
        const QPoint moved = event->position().toPoint() - press_point_;
        drag_offset_ = {};
        Q_EMIT dragged(moved.x(), moved.y());
        update();
    } else {
        Q_EMIT mouse_pressed(MouseButton::Left, press_point_.x(), press_point_.y());
    }
}

void MapView::contextMenuEvent(QContextMenuEvent* event) {
    // The mouse's own way is Shift with the right button (a plain right click zooms out).
    if (event->reason() != QContextMenuEvent::Keyboard) return;
    const QPoint at = event->pos().y() >= kMapTop ? event->pos() : QPoint(width() / 2, kMapTop + (height() - kMapTop) / 2);
    Q_EMIT context_menu_requested(at.x(), at.y());
}

void MapView::wheelEvent(QWheelEvent* event) {
    // 120 units are one notch; high-resolution wheels and touch pads deliver parts of one.
    wheel_remainder_ += event->angleDelta().y();
    const int steps = wheel_remainder_ / 120;
    wheel_remainder_ -= steps * 120;
    const QPoint at = event->position().toPoint();
    if (steps != 0) Q_EMIT wheel_turned(steps, at.x(), at.y());
    event->accept();
}

void MapView::keyReleaseEvent(QKeyEvent* event) {
    // A held key repeats its presses only; the release counts once, when the key goes up.
    if (event->isAutoRepeat()) return;
    Q_EMIT key_released(event->key());
}

void MapView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Q_EMIT resized(event->size().width(), event->size().height());
}

QString MapView::button_name(int button) {
    switch (button) {
    case toolbar::kAutoPan: return tr("GPS");
    case toolbar::kPanWest: return tr("West");
    case toolbar::kPanNorth: return tr("North");
    case toolbar::kPanSouth: return tr("South");
    case toolbar::kPanEast: return tr("East");
    case toolbar::kLevel0: return tr("World");
    case toolbar::kLevel1: return tr("State");
    case toolbar::kLevel2: return tr("Region");
    case toolbar::kLevel3: return tr("City");
    case toolbar::kLevel4: return tr("Street");
    case toolbar::kAerial: return tr("Aerial / Maps");
    default: return {};
    }
}

QString MapView::button_status_tip(int button) {
    switch (button) {
    case toolbar::kAutoPan: return tr("Turn Auto Pan on: the map follows the position");
    case toolbar::kPanWest: return tr("Move the view one tile west (turns Auto Pan off)");
    case toolbar::kPanNorth: return tr("Move the view one tile north (turns Auto Pan off)");
    case toolbar::kPanSouth: return tr("Move the view one tile south (turns Auto Pan off)");
    case toolbar::kPanEast: return tr("Move the view one tile east (turns Auto Pan off)");
    case toolbar::kLevel0:
    case toolbar::kLevel1:
    case toolbar::kLevel2:
    case toolbar::kLevel3:
    case toolbar::kLevel4:
        return tr("Show zoom level %1 (%2)").arg(button - toolbar::kLevel0).arg(button_name(button));
    case toolbar::kAerial: return tr("Switch between the map and aerial photos");
    default: return {};
    }
}

bool MapView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // The toolbar is painted, not made of widgets: the tip is the button under the pointer's.
        auto* help = static_cast<QHelpEvent*>(event);
        const int button = toolbar::hit_button(help->pos().x(), help->pos().y());
        if (message_band_.contains(help->pos()) && !message_text_.isEmpty()) {
            QToolTip::showText(help->globalPos(), message_text_, this, message_band_);  // the whole text
        } else if (button != toolbar::kButtonCount) {
            const QRect box(toolbar::kHitLeft[static_cast<std::size_t>(button)], toolbar::kHitTop,
                            toolbar::kHitRight[static_cast<std::size_t>(button)] - toolbar::kHitLeft[static_cast<std::size_t>(button)] + 1,
                            toolbar::kHitBottom - toolbar::kHitTop + 1);
            QToolTip::showText(help->globalPos(), button_name(button), this, box);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

void MapView::leaveEvent(QEvent* event) {
    if (hovered_button_ >= 0) {
        hovered_button_ = -1;
        QStatusTipEvent tip{QString()};
        QCoreApplication::sendEvent(this, &tip);
    }
    QWidget::leaveEvent(event);
}

}  // namespace vg
