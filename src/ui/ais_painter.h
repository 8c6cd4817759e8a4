// Draws the AIS marks of a paint (PaintFrame::ais) with QPainter: Qt GUI only (no widgets), so that the
// benchmark draws them into an image as the map view draws them on the screen.
// Threads: the caller's painter thread. Ownership: nothing kept.
#pragma once

#include <vector>

#include <QPointF>

#include "app/paint_frame.h"

class QPainter;

namespace vg {

// `origin`: where map-area pixel (0, 0) lies on the painter. Night uses darker colours.
void draw_ais_marks(QPainter& painter, const std::vector<PaintFrame::AisMark>& marks, QPointF origin, bool night);

}  // namespace vg
