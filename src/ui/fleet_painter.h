// Draws the fleet of a paint (PaintFrame::fleet) with QPainter: trails as thin lines, each device a
// triangle along its course (a disc without one) with its name beside it; red while fresh, grey when
// old, outlined thicker when followed. Qt GUI only (no widgets), so that the benchmark draws them into
// an image as the map view draws them on the screen.
// Threads: the caller's painter thread. Ownership: nothing kept.
#pragma once

#include <vector>

#include <QPointF>

#include "app/paint_frame.h"

class QPainter;

namespace vg {

// `origin`: where map-area pixel (0, 0) lies on the painter.
void draw_fleet_marks(QPainter& painter, const std::vector<PaintFrame::FleetMark>& marks, QPointF origin);

}  // namespace vg
