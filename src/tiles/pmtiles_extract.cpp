#include "tiles/pmtiles_extract.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <unordered_map>

#include "platform/c_number.h"
#include "platform/files.h"
#include "tiles/geometry.h"
#include "tiles/pmtiles_writer.h"

namespace vg::pmtiles {

namespace {

// One tile content of the output: where it is in the source's data section and in the output's.
struct Content {
    std::uint64_t source = 0;
    std::uint32_t length = 0;
    std::uint64_t out = 0;
};

// Contents read with one range of the source: [first, last) of the contents sorted by source offset.
struct Range {
    std::uint64_t offset = 0, length = 0;
    std::size_t first = 0, last = 0;
};

std::span<const std::uint8_t> span_of(const std::vector<std::uint8_t>& v) { return {v.data(), v.size()}; }

int tile_column(double lon, int z) { return web_tile_column(lon, z); }
int tile_row(double lat, int z) { return web_tile_row(lat, z); }

std::string journal_head(const ExtractRequest& rq, const std::string& version, std::uint64_t size) {
    std::ostringstream s;
    s << "vg-extract 1\nsource " << rq.source << "\nversion " << version << "\narea " << fixed_text(rq.west, 7)
      << ' ' << fixed_text(rq.south, 7) << ' ' << fixed_text(rq.east, 7) << ' ' << fixed_text(rq.north, 7) << ' '
      << rq.min_zoom << ' ' << rq.max_zoom << ' ' << rq.merge_gap << "\nsize " << size << "\n";
    return s.str();
}

// The ranges an earlier run wrote, when its journal is of this very extract and its part file is whole.
std::set<std::size_t> kept_ranges(const std::filesystem::path& part, const std::filesystem::path& journal,
                                  const std::string& head, std::uint64_t size) {
    std::set<std::size_t> kept;
    std::ifstream in(journal, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.rfind(head, 0) != 0 || regular_size(part) != static_cast<long long>(size)) return kept;
    std::istringstream lines(text.substr(head.size()));
    std::string word;
    std::size_t index = 0;
    while (lines >> word >> index)
        if (word == "range") kept.insert(index);
    return kept;
}

}  // namespace

ExtractResult extract_region(Fetcher& fetcher, const ExtractRequest& rq,
                             const std::function<void(const ExtractProgress&)>& progress,
                             const std::atomic<bool>* cancel) {
    ExtractResult result;
    auto fail = [&](ExtractResult::Status status, std::string error) {
        result.status = status;
        result.error = std::move(error);
        return result;
    };
    if (rq.policy.nobulk)
        return fail(ExtractResult::Status::refused, "the source's tile policy forbids downloading regions (nobulk)");
    if (rq.min_zoom < 0 || rq.max_zoom > kMaxZoom || rq.min_zoom > rq.max_zoom)
        return fail(ExtractResult::Status::refused, "zooms must be A-B within 0-31");
    if (!(rq.south < rq.north) || rq.west == rq.east || std::abs(rq.west) > 180 || std::abs(rq.east) > 180)
        return fail(ExtractResult::Status::refused, "the area must be W,S,E,N with south below north");

    // The tile ids of the area, zoom by zoom (two column spans where it crosses the date line).
    std::uint64_t count = 0;
    for (int z = rq.min_zoom; z <= rq.max_zoom; ++z) {
        const std::uint64_t rows = static_cast<std::uint64_t>(tile_row(rq.south, z) - tile_row(rq.north, z) + 1);
        const int xw = tile_column(rq.west, z), xe = tile_column(rq.east, z);
        const std::uint64_t columns = rq.west < rq.east ? static_cast<std::uint64_t>(xe - xw + 1)
                                                        : static_cast<std::uint64_t>((1LL << z) - xw + xe + 1);
        count += rows * columns;
        if (count > kMaxExtractTiles)
            return fail(ExtractResult::Status::refused, "the area holds more than " + std::to_string(kMaxExtractTiles) +
                                                            " tiles at those zooms; narrow the area or the zooms");
    }
    std::vector<std::uint64_t> ids;
    ids.reserve(count);
    for (int z = rq.min_zoom; z <= rq.max_zoom; ++z) {
        const int y0 = tile_row(rq.north, z), y1 = tile_row(rq.south, z);
        const int xw = tile_column(rq.west, z), xe = tile_column(rq.east, z);
        auto add = [&](long long x0, long long x1) {
            for (long long y = y0; y <= y1; ++y)
                for (long long x = x0; x <= x1; ++x)
                    ids.push_back(*tile_id(z, static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)));
        };
        if (rq.west < rq.east) {
            add(xw, xe);
        } else {
            add(xw, (1LL << z) - 1);
            add(0, xe);
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

    // The directory entries of those tiles, and the output's entries and contents.
    RemoteArchive archive(fetcher, rq.source, rq.policy);
    std::string error;
    if (!archive.open(error)) return fail(ExtractResult::Status::failed, "cannot open " + rq.source + ": " + error);
    const Header in = archive.header();
    const std::string version = archive.version();
    std::vector<Entry> found;
    bool changed = false;
    if (!archive.tile_entries(ids, found, error, &changed))
        return fail(ExtractResult::Status::failed, changed ? "the source changed while its directories were read; run again"
                                                           : "cannot read the directories: " + error);
    Directory out_entries;
    std::vector<Content> contents;
    std::unordered_map<std::uint64_t, std::size_t> content_of;  // source offset -> index in contents
    std::uint64_t data_length = 0;
    std::size_t at = 0;
    for (const std::uint64_t id : ids) {
        while (at < found.size() && found[at].tile_id + found[at].run_length <= id) ++at;
        if (at == found.size()) break;
        const Entry& e = found[at];
        if (e.tile_id > id) continue;
        auto [it, added] = content_of.emplace(e.offset, contents.size());
        if (added) {
            contents.push_back({e.offset, e.length, data_length});
            data_length += e.length;
        }
        const std::uint64_t out_offset = contents[it->second].out;
        ++result.tiles;
        if (!out_entries.empty() && out_entries.back().tile_id + out_entries.back().run_length == id &&
            out_entries.back().offset == out_offset) {
            ++out_entries.back().run_length;
            continue;
        }
        out_entries.push_back({id, out_offset, e.length, 1});
    }
    if (out_entries.empty()) return fail(ExtractResult::Status::failed, "the archive holds no tiles in that area at those zooms");
    result.tile_bytes = data_length;

    // The source's metadata goes with the tiles.
    std::string metadata_json = "{}";
    if (in.metadata_length > 0) {
        const RangeRead raw = archive.read_at(in.metadata_offset, in.metadata_length);
        if (!raw.ok())
            return fail(ExtractResult::Status::failed,
                        raw.outcome == FetchOutcome::changed ? "the source changed; run again" : "cannot read the metadata: " + raw.error);
        const auto plain = decompress(in.internal_compression, span_of(raw.bytes), kDirectoryBytesLimit, error);
        if (!plain) return fail(ExtractResult::Status::failed, "cannot read the metadata: " + error);
        metadata_json.assign(plain->begin(), plain->end());
    }
    const std::uint64_t file_size = data_length;

    // The ranges: contents by source offset, neighbours merged while the gap is small and the
    // bytes skipped over stay within 15 % of the tiles' bytes.
    std::vector<std::size_t> order(contents.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return contents[a].source < contents[b].source; });
    std::vector<Range> ranges;
    const std::uint64_t waste_budget = data_length * 15 / 100;
    std::uint64_t waste = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const Content& c = contents[order[i]];
        if (!ranges.empty()) {
            Range& r = ranges.back();
            const std::uint64_t end = r.offset + r.length;
            const std::uint64_t gap = c.source > end ? c.source - end : 0;
            if (c.source >= r.offset && gap < rq.merge_gap && waste + gap <= waste_budget &&
                r.length + gap + c.length <= kTileBodyLimit) {
                waste += gap;
                r.length = std::max(end, c.source + c.length) - r.offset;
                r.last = i + 1;
                continue;
            }
        }
        ranges.push_back({c.source, c.length, i, i + 1});
    }

