// vortool decode: feeds a receiver byte stream (a log file or standard input) to the parser of a
// device type, the way the reader thread does, and prints the fix record as JSON.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/fix_json.h"
#include "gps/device_type.h"
#include "gps/fix_record.h"
#include "gps/receiver_parser.h"

namespace vg::cli {

namespace {

// The reader thread reads at most this many bytes at a time.
constexpr long kDefaultChunk = 80;
constexpr long kMaxChunk = 1L << 20;

struct Options {
    std::string device;
    int zone = 0;
    long chunk = kDefaultChunk;
    bool every = false;
    std::optional<std::string> replies;
    std::optional<std::string> input;  // standard input when empty or "-"
};

std::optional<long> parse_long(std::string_view text) {
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

int usage_error(const char* what, const char* arg) { return vg::cli::usage_error("decode", what, arg); }

// Closes a stdio file that this command opened (never stdin).
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f && f != stdin) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

int run_decode(int argc, char** argv) {
    Options opt;
    bool have_device = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--device") {
            const char* v = value();
            if (!v) return usage_error("--device needs a value", nullptr);
            opt.device = v;
            have_device = true;
        } else if (arg == "--zone") {
            const char* v = value();
            auto zone = v ? parse_long(v) : std::nullopt;
            // At most one day may be crossed by the shift.
            if (!zone || *zone < -23 || *zone > 23) return usage_error("--zone needs whole hours from -23 to 23", v);
            opt.zone = static_cast<int>(*zone);
        } else if (arg == "--chunk") {
            const char* v = value();
            auto chunk = v ? parse_long(v) : std::nullopt;
            if (!chunk || *chunk < 1 || *chunk > kMaxChunk) return usage_error("--chunk needs a size from 1 to 1048576", v);
            opt.chunk = *chunk;
        } else if (arg == "--every") {
            opt.every = true;
        } else if (arg == "--replies") {
            const char* v = value();
            if (!v) return usage_error("--replies needs a file name", nullptr);
            opt.replies = v;
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usage_error("unknown option", argv[i]);
        } else if (!opt.input) {
            opt.input = std::string(arg);
        } else {
            return usage_error("more than one input file", argv[i]);
        }
    }
    if (!have_device || opt.device.empty()) return usage_error("--device is required", nullptr);

    const std::optional<DeviceType> type = device_from_unit(opt.device);
    if (!type) return usage_error("unknown device", opt.device.c_str());

    FilePtr replies;
    if (opt.replies) {
        replies.reset(std::fopen(opt.replies->c_str(), "wb"));
        if (!replies) {
            std::fprintf(stderr, "vortool decode: cannot write %s: %s\n", opt.replies->c_str(), std::strerror(errno));
            return 1;
        }
    }

    ParserContext context;
    bool reply_failed = false;
    if (replies) {
        std::FILE* out = replies.get();
        context.reply = [out, &reply_failed](const std::uint8_t* data, std::size_t size) {
            if (size > 0 && std::fwrite(data, 1, size, out) != size) reply_failed = true;
        };
    }
    std::unique_ptr<ReceiverParser> parser = make_receiver_parser(*type, std::move(context));
    if (!parser) {
        std::fprintf(stderr, "vortool decode: unsupported device: %s\n", opt.device.c_str());
        return 2;
    }

    FilePtr input;
    std::string input_name = "standard input";
    if (opt.input && *opt.input != "-") {
        input_name = *opt.input;
        input.reset(std::fopen(opt.input->c_str(), "rb"));
        if (!input) {
            std::fprintf(stderr, "vortool decode: cannot read %s: %s\n", input_name.c_str(), std::strerror(errno));
            return 1;
        }
    } else {
        input.reset(stdin);
    }

    FixRecord fix;
    fix.local_offset_hours = opt.zone;
    std::string printed = fix_to_json(fix);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(opt.chunk));
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), input.get());
        if (got > 0) {
            parser->feed(buffer.data(), got, fix);
            if (opt.every) {
                std::string json = fix_to_json(fix);
                if (json != printed) {
                    std::printf("%s\n", json.c_str());
                    printed = std::move(json);
                }
            }
        }
        if (got < buffer.size()) {
            if (std::ferror(input.get())) {
                std::fprintf(stderr, "vortool decode: cannot read %s: %s\n", input_name.c_str(), std::strerror(errno));
                return 1;
            }
            if (std::feof(input.get())) break;
        }
    }
    if (!opt.every) std::printf("%s\n", fix_to_json(fix).c_str());

    if (replies && (reply_failed || std::fflush(replies.get()) != 0)) {
        std::fprintf(stderr, "vortool decode: cannot write %s\n", opt.replies->c_str());
        return 1;
    }
    if (std::fflush(stdout) != 0) return 1;
    return 0;
}

}  // namespace vg::cli
