// A region of a PMTiles archive (remote or local) copied into a new clustered PMTiles v3 file: the
// tiles of an area at a range of zooms. Behind `vortool pack extract` and the window's region
// download.
//
// How: the tile ids of the area and zooms are worked out, only the directory entries for them are
// read (the root, and the leaf directories whose id span meets them), and where each tile content
// goes is fixed before any is fetched: tiles of one content are stored once, in tile-id order. The contents are then read by ranges of the source's data section, one
// range merging neighbouring contents while the gap between them is under `merge_gap` and the bytes
// skipped over all stay under 15 % of the tiles' bytes (so bytes fetched stay within about 1.2 times
// the bytes written, directories included, for any area of more than a few tiles).
//
// Files: the tiles are gathered in OUT.part (each content once, at a place fixed by the plan), with
// a journal OUT.part.journal beside it (source, version, area, zooms, then one line per range
// written). An interrupted extract (cancelled, the server gone, the program killed) started again
// with the same source and area fetches only the ranges the journal lacks; when the source's version
// (ETag) differs, it starts over. When every range is there, the archive is written from the part
// file by the PMTiles writer (pmtiles_writer.h: flushed, renamed into place as OUT), and the part
// file and journal are removed.
//
// Threads: extract_region is synchronous and waits for the network: run it on a worker thread,
// never the window thread. `progress` is called on that thread (after planning, then after every
// range); `cancel` is polled between ranges (set it from any thread; the extract stops within one
// range, keeps what it has for a resume and returns `cancelled`).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "tiles/pmtiles_remote.h"

namespace vg::pmtiles {

// More tiles than this in one extract is refused: narrow the area or the zooms.
inline constexpr std::uint64_t kMaxExtractTiles = 4'000'000;
inline constexpr std::uint64_t kDefaultMergeGap = 64 * 1024;

struct ExtractRequest {
    std::string source;  // http(s) address or local file of the archive
    double west = 0, south = 0, east = 0, north = 0;  // degrees; west > east crosses the date line
    int min_zoom = 0, max_zoom = 0;
    std::filesystem::path out;
    RemotePolicy policy;  // nobulk refuses the extract
    std::uint64_t merge_gap = kDefaultMergeGap;
};

struct ExtractProgress {
    std::uint64_t tiles = 0, tiles_total = 0;  // tiles of the area in the archive (after planning)
    std::uint64_t bytes = 0, bytes_total = 0;  // tile bytes written so far, and in all
    std::uint64_t fetch_total = 0;             // bytes the ranges still to read take (after planning)
    std::uint64_t fetched = 0;                 // bytes received so far (directories included)
    double rate = 0;                           // bytes received per second in this run
    double seconds_left = -1;                  // estimate; -1 unknown
    bool planned = false;                      // the first call: totals known, nothing fetched yet
    bool resumed = false;                      // ranges of an earlier run were kept
};

struct ExtractResult {
    enum class Status { ok, refused, failed, cancelled };
    Status status = Status::failed;
    std::string error;
    std::uint64_t tiles = 0;          // addressed tiles written
    std::uint64_t tile_bytes = 0;     // bytes of tile contents in the output
    std::uint64_t fetched = 0;        // bytes received in this run (directories included)
    std::uint64_t requests = 0;       // ranges asked in this run
    std::uint64_t ranges_kept = 0;    // ranges an earlier run had written
};

ExtractResult extract_region(Fetcher& fetcher, const ExtractRequest& request,
                             const std::function<void(const ExtractProgress&)>& progress = {},
                             const std::atomic<bool>* cancel = nullptr);

}  // namespace vg::pmtiles
