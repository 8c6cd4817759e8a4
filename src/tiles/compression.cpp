#include "tiles/compression.h"

#include <zlib.h>

#include <climits>
#include <memory>

#ifndef VG_NO_BROTLI
#include <brotli/decode.h>
#include <brotli/encode.h>
#endif
#ifndef VG_NO_ZSTD
#include <zstd.h>
#endif

namespace vg {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string too_large(std::size_t limit) { return "decompresses to more than " + std::to_string(limit) + " bytes"; }

std::string not_in_build(Compression c) { return std::string(compression_name(c)) + " is not available in this build"; }

// Output grown a chunk at a time up to `limit` (plus one byte, to see that the limit was passed).
struct Sink {
    std::vector<std::uint8_t> out;
    std::size_t used = 0;
    std::size_t limit;
    explicit Sink(std::size_t l) : limit(l) {}
    // Room for the next step; false when the limit is already passed.
    bool grow() {
        if (used > limit) return false;
        const std::size_t cap = limit - used + 1;
        out.resize(used + std::min(kChunk, cap));
        return true;
    }
    std::size_t room() const { return out.size() - used; }
};

std::optional<std::vector<std::uint8_t>> gunzip(std::span<const std::uint8_t> in, std::size_t limit, std::string& error) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
        error = "gzip: out of memory";
        return std::nullopt;
    }
    Sink sink(limit);
    std::size_t in_used = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (!sink.grow()) break;
        const std::size_t in_step = std::min<std::size_t>(in.size() - in_used, UINT_MAX);
        z.next_in = const_cast<Bytef*>(in.data() + in_used);
        z.avail_in = static_cast<uInt>(in_step);
        z.next_out = sink.out.data() + sink.used;
        z.avail_out = static_cast<uInt>(sink.room());
        rc = inflate(&z, Z_NO_FLUSH);
        in_used += in_step - z.avail_in;
        sink.used = sink.out.size() - z.avail_out;
        if (rc == Z_BUF_ERROR && in_used == in.size() && z.avail_out > 0) break;  // input ended early
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
    }
    inflateEnd(&z);
    if (sink.used > limit) {
        error = too_large(limit);
        return std::nullopt;
    }
    if (rc != Z_STREAM_END) {
        error = "gzip data is damaged or truncated";
        return std::nullopt;
    }
    sink.out.resize(sink.used);
    return std::move(sink.out);
}

std::optional<std::vector<std::uint8_t>> gzip(std::span<const std::uint8_t> in, std::string& error) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "gzip: out of memory";
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(in.size())) + 32);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        error = "gzip: cannot compress";
        return std::nullopt;
    }
    return out;
}

#ifndef VG_NO_BROTLI
std::optional<std::vector<std::uint8_t>> unbrotli(std::span<const std::uint8_t> in, std::size_t limit,
                                                  std::string& error) {
    std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> d(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), &BrotliDecoderDestroyInstance);
    if (!d) {
        error = "brotli: out of memory";
        return std::nullopt;
    }
    Sink sink(limit);
    std::size_t avail_in = in.size();
    const std::uint8_t* next_in = in.data();
    BrotliDecoderResult rc = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) {
        if (!sink.grow()) break;
        std::size_t avail_out = sink.room();
        std::uint8_t* next_out = sink.out.data() + sink.used;
        rc = BrotliDecoderDecompressStream(d.get(), &avail_in, &next_in, &avail_out, &next_out, nullptr);
        sink.used = sink.out.size() - avail_out;
    }
    if (sink.used > limit) {
        error = too_large(limit);
        return std::nullopt;
    }
    if (rc != BROTLI_DECODER_RESULT_SUCCESS) {
        error = "brotli data is damaged or truncated";
        return std::nullopt;
    }
    sink.out.resize(sink.used);
    return std::move(sink.out);
}
#endif

