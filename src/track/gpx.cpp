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
namespace {

// The text as XML character data: markup characters escaped, and each byte that does not start an
// allowed UTF-8 character (a stray or cut-short byte, a control character) replaced by U+FFFD, so
// that whatever the name holds the document stays well-formed.
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
