// vortool mvt: prints the features of a vector tile (raw or gzip-compressed) as JSON lines.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "tiles/mvt.h"

namespace vg::cli {

namespace {

const char* type_name(mvt::GeomType type) {
    switch (type) {
    case mvt::GeomType::Point:
        return "Point";
    case mvt::GeomType::LineString:
        return "LineString";
    case mvt::GeomType::Polygon:
        return "Polygon";
    case mvt::GeomType::Unknown:
        break;
    }
    return "Unknown";
}

void append_value(std::string& out, const mvt::Value& value) {
    switch (value.kind) {
    case mvt::Value::Kind::String:
        append_json_string(out, value.string, JsonText::utf8);
        break;
    case mvt::Value::Kind::Float: {
        // The shortest text of the float itself, not of its widening (3.1, not 3.0999999046325684).
        const auto number = static_cast<float>(value.number);
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, number).ptr;
        out.append(std::isfinite(number) ? std::string_view(text, static_cast<std::size_t>(end - text)) : "null");
        break;
    }
    case mvt::Value::Kind::Double:
        append_json_number(out, value.number);
        break;
    case mvt::Value::Kind::Int:
        out += std::to_string(value.int_value);
        break;
    case mvt::Value::Kind::UInt:
        out += std::to_string(value.uint_value);
        break;
    case mvt::Value::Kind::Bool:
        out += value.bool_value ? "true" : "false";
        break;
    }
}

std::string feature_line(const mvt::Layer& layer, const mvt::Feature& feature) {
    std::string out = "{\"layer\":";
    append_json_string(out, layer.name, JsonText::utf8);
    out += ",\"id\":" + (feature.id ? std::to_string(*feature.id) : std::string("null"));
    out += ",\"type\":\"";
    out += type_name(feature.type);
    out += "\",\"properties\":{";
    for (std::size_t t = 0; t + 1 < feature.tags.size(); t += 2) {
        if (t > 0) out += ',';
        append_json_string(out, layer.keys[feature.tags[t]], JsonText::utf8);
        out += ':';
        append_value(out, layer.values[feature.tags[t + 1]]);
    }
    out += "},\"geometry\":[";
    for (std::size_t p = 0; p < feature.parts.size(); ++p) {
        if (p > 0) out += ',';
        out += '[';
        for (std::size_t i = 0; i < feature.parts[p].size(); ++i) {
            if (i > 0) out += ',';
            const auto& point = feature.parts[p][i];
            out += '[' + std::to_string(point.x) + ',' + std::to_string(point.y) + ']';
        }
        out += ']';
    }
    out += "]}\n";
    return out;
}

bool read_whole_file(const char* path, std::string& bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && bytes.size() <= mvt::kMaxTileBytes) {
        bytes.append(chunk, n);
    }
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

}  // namespace

int run_mvt(int argc, char** argv) {
    if (argc >= 1 && argv[0][0] == '-') return usage_error("mvt", "unknown option", argv[0]);
    if (argc != 1) return usage_error("mvt", "needs one tile file");
    std::string bytes;
    if (!read_whole_file(argv[0], bytes)) {
        std::fprintf(stderr, "vortool mvt: cannot read %s\n", argv[0]);
        return 1;
    }
    std::string error;
    const auto raw = mvt::unwrap_gzip(bytes, error);
    const auto tile = raw ? mvt::decode(*raw, error) : std::nullopt;
    if (!tile) {
        std::fprintf(stderr, "vortool mvt: %s: %s\n", argv[0], error.c_str());
        return 1;
    }
    for (const auto& layer : tile->layers) {
        for (const auto& feature : layer.features) {
            const std::string line = feature_line(layer, feature);
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vg::cli
