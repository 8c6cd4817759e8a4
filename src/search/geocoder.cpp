#include "search/geocoder.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "geo/geodesy.h"
#include "platform/c_number.h"
#include "settings/settings_file.h"

namespace vg::search {
namespace {

std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string percent_encoded(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80) out += c;
        else if (c == '-' || c == '.' || c == '_' || c == '~') out += c;
        else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::optional<double> number_of(const nlohmann::json& v) {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) return whole_c_number(v.get<std::string>());
    return std::nullopt;
}

}  // namespace

std::string read_geocoder_url(const std::filesystem::path& dir) {
    const auto v = setting_value(dir / kIniFile, "geocoder=");
    return v ? trimmed(*v) : std::string();
}

std::string nominatim_url(std::string_view base, std::string_view text, std::size_t limit) {
    std::string url(base);
    if (url.find('?') == std::string::npos) {
        while (!url.empty() && url.back() == '/') url.pop_back();
        if (!url.ends_with("/search")) url += "/search";
        url += '?';
    } else if (url.back() != '?' && url.back() != '&') {
        url += '&';
    }
    return url + "q=" + percent_encoded(text) + "&format=jsonv2&limit=" + std::to_string(limit);
}

std::optional<std::vector<Result>> parse_nominatim(std::string_view body, std::string& error) {
    const nlohmann::json doc = nlohmann::json::parse(body.begin(), body.end(), nullptr, false);
    if (!doc.is_array()) {
        error = "the geocoder's answer is not a JSON list";
        return std::nullopt;
    }
    std::vector<Result> out;
    for (const auto& item : doc) {
        if (!item.is_object() || !item.contains("lat") || !item.contains("lon")) continue;
        const auto lat = number_of(item["lat"]), lon = number_of(item["lon"]);
        if (!lat || !lon || !(std::fabs(*lat) <= 90) || !(std::fabs(*lon) <= 180)) continue;
        Result r;
        r.place.lat = *lat;
        r.place.lon = *lon;
        for (const char* key : {"display_name", "name"})
            if (const auto it = item.find(key); it != item.end() && it->is_string() && r.place.name.empty())
                r.place.name = it->get<std::string>();
        std::string cls, type;
        if (const auto it = item.find("category"); it != item.end() && it->is_string()) cls = it->get<std::string>();
        if (const auto it = item.find("class"); it != item.end() && it->is_string()) cls = it->get<std::string>();
        if (const auto it = item.find("type"); it != item.end() && it->is_string()) type = it->get<std::string>();
        r.place.kind = "online/" + cls + (type.empty() ? "" : "/" + type);
        r.score = static_cast<double>(out.size());  // the service's own order
        r.pack = "online";
        out.push_back(std::move(r));
    }
    return out;
}

Geocoder::Geocoder(Fetcher& fetcher, std::string base, FetchSettings settings, Clock clock)
    : fetcher_(fetcher), base_(std::move(base)), settings_(std::move(settings)), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

bool Geocoder::ask(std::string_view text, std::optional<LatLon> from, Done done) {
    if (base_.empty()) return false;
    {
        const std::lock_guard lock(mutex_);
        const auto now = clock_();
        if (last_ && now - *last_ < std::chrono::seconds(1)) return false;
        last_ = now;
    }
    FetchRequest request;
    request.url = nominatim_url(base_, text, 10);
    request.limits = TransferLimits::other();
    request.limits.max_body = 1 << 20;
    request.quiet = true;
    settings_.apply_to(request);
    fetcher_.submit(std::move(request), [done = std::move(done), from](Fetcher::RequestId, FetchResult&& result) {
        if (!result.ok()) {
            done({}, std::string("the online search failed (") + fetch_situation(result) + ")");
            return;
        }
        std::string error;
        auto results = parse_nominatim(result.body, error);
        if (!results) {
            done({}, error);
            return;
        }
        if (from)
            for (auto& r : *results) r.distance_m = geo::distance_m(from->lat, from->lon, r.place.lat, r.place.lon);
        done(std::move(*results), {});
    });
    return true;
}

}  // namespace vg::search