#ifndef VG_NO_ZSTD
std::optional<std::vector<std::uint8_t>> unzstd(std::span<const std::uint8_t> in, std::size_t limit, std::string& error) {
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> d(ZSTD_createDCtx(), &ZSTD_freeDCtx);
    if (!d) {
        error = "zstd: out of memory";
        return std::nullopt;
    }
    Sink sink(limit);
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    std::size_t rc = 1;  // not at a frame's end
    bool failed = false;
    while (input.pos < input.size || rc != 0) {
        if (!sink.grow()) break;
        ZSTD_outBuffer output{sink.out.data() + sink.used, sink.room(), 0};
        const std::size_t before_in = input.pos;
        rc = ZSTD_decompressStream(d.get(), &output, &input);
        sink.used += output.pos;
        if (ZSTD_isError(rc)) {
            failed = true;
            break;
        }
        // Input all taken, a frame unfinished and no output made: the data ends early.
        if (rc != 0 && input.pos == input.size && before_in == input.pos && output.pos < output.size) {
            failed = true;
            break;
        }
    }
    if (sink.used > limit) {
        error = too_large(limit);
        return std::nullopt;
    }
    if (failed || rc != 0) {
        error = "zstd data is damaged or truncated";
        return std::nullopt;
    }
    sink.out.resize(sink.used);
    return std::move(sink.out);
}
#endif

}  // namespace

const char* compression_name(Compression c) {
    switch (c) {
    case Compression::none: return "none";
    case Compression::gzip: return "gzip";
    case Compression::brotli: return "brotli";
    case Compression::zstd: return "zstd";
    default: return "unknown";
    }
}

bool compression_available(Compression c) {
    switch (c) {
    case Compression::none:
    case Compression::gzip: return true;
#ifndef VG_NO_BROTLI
    case Compression::brotli: return true;
#endif
#ifndef VG_NO_ZSTD
    case Compression::zstd: return true;
#endif
    default: return false;
    }
}

std::optional<std::vector<std::uint8_t>> decompress(Compression c, std::span<const std::uint8_t> in,
                                                    std::size_t limit, std::string& error) {
    switch (c) {
    case Compression::none:
        if (in.size() > limit) {
            error = "holds more than " + std::to_string(limit) + " bytes";
            return std::nullopt;
        }
        return std::vector<std::uint8_t>(in.begin(), in.end());
    case Compression::gzip: return gunzip(in, limit, error);
#ifndef VG_NO_BROTLI
    case Compression::brotli: return unbrotli(in, limit, error);
#endif
#ifndef VG_NO_ZSTD
    case Compression::zstd: return unzstd(in, limit, error);
#endif
    case Compression::unknown: error = "unknown compression"; return std::nullopt;
    default: error = not_in_build(c); return std::nullopt;
    }
}

std::optional<std::vector<std::uint8_t>> compress(Compression c, std::span<const std::uint8_t> in, std::string& error) {
    switch (c) {
    case Compression::none: return std::vector<std::uint8_t>(in.begin(), in.end());
    case Compression::gzip: return gzip(in, error);
#ifndef VG_NO_BROTLI
    case Compression::brotli: {
        std::vector<std::uint8_t> out(BrotliEncoderMaxCompressedSize(in.size()) + 16);
        std::size_t size = out.size();
        if (!BrotliEncoderCompress(9, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, in.size(), in.data(), &size,
                                   out.data())) {
            error = "brotli: cannot compress";
            return std::nullopt;
        }
        out.resize(size);
        return out;
    }
#endif
#ifndef VG_NO_ZSTD
    case Compression::zstd: {
        std::vector<std::uint8_t> out(ZSTD_compressBound(in.size()));
        const std::size_t size = ZSTD_compress(out.data(), out.size(), in.data(), in.size(), 3);
        if (ZSTD_isError(size)) {
            error = "zstd: cannot compress";
            return std::nullopt;
        }
        out.resize(size);
        return out;
    }
#endif
    case Compression::unknown: error = "unknown compression"; return std::nullopt;
    default: error = not_in_build(c); return std::nullopt;
    }
}

}  // namespace vg