    // The part file: kept from an earlier run of this very extract, else begun afresh.
    std::filesystem::path part = rq.out;
    part += ".part";
    std::filesystem::path journal = part;
    journal += ".journal";
    const std::string head = journal_head(rq, version, file_size);
    const std::set<std::size_t> kept = kept_ranges(part, journal, head, file_size);
    std::fstream file;
    if (kept.empty()) {
        remove_file(journal);
        std::ofstream create(part, std::ios::binary | std::ios::trunc);
        create.seekp(static_cast<std::streamoff>(file_size - 1));
        create.put('\0');
        std::ofstream j(journal, std::ios::binary | std::ios::trunc);
        j << head;
        if (!create || !j) return fail(ExtractResult::Status::failed, "cannot write " + part.string());
    }
    file.open(part, std::ios::binary | std::ios::in | std::ios::out);
    std::ofstream log(journal, std::ios::binary | std::ios::app);
    if (!file || !log) return fail(ExtractResult::Status::failed, "cannot write " + part.string());

    ExtractProgress p;
    p.tiles_total = result.tiles;
    p.bytes_total = data_length;
    p.resumed = !kept.empty();
    result.ranges_kept = kept.size();
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const std::uint64_t tiles_bytes = [&] {
            std::uint64_t n = 0;
            for (std::size_t k = ranges[i].first; k < ranges[i].last; ++k) n += contents[order[k]].length;
            return n;
        }();
        if (kept.count(i))
            p.bytes += tiles_bytes;
        else
            p.fetch_total += ranges[i].length;
    }
    const auto before = archive.stats();
    p.fetched = before.bytes;
    p.planned = true;
    auto tiles_share = [&] {
        return data_length ? static_cast<std::uint64_t>(static_cast<double>(result.tiles) * static_cast<double>(p.bytes) /
                                                        static_cast<double>(data_length))
                           : 0;
    };
    p.tiles = tiles_share();
    if (progress) progress(p);
    p.planned = false;
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t run_bytes = 0, left = p.fetch_total;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (kept.count(i)) continue;
        if (cancel && cancel->load()) {
            result.fetched = archive.stats().bytes;
            result.requests = archive.stats().requests;
            return fail(ExtractResult::Status::cancelled, "cancelled; run the same extract again to resume");
        }
        const Range& r = ranges[i];
        const RangeRead read = archive.read_data(r.offset, r.length);
        if (!read.ok()) {
            result.fetched = archive.stats().bytes;
            result.requests = archive.stats().requests;
            return fail(ExtractResult::Status::failed,
                        read.outcome == FetchOutcome::changed
                            ? "the source changed during the extract; run again to start over"
                            : "cannot read the tiles (" + read.error + "); run the same extract again to resume");
        }
        for (std::size_t k = r.first; k < r.last; ++k) {
            const Content& c = contents[order[k]];
            file.seekp(static_cast<std::streamoff>(c.out));
            file.write(reinterpret_cast<const char*>(read.bytes.data() + (c.source - r.offset)), c.length);
            p.bytes += c.length;
        }
        file.flush();
        if (!file) return fail(ExtractResult::Status::failed, "cannot write " + part.string());
        log << "range " << i << "\n" << std::flush;
        run_bytes += r.length;
        left -= r.length;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        p.fetched = archive.stats().bytes;
        p.rate = seconds > 0 ? static_cast<double>(run_bytes) / seconds : 0;
        p.seconds_left = p.rate > 0 ? static_cast<double>(left) / p.rate : -1;
        p.tiles = tiles_share();
        if (progress) progress(p);
    }
    log.close();
    // Every tile is in the part file: the archive is written from it by the one PMTiles writer.
    WriterOptions options;
    options.tile_type = in.tile_type;
    options.tile_compression = in.tile_compression;
    options.internal_compression = in.internal_compression;
    options.metadata_json = metadata_json;
    options.has_bounds = true;
    options.west = rq.west;
    options.south = rq.south;
    options.east = rq.east;
    options.north = rq.north;
    auto writer = Writer::create(rq.out.string(), options, error);
    if (!writer) return fail(ExtractResult::Status::failed, error);
    std::vector<std::uint8_t> bytes;
    for (const Entry& e : out_entries) {
        bytes.resize(e.length);
        file.seekg(static_cast<std::streamoff>(e.offset));
        file.read(reinterpret_cast<char*>(bytes.data()), e.length);
        if (!file) return fail(ExtractResult::Status::failed, "cannot read " + part.string());
        for (std::uint64_t id = e.tile_id; id < e.tile_id + e.run_length; ++id) {
            const auto t = tile_address(id);
            if (!t || !writer->add_tile(t->z, static_cast<int>(t->x), static_cast<int>(t->y), bytes))
                return fail(ExtractResult::Status::failed, "cannot write " + rq.out.string());
        }
    }
    file.close();
    if (!writer->finish(error)) return fail(ExtractResult::Status::failed, error);
    remove_file(part);
    remove_file(journal);
    const auto stats = archive.stats();
    result.fetched = stats.bytes;
    result.requests = stats.requests;
    result.status = ExtractResult::Status::ok;
    return result;
}

}  // namespace vg::pmtiles
