#include "atlas/local_tiles.h"

#include <clocale>
#include <cstdio>
#include <fstream>

#include "atlas/atlas_data.h"
#include "atlas/atlas_render.h"
#include "tiles/gif_codec.h"
#ifdef VG_WITH_VECTORMAP
#include "vectormap/pack_cells.h"
#endif

#include <QGuiApplication>

namespace vg::atlas {

bool write_atlas_tile(int zoom, int x, int y, const std::string& path, bool faded, int scale) {
    return save_png_atomically(render_tile(builtin_atlas(), zoom, x, y, faded, scale), path);
}

bool write_relief_tile(int row, int column, const std::string& path, int scale) {
    if (scale >= 2) return save_png_atomically(render_relief_tile(builtin_atlas(), row, column, 2), path);
    const RgbImage rgb = rgb_pixels(render_relief_tile(builtin_atlas(), row, column));
    const std::string temp = path + ".part";
    if (!gif_write_file(temp, rgb) || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace vg::atlas


namespace vg::atlas {
namespace {

bool make_tile(const LocalTileRequest& request, const std::string& path) {
    if (!request.vector_pack.empty() || !request.raw_tile.empty()) {
#ifdef VG_WITH_VECTORMAP
        const QImage cell = request.raw_tile.empty() ? vmap::draw_pack_cell(request) : vmap::draw_raw_cell(request);
        return !cell.isNull() && save_png_atomically(cell, path);
#else
        return false;
#endif
    }
    if (request.relief) return write_relief_tile(request.y, request.x, path, request.scale);
    return write_atlas_tile(request.zoom, request.x, request.y, path, request.faded, request.scale);
}

}  // namespace

void install_local_tile_maker() { set_local_tile_maker(make_tile); }

void ensure_offscreen_gui() {
    if (QGuiApplication::instance()) return;
    static int argc = 3;
    static char name[] = "vortool", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);  // kept for the process
    (void)app;
    // Qt gave the C library the user's locale: numbers keep the decimal point in what vortool writes.
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace vg::atlas
