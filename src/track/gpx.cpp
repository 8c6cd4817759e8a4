#include "track/gpx.h"

#include "platform/c_number.h"
#include "platform/clock.h"

#ifndef VG_NO_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace vg {
namespace {

std::string xml_escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters other than tab and line ends are not allowed in XML 1.0.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
        }
    }
    return out;
}

std::string iso_utc(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!utc_parts(t, tm)) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

#ifndef VG_NO_LIBXML2
bool named(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0 &&
           (!n->ns || std::strncmp(reinterpret_cast<const char*>(n->ns->href), "http://www.topografix.com/GPX/", 30) == 0);
}

bool read_point(const xmlNode* n, GpxPoint& p, std::string& error) {
    auto attribute = [&](const char* name, double limit, double& v) {
        xmlChar* text = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
        if (!text) {
            error = std::string("a point without ") + name;
            return false;
        }
        const auto number = whole_c_number(reinterpret_cast<const char*>(text));
        if (number) v = *number;
        const bool ok = number && std::isfinite(v) && std::fabs(v) <= limit;
        xmlFree(text);
        if (!ok) error = std::string("a point with a bad ") + name;
        return ok;
    };
    return attribute("lat", 90.0, p.latitude) && attribute("lon", 180.0, p.longitude);
}

bool read_points(const xmlNode* parent, const char* point_name, std::vector<GpxPoint>& line, std::string& error) {
    for (const xmlNode* c = parent->children; c; c = c->next) {
        if (!named(c, point_name)) continue;
        GpxPoint p;
        if (!read_point(c, p, error)) return false;
        line.push_back(p);
    }
    return true;
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
#endif

}  // namespace

std::string write_gpx(const std::vector<TrackRun>& runs, std::string_view track_name) {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"VorGlobal " VG_VERSION "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
        " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
        " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n";
    out += "  <trk>\n    <name>" + xml_escaped(track_name) + "</name>\n";
    for (const TrackRun& run : runs) {
        if (run.empty()) continue;
        out += "    <trkseg>\n";
        for (const TrackPoint& p : run) {
            // The schema's longitudes run from -180 up to, not including, 180: the date line is -180.
            const double lon = p.longitude >= 180.0 ? p.longitude - 360.0 : p.longitude;
            out += "      <trkpt lat=\"" + fixed_text(p.latitude, 7) + "\" lon=\"" + fixed_text(lon, 7) + "\">";
            if (p.elevation) out += "<ele>" + fixed_text(*p.elevation, 1) + "</ele>";
            if (p.utc_seconds) {
                const std::string t = iso_utc(*p.utc_seconds);
                if (!t.empty()) out += "<time>" + t + "</time>";
            }
            out += "</trkpt>\n";
        }
        out += "    </trkseg>\n";
    }
    out += "  </trk>\n</gpx>\n";
    return out;
}

bool read_gpx(std::string_view bytes, GpxData& out, std::string& error) {
    out = {};
#ifdef VG_NO_LIBXML2
    (void)bytes;
    error = "reading GPX is not available in this build (made without libxml2)";
    return false;
#else
    if (bytes.size() > 0x7fffffff) {
        error = "file too large";
        return false;
    }
    // No network, no external entities or DTD loading, no entity substitution.
    const std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "gpx.xml",
                                                             nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                                          XML_PARSE_NOWARNING));
    if (!doc) {
        const xmlError* e = xmlGetLastError();
        error = "not well-formed XML";
        if (e && e->message) {
            error += " (line " + std::to_string(e->line) + ": " + e->message;
            while (!error.empty() && (error.back() == '\n' || error.back() == ' ')) error.pop_back();
            error += ")";
        }
        return false;
    }
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || !named(root, "gpx")) {
        error = "not a GPX file (the root element is not gpx)";
        return false;
    }
    for (const xmlNode* n = root->children; n; n = n->next) {
        if (named(n, "wpt")) {
            GpxWaypoint w;
            if (!read_point(n, w.at, error)) return false;
            for (const xmlNode* c = n->children; c; c = c->next)
                if (named(c, "name")) {
                    xmlChar* text = xmlNodeGetContent(c);
                    if (text) w.name = reinterpret_cast<const char*>(text);
                    xmlFree(text);
                }
            out.waypoints.push_back(std::move(w));
        } else if (named(n, "rte")) {
            std::vector<GpxPoint> line;
            if (!read_points(n, "rtept", line, error)) return false;
            if (!line.empty()) out.lines.push_back(std::move(line));
        } else if (named(n, "trk")) {
            for (const xmlNode* s = n->children; s; s = s->next) {
                if (!named(s, "trkseg")) continue;
                std::vector<GpxPoint> line;
                if (!read_points(s, "trkpt", line, error)) return false;
                if (!line.empty()) out.lines.push_back(std::move(line));
            }
        }
    }
    return true;
#endif
}

}  // namespace vg
