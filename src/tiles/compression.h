// The compressions of tile archives: none, gzip (zlib), brotli and zstd, both ways. Pure: bytes in,
// bytes out, no I/O and no globals; safe from any thread. Decompression is bounded: output beyond
// the caller's limit (a decompression bomb), a truncated or damaged stream, and a compression this
// build lacks (brotli and zstd are left out of builds without their libraries: VG_NO_BROTLI,
// VG_NO_ZSTD) all fail with a defined error text and no output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vg {

// Numbered as PMTiles numbers them in its header.
enum class Compression : std::uint8_t { unknown = 0, none = 1, gzip = 2, brotli = 3, zstd = 4 };

// Most bytes a directory or metadata block may decompress to.
inline constexpr std::size_t kDirectoryBytesLimit = 64u << 20;

// "none", "gzip", "brotli", "zstd" or "unknown".
const char* compression_name(Compression c);
// Whether this build can read and write `c` (none and gzip always; brotli and zstd when built with them).
bool compression_available(Compression c);

// The bytes `in` decompresses to, at most `limit` of them. Nullopt with `error` set ("brotli is not
// available in this build", "gzip data is damaged", "decompresses to more than N bytes", ...).
std::optional<std::vector<std::uint8_t>> decompress(Compression c, std::span<const std::uint8_t> in,
                                                    std::size_t limit, std::string& error);
// `in` compressed with `c` (gzip with a gzip header); nullopt with `error` when `c` is unknown or
// not in this build.
std::optional<std::vector<std::uint8_t>> compress(Compression c, std::span<const std::uint8_t> in, std::string& error);

}  // namespace vg
