#include "route/routing_data.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/files.h"
#include "platform/process.h"
#include "route/fetch_wait.h"
#include "route/route.h"
#include "settings/settings_file.h"

namespace vg::route {
namespace {

namespace fs = std::filesystem;


std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

[[maybe_unused]] bool is_extract_name(const std::string& name) {
    for (const char* end : {".osm.pbf", ".pbf", ".osm", ".osm.bz2", ".osm.gz", ".o5m"})
        if (name.size() > std::string_view(end).size() && name.ends_with(end)) return true;
    return false;
}

// What planetsplitter is doing, from the headings of its --loggable output.
struct Stage {
    const char* heading;
    double fraction;
    const char* text;
};
constexpr Stage kStages[] = {
    {"Parse OSM Data", 0.0, "Reading the extract"},  {"Sort OSM Data", 0.35, "Sorting"},
    {"Process OSM Data", 0.45, "Joining the ways"},  {"Prune Unneeded Data", 0.6, "Pruning"},
    {"Process Super-Data", 0.7, "Finding the main roads"},
    {"Combine Segments", 0.88, "Combining"},         {"Cross-Reference", 0.92, "Indexing"},
    {"Write Out Database", 0.96, "Writing"},
};

}  // namespace

bool valid_region_name(std::string_view region) {
    if (region.empty() || region.size() > 64 || region.front() == '.') return false;
    for (const char c : region)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            return false;
    return true;
}

std::string read_extracts_setting(const fs::path& dir) {
    const auto v = setting_value(dir / kIniFile, "extracts=");
    return v ? trimmed(*v) : std::string();
}

std::string extract_url(std::string_view setting, std::string_view region) {
    const auto at = setting.find("{region}");
    if (at == std::string_view::npos) return {};
    return std::string(setting.substr(0, at)) + std::string(region) + std::string(setting.substr(at + 8));
}

std::vector<std::string> regions(const fs::path& maps_folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(maps_folder / "routing", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (valid_region_name(name) && fs::is_regular_file(it->path() / "nodes.mem", ec)) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool build_database(const fs::path& extract, const fs::path& maps_folder, const std::string& region,
                    const DataProgress& progress, const std::atomic<bool>* cancel, std::string& error) {
#ifdef VG_NO_ROUTINO
    (void)extract, (void)maps_folder, (void)region, (void)progress, (void)cancel;
    error = "routing is not available in this build";
    return false;
#else
    if (!valid_region_name(region)) {
        error = "\"" + region + "\" cannot name a region (letters, digits, - _ . and spaces; at most 64 bytes)";
        return false;
    }
    std::error_code ec;
    if (!fs::is_regular_file(extract, ec)) {
        error = "there is no file " + extract.string();
        return false;
    }
    if (!is_extract_name(extract.filename().string())) {
        error = extract.filename().string() + " is not an OSM extract (.osm.pbf, .osm, .osm.bz2, .osm.gz or .o5m)";
        return false;
    }
    const fs::path routing = maps_folder / "routing";
    const fs::path final_folder = database_folder(maps_folder, region);
    const fs::path building = routing / ("." + region + ".building");
    const fs::path old = routing / ("." + region + ".old");
    fs::remove_all(building, ec);
    if (!fs::create_directories(building, ec)) {
        error = "cannot make " + building.string() + ": " + ec.message();
        return false;
    }
    std::string last_line, parse_error;
    bool no_ways = false;
    const auto on_line = [&](std::string_view line) {
        if (line.find_first_not_of("= ") == std::string_view::npos) return;
        last_line = line;
        if (parse_error.empty() && (line.find("Error") != std::string_view::npos || line.find("error") != std::string_view::npos))
            parse_error = line;
        if (line.starts_with("Read: ") && line.find(" Ways=0 ") != std::string_view::npos) no_ways = true;
        for (const Stage& s : kStages) {
            if (!line.starts_with(s.heading)) continue;
            double fraction = s.fraction;
            // "Process Super-Data (iteration N)": five iterations at most by default.
            if (const auto at = line.find("iteration "); at != std::string_view::npos && at + 10 < line.size())
                fraction += 0.035 * std::min(4, line[at + 10] - '0');
            if (progress) progress(fraction, s.text);
        }
    };
    if (progress) progress(0.0, "Reading the extract");
    const ProcessResult run = run_process(
        "planetsplitter",
        {"--loggable", "--dir=" + building.string(), "--tmpdir=" + building.string(),
         "--tagging=/usr/share/routino/tagging.xml", extract.string()},
        on_line, cancel);
    const auto fail = [&](std::string why) {
        fs::remove_all(building, ec);
        error = std::move(why);
        return false;
    };
    if (!run.started) return fail(run.error + " (Debian package routino)");
    if (run.cancelled) return fail("cancelled");
    if (run.exit_status != 0 && !parse_error.empty()) return fail("planetsplitter failed: " + parse_error);
    if (no_ways) return fail(extract.filename().string() + " holds no ways");
    if (run.exit_status != 0) return fail("planetsplitter failed: " + last_line);
    // The new database goes into place; the previous one, if any, is removed only after that.
    fs::remove_all(old, ec);
    const bool had_old = fs::exists(final_folder, ec);
    if (had_old) fs::rename(final_folder, old, ec);
    if (ec) return fail("cannot replace " + final_folder.string() + ": " + ec.message());
    fs::rename(building, final_folder, ec);
    if (ec) {
        const std::string why = "cannot move the database into " + final_folder.string() + ": " + ec.message();
        if (had_old) fs::rename(old, final_folder, ec);
        return fail(why);
    }
    fs::remove_all(old, ec);
    if (progress) progress(1.0, "Done");
    return true;
#endif
}

namespace {

// The version (ETag or Last-Modified) of the file a partial download holds the first bytes of.
std::string read_version(const fs::path& file) {
    std::string text;
    if (std::FILE* f = open_stream(file, "rb")) {
        char buffer[512];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
        std::fclose(f);
        text.assign(buffer, n);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

bool download_extract(Fetcher& fetcher, const FetchSettings& settings, const std::string& url,
                      const fs::path& target, const DataProgress& progress, const std::atomic<bool>* cancel,
                      std::string& error) {
    const fs::path part = fs::path(target.string() + ".part");
    const fs::path version_file = fs::path(part.string() + ".version");
    std::error_code ec;
    std::uint64_t offset = fs::is_regular_file(part, ec) ? fs::file_size(part, ec) : 0;
    if (ec) offset = 0;
    // Pieces of two versions of the file must never be joined: every piece after the first asks for
    // the first one's version, and a changed file is downloaded again from its start (once).
    std::string version = offset > 0 ? read_version(version_file) : std::string();
    bool restarted = false;
    const auto transfer = [&](FetchRequest request) {
        settings.apply_to(request);
        request.quiet = true;
        return fetch_cancellable(fetcher, std::move(request), cancel);
    };
    const auto failed = [&](const FetchResult& r) {
        if (r.outcome == FetchOutcome::cancelled) error = "cancelled";
        else if (r.outcome == FetchOutcome::unavailable) error = "downloading is not available in this build";
        else
            error = std::string("the download failed (") + fetch_situation(r) + (r.cause.empty() ? "" : ": " + r.cause) +
                    "); it goes on from " + std::to_string(offset) + " bytes when started again";
        return false;
    };
    for (;;) {
        if (cancel && cancel->load()) {
            error = "cancelled";
            return false;
        }
        FetchRequest request;
        request.url = url;
        request.limits = TransferLimits::other();
        request.limits.max_body = kExtractPiece;
        request.limits.total = std::chrono::minutes(10);
        request.range = ByteRange{offset, kExtractPiece};
        request.if_match = offset > 0 ? version : std::string();
        FetchResult r = transfer(std::move(request));
        if (r.outcome == FetchOutcome::changed) {
            if (restarted) {
                error = "the extract changed on the service during the download; try again later";
                return false;
            }
            restarted = true;
            fs::remove(part, ec);
            fs::remove(version_file, ec);
            offset = 0;
            version.clear();
            if (progress) progress(0.0, "The extract changed on the service: downloading it again");
            continue;
        }
        if (r.outcome == FetchOutcome::http_error && r.status == 416 && offset > 0) break;  // nothing after it
        if (r.outcome == FetchOutcome::too_large && !r.ranged_ok) {
            // The server sends the whole file whatever is asked: one transfer into the partial file.
            FetchRequest whole;
            whole.url = url;
            whole.file = part;
            whole.limits = TransferLimits::other();
            whole.limits.max_body = 1ULL << 40;
            whole.limits.total = std::chrono::hours(12);
            if (progress) progress(0.0, "Downloading (the service cannot resume)");
            fs::remove(version_file, ec);
            FetchResult all = transfer(std::move(whole));
            if (!all.ok()) return failed(all);
            break;
        }
        if (!r.ok()) return failed(r);
        if (!r.ranged_ok && offset > 0) {
            error = "the extract service sent another answer than the part asked for";
            return false;
        }
        if (offset == 0) {
            version = r.version();
            if (version.empty()) fs::remove(version_file, ec);
            else if (!write_file_replacing(version_file, version)) {
                error = "cannot write " + version_file.string();
                return false;
            }
        }
        if (!r.body.empty()) {
            std::FILE* f = open_stream(part, offset ? "ab" : "wb");
            const bool written = f && std::fwrite(r.body.data(), 1, r.body.size(), f) == r.body.size();
            if (f && std::fclose(f) != 0) f = nullptr;
            if (!written || !f) {
                error = "cannot write " + part.string();
                return false;
            }
            offset += r.body.size();
        }
        const std::uint64_t total = r.total_size;
        if (progress && total > 0) progress(std::min(1.0, static_cast<double>(offset) / static_cast<double>(total)), "Downloading");
        if (r.body.empty() || (total > 0 && offset >= total)) break;
    }
    fs::rename(part, target, ec);
    if (ec) {
        error = "cannot move the download to " + target.string() + ": " + ec.message();
        return false;
    }
    fs::remove(version_file, ec);
    return true;
}

bool download_extract(const std::string& url, const fs::path& target, const DataProgress& progress,
                      const std::atomic<bool>* cancel, std::string& error) {
    FetcherOptions options;
    options.user_agent = vorglobal_user_agent();
    Fetcher fetcher(options);
    return download_extract(fetcher, FetchSettings{}, url, target, progress, cancel, error);
}

}  // namespace vg::route
