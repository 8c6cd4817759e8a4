#include "tiles/tile_naming.h"

#include <cstdio>

#include "platform/files.h"

namespace vg {
namespace {

// Octal text of v, zero-padded to `width` digits; rows and columns are printed as the unsigned
// numbers of their bits, so a negative row still gives a bounded text.
std::string octal(int v, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*o", width, static_cast<unsigned>(v));
    return buffer;
}

// Row and column of the ancestor tile `levels_up` levels coarser, printed with the digits of that
// ancestor's level and padded with zeros to six places ("%02o0000_%02o0000" at level 0 and so on).
std::string ancestor_name(int row, int column, int ancestor_level, int levels_up) {
    const int shift = 3 * levels_up;
    const int digits = 2 + ancestor_level;
    const std::string zeros(static_cast<std::size_t>(4 - ancestor_level), '0');
    const auto part = [&](int v) {
        return octal(static_cast<int>(static_cast<unsigned>(v) >> shift), digits) + zeros;
    };
    return part(row) + "_" + part(column);
}

}  // namespace

TileKey tile_key(int x, int y, int level, MapSource source, bool aerial) {
    TileKey key;
    key.source = source;
    key.aerial = aerial && has_aerial_layer(source);
    key.level = level;
    key.row = tile_row(y);
    key.column = tile_column(x, source, level);
    return key;
}

bool tile_in_world(const TileKey& key) {
    if (!has_scale(key.source, key.level)) return false;
    return key.row >= 0 && key.row < tile_rows(key.source, key.level);
}

const char* site_code(MapSource source) {
    switch (source) {
        case MapSource::Etopo2: return "E2";
        case MapSource::OpenStreetMap: return "OS";
        case MapSource::GoogleMaps: return "GM";
        case MapSource::VirtualEarth: return "VE";
        case MapSource::MapQuest: return "MQ";
    }
    return "VE";
}

const char* tile_extension(MapSource source, bool aerial) {
    if (aerial && has_aerial_layer(source)) return "jpg";
    return (source == MapSource::Etopo2 || source == MapSource::MapQuest) ? "gif" : "png";
}

namespace {

// A zoom between the levels: "z<zoom>" folders, one a row below it, and "vor_z<zoom>_<row>_<column>"
// (rows and columns as the unsigned numbers of their bits).
std::string zoom_part(const TileKey& key) {
    return "z" + std::to_string(web_zoom(key.level));
}

std::string file_name_with(const TileKey& key, std::string_view extension) {
    if (is_zoom_code(key.level))
        return "vor_" + zoom_part(key) + "_" + std::to_string(static_cast<unsigned>(key.row)) + "_" +
               std::to_string(static_cast<unsigned>(key.column)) + "." + std::string(extension);
    const int level = key.level < 0 ? 0 : (key.level > 4 ? 4 : key.level);
    return "vor_" + std::to_string(level) + "_" + ancestor_name(key.row, key.column, level, 0) + "." +
           std::string(extension);
}

}  // namespace

std::string tile_file_name(const TileKey& key) { return file_name_with(key, tile_extension(key.source, key.aerial)); }

std::string normalise_root(std::string_view root) {
    std::string text(root);
    for (char& ch : text)
        if (ch == '\\' || ch == '/') ch = kPathSeparator;
    return text;
}

TilePaths tile_paths_in(const TileKey& key, std::string_view root, std::string_view folder, std::string_view extension) {
    const int level = key.level < 0 ? 0 : (key.level > 4 ? 4 : key.level);
    TilePaths paths;
    paths.directory = normalise_root(root) + kPathSeparator + std::string(folder);
    if (is_zoom_code(key.level)) {
        paths.directory +=
            kPathSeparator + zoom_part(key) + kPathSeparator + std::to_string(static_cast<unsigned>(key.row));
        paths.full_path = paths.directory + kPathSeparator + file_name_with(key, extension);
        return paths;
    }
    for (int ancestor = 0; ancestor < level; ++ancestor)
        paths.directory += kPathSeparator + ancestor_name(key.row, key.column, ancestor, level - ancestor);
    paths.full_path = paths.directory + kPathSeparator + file_name_with(key, extension);
    return paths;
}

TilePaths tile_paths(const TileKey& key, std::string_view root) {
    return tile_paths_in(key, root, site_code(key.source), tile_extension(key.source, key.aerial));
}

void create_tile_directories(std::string_view directory) {
    const std::string text(directory);
    const std::size_t first = text.find(kPathSeparator);
    if (first == std::string::npos) {
        make_directory(text);
        return;
    }
    for (std::size_t pos = text.find(kPathSeparator, first + 1); pos != std::string::npos;
         pos = text.find(kPathSeparator, pos + 1)) {
        if (pos > 0 && text[pos - 1] != kPathSeparator) make_directory(text.substr(0, pos));
    }
    make_directory(text);
}

}  // namespace vg
