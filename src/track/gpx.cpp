#include "track/gpx.h"

#include "platform/c_number.h"
#include "platform/clock.h"
#include "settings/text_scan.h"

#ifndef VG_NO_LIBXML2
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace vg {

std::string xml_escaped(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        std::size_t length = 1;
        switch (text[0]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // XML 1.0 allows no C0 control but tab and line ends, and not U+FFFE or U+FFFF.
            const auto ch = utf8_character(text);
            if (ch && (ch->code >= 0x20 || ch->code == '\t' || ch->code == '\n' || ch->code == '\r') &&
                ch->code != 0xFFFE && ch->code != 0xFFFF) {
                length = ch->length;
                out += text.substr(0, length);
            } else {
                out += "\xEF\xBF\xBD";
            }
        }
        text.remove_prefix(length);
    }
    return out;
}

namespace {

std::string iso_utc(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!utc_parts(t, tm)) return {};
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// Days from 1970-01-01 to the civil date y-m-d (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

#ifndef VG_NO_LIBXML2
bool named(const xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0 &&
           (!n->ns || std::strncmp(reinterpret_cast<const char*>(n->ns->href), "http://www.topografix.com/GPX/", 30) == 0);
}

std::string element_text(const xmlNode* element);

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
    if (!attribute("lat", 90.0, p.latitude) || !attribute("lon", 180.0, p.longitude)) return false;
    // `ele` and `time` are optional; a value that cannot be read is left out, not an error.
    for (const xmlNode* c = n->children; c; c = c->next) {
        if (named(c, "ele")) {
            std::string text = element_text(c);
            text.erase(0, text.find_first_not_of(" \t\r\n"));
            text.erase(text.find_last_not_of(" \t\r\n") + 1);
            const auto v = whole_c_number(text.c_str());
            if (v && std::isfinite(*v) && std::fabs(*v) < 100000.0) p.elevation = *v;
        } else if (named(c, "time")) {
            p.utc_seconds = parse_iso_time(element_text(c));
        }
    }
    return true;
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

// The text of an element's own text and CDATA children, at most kGpxMaxText bytes, cut at a
// character boundary (libxml2 hands over UTF-8). Entity references are not followed.
std::string element_text(const xmlNode* element) {
    std::string text;
    // One byte past the limit is kept, to tell where the cut falls.
    for (const xmlNode* c = element->children; c && text.size() <= kGpxMaxText; c = c->next)
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content)
            text += std::string_view(reinterpret_cast<const char*>(c->content)).substr(0, kGpxMaxText + 1 - text.size());
    if (text.size() > kGpxMaxText) {
        std::size_t cut = kGpxMaxText;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    return text;
}

// Called by libxml2 at a document type declaration, before its internal subset is read: stops the
// parse there, so that no entity it could declare is ever read or expanded.
void refuse_doctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* parser = static_cast<xmlParserCtxt*>(context);
    *static_cast<bool*>(parser->_private) = true;
    xmlStopParser(parser);
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct ParserFree {
    void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};
#endif

}  // namespace

std::optional<double> parse_iso_time(std::string_view t) {
    // YYYY-MM-DDTHH:MM:SS[.f...][Z|+hh:mm|-hh:mm]
    auto digits = [&](std::size_t at, std::size_t n, int& v) {
        if (at + n > t.size()) return false;
        v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (t[i] < '0' || t[i] > '9') return false;
            v = v * 10 + (t[i] - '0');
        }
        return true;
    };
    while (!t.empty() && (t.front() == ' ' || t.front() == '\n' || t.front() == '\t' || t.front() == '\r')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\n' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    int y, mo, d, h, mi, s;
    if (!digits(0, 4, y) || t.size() < 19 || t[4] != '-' || !digits(5, 2, mo) || t[7] != '-' || !digits(8, 2, d) ||
        (t[10] != 'T' && t[10] != 't' && t[10] != ' ') || !digits(11, 2, h) || t[13] != ':' || !digits(14, 2, mi) ||
        t[16] != ':' || !digits(17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
    std::size_t i = 19;
    double fraction = 0;
    if (i < t.size() && t[i] == '.') {
        double scale = 0.1;
        ++i;
        const std::size_t start = i;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, scale /= 10) fraction += (t[i] - '0') * scale;
        if (i == start) return std::nullopt;
    }
    int offset = 0;
    if (i < t.size()) {
        if ((t[i] == 'Z' || t[i] == 'z') && i + 1 == t.size()) {
        } else if ((t[i] == '+' || t[i] == '-') && t.size() == i + 6 && t[i + 3] == ':') {
            int oh, om;
            if (!digits(i + 1, 2, oh) || !digits(i + 4, 2, om) || oh > 23 || om > 59) return std::nullopt;
            offset = (oh * 60 + om) * 60 * (t[i] == '-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
    }
    const std::int64_t days = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    return static_cast<double>(days * 86400 + h * 3600 + mi * 60 + s - offset) + fraction;
}

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
    // No network, no DTD at all (so no entities beyond XML's own five), no entity substitution.
    const std::unique_ptr<xmlParserCtxt, ParserFree> parser(xmlNewParserCtxt());
    if (!parser) {
        error = "out of memory";
        return false;
    }
    bool doctype = false;
    parser->_private = &doctype;
    parser->sax->internalSubset = refuse_doctype;
    const std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(parser.get(), bytes.data(), static_cast<int>(bytes.size()),
                                                                 "gpx.xml", nullptr,
                                                                 XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (doctype) {
        error = "it has a document type declaration (<!DOCTYPE ...>), which GPX files never need";
        return false;
    }
    if (!doc) {
        const xmlError* e = xmlCtxtGetLastError(parser.get());
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
                if (named(c, "name")) w.name = element_text(c);
            out.waypoints.push_back(std::move(w));
        } else if (named(n, "rte")) {
            std::vector<GpxPoint> line;
            if (!read_points(n, "rtept", line, error)) return false;
            if (line.empty()) continue;
            GpxData::Route route{out.lines.size(), {}};
            for (const xmlNode* p = n->children; p; p = p->next) {
                if (!named(p, "rtept")) continue;
                std::string name;
                for (const xmlNode* c = p->children; c; c = c->next)
                    if (named(c, "name")) name = element_text(c);
                route.names.push_back(std::move(name));
            }
            out.routes.push_back(std::move(route));
            out.lines.push_back(std::move(line));
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
