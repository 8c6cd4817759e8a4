// Draws the README picture docs/atlas-helsinki.png: 3 x 2 Atlas tiles (web zoom 7) around Helsinki.
// Build against build/libvg_atlas.a and Qt6Gui, run with QT_QPA_PLATFORM=offscreen and the output path.
#include <QGuiApplication>
#include <QPainter>
#include "atlas/atlas_data.h"
#include "atlas/atlas_render.h"
int main(int c, char** v) {
    QGuiApplication app(c, v);
    const auto& d = vg::atlas::builtin_atlas();
    QImage out(768, 512, QImage::Format_RGB32);
    QPainter p(&out);
    for (int r = 0; r < 2; ++r)
        for (int k = 0; k < 3; ++k) p.drawImage(k * 256, r * 256, vg::atlas::render_tile(d, 7, 72 + k, 36 + r));
    p.end();
    out.save(v[1]);
}
