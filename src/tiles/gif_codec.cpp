#include "tiles/gif_codec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace vg {

namespace {

// ---------------------------------------------------------------------------------------------
// Reading

// The bytes of a GIF stream, read front to back.
class ByteSource {
public:
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    bool byte(std::uint8_t& value) {
        if (pos_ >= size_) return false;
        value = data_[pos_++];
        return true;
    }
    // All `count` bytes or nothing (a short read consumes what is left and fails).
    bool bytes(std::uint8_t* out, std::size_t count) {
        if (size_ - pos_ < count) {
            pos_ = size_;
            return false;
        }
        std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }
    // Up to `count` bytes; returns how many there were.
    std::size_t some(std::uint8_t* out, std::size_t count) {
        const std::size_t n = std::min(count, size_ - pos_);
        std::memcpy(out, data_ + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// A colour table, one RGB triple per index; entries a file does not supply stay black.
using ColourTable = std::array<std::uint8_t, 256 * 3>;

// Reads 2^(n+1) entries. A short read ends the table early; the stream is then exhausted and the
// next block introducer fails the whole read.
void read_colour_table(ByteSource& in, int n, ColourTable& table) {
    const int entries = 1 << (n + 1);
    for (int i = 0; i < entries; ++i) {
        std::uint8_t rgb[3];
        if (!in.bytes(rgb, 3)) return;
        std::memcpy(&table[static_cast<std::size_t>(i) * 3], rgb, 3);
    }
}

// Skips data sub-blocks up to and including the zero-length terminator, or to the end of the
// stream.
void skip_sub_blocks(ByteSource& in) {
    std::uint8_t length = 0;
    std::uint8_t scratch[255];
    while (in.byte(length) && length != 0) {
        if (in.some(scratch, length) < length) return;
    }
}

constexpr int kMaxCodes = 4096;        // 12-bit LZW table
constexpr int kStackSize = 2 * kMaxCodes;
constexpr int kBlockBuffer = 280;      // two carried-over bytes plus one sub-block
constexpr int kBlockBufferBits = kBlockBuffer * 8;

// LZW decoder of one image's data: the code reader over the data sub-blocks and the string table.
// `next_value` yields the colour indexes of the image in order, then a negative value: -1 when the
// codes run out or the data is corrupt, -2 at the end code.
class LzwDecoder {
public:
    explicit LzwDecoder(ByteSource& in) : in_(in) {}

    // Starts with the minimum code size; refuses sizes above 12.
    bool start(int min_code_size) {
        if (min_code_size > 12) return false;
        min_code_size_ = min_code_size;
        clear_ = 1 << min_code_size;
        end_ = clear_ + 1;
        reset_table_limits();
        for (int i = 0; i < clear_; ++i) {
            prefix_[i] = 0;
            suffix_[i] = static_cast<std::uint16_t>(i);
        }
        // Entries from clear up stay zero until the decoder assigns them.
        sp_ = 0;
        fresh_ = true;
        return true;
    }

    // Pops a pending value of the current string; the caller's fast path.
    bool pop(int& value) {
        if (sp_ == 0) return false;
        value = stack_[--sp_];
        return true;
    }

    int next_value() {
        if (fresh_) {
            fresh_ = false;
            return first_after_clear();
        }
        if (sp_ > 0) return stack_[--sp_];

        int code = read_code();
        if (code < 0) return code;
        if (code == clear_) {
            // Entries below clear never change; those assigned since the last reset go back to zero.
            // (With a 12-bit minimum code size the table has no entries above clear at all.)
            const int assigned_end = std::min(next_code_, kMaxCodes);
            if (assigned_end > clear_) {
                std::fill(prefix_.begin() + clear_, prefix_.begin() + assigned_end, 0);
                std::fill(suffix_.begin() + clear_, suffix_.begin() + assigned_end, 0);
            }
            reset_table_limits();
            sp_ = 0;
            return first_after_clear();
        }
        // The rest of the stream is never looked at after the end code, so the remaining
        // sub-blocks need not be skipped.
        if (code == end_) return -2;

        const int incoming = code;
        if (code >= next_code_) {
            stack_[sp_++] = static_cast<std::uint16_t>(first_code_);
            code = old_code_;
        }
        while (code >= clear_) {
            // A chain that leaves the table or outgrows the stack can only come from corrupt data.
            if (code >= kMaxCodes || sp_ >= kStackSize) return -1;
            stack_[sp_++] = suffix_[code];
            if (prefix_[code] == code) return -1;  // circular entry
            code = prefix_[code];
        }
        if (sp_ >= kStackSize) return -1;
        first_code_ = suffix_[code];
        stack_[sp_++] = static_cast<std::uint16_t>(first_code_);
        if (next_code_ < kMaxCodes) {
            prefix_[next_code_] = static_cast<std::uint16_t>(old_code_);
            suffix_[next_code_] = static_cast<std::uint16_t>(first_code_);
            ++next_code_;
            if (next_code_ >= code_limit_ && code_limit_ < kMaxCodes) {
                code_limit_ *= 2;
                ++code_size_;
            }
        }
        old_code_ = incoming;
        return stack_[--sp_];
    }

private:
    // The code after a clear code starts the first string. Further clear codes change nothing and
    // are passed over; an end code there ends the image rather than yielding a pixel.
    int first_after_clear() {
        int code;
        do {
            code = read_code();
        } while (code == clear_);
        if (code == end_) return -2;
        first_code_ = old_code_ = code;
        return code;
    }

    void reset_table_limits() {
        code_size_ = min_code_size_ + 1;
        code_limit_ = 2 * clear_;
        next_code_ = clear_ + 2;
    }

    // Reads the next data sub-block behind the two carried-over bytes. A missing length byte or a
    // block cut short by the end of the stream ends the data after what could be read.
    int read_sub_block() {
        std::uint8_t length = 0;
        if (!in_.byte(length)) {
            done_ = true;
            return 0;
        }
        if (length == 0) {
            done_ = true;
            return 0;
        }
        const std::size_t got = in_.some(buffer_.data() + 2, length);
        if (got < length) done_ = true;
        return static_cast<int>(got);
    }

    // Codes are packed least-significant bit first across sub-blocks.
    int read_code() {
        const int width = code_size_;
        if (bit_pos_ + width >= bit_limit_) {
            if (done_) return -1;
            buffer_[0] = buffer_[last_byte_ - 2];
            buffer_[1] = buffer_[last_byte_ - 1];
            const int count = read_sub_block();
            last_byte_ = 2 + count;
            bit_pos_ = bit_pos_ - bit_limit_ + 16;
            bit_limit_ = 8 * (2 + count);
        }
        // Runs of tiny sub-blocks can push the position past the buffer; such data has ended.
        if (bit_pos_ + width > kBlockBufferBits) return -1;
        const std::uint8_t* p = buffer_.data() + (bit_pos_ >> 3);
        const std::uint32_t bits = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                   (static_cast<std::uint32_t>(p[2]) << 16);
        const int code = static_cast<int>((bits >> (bit_pos_ & 7)) & ((1u << width) - 1));
        bit_pos_ += width;
        return code;
    }

    ByteSource& in_;
    // Code reader.
    std::array<std::uint8_t, kBlockBuffer + 4> buffer_{};
    int bit_pos_ = 0;
    int bit_limit_ = 0;
    int last_byte_ = 2;
    bool done_ = false;
    // String table.
    int min_code_size_ = 0, code_size_ = 0, clear_ = 0, end_ = 0, next_code_ = 0, code_limit_ = 0;
    int first_code_ = 0, old_code_ = 0;
    bool fresh_ = false;
    std::array<std::uint16_t, kMaxCodes> prefix_{};
    std::array<std::uint16_t, kMaxCodes> suffix_{};
    std::array<std::uint16_t, kStackSize> stack_{};
    int sp_ = 0;
};

struct ImageDescriptor {
    int left, top, width, height;
    bool interlaced;
};

// Decodes one image into the screen-sized buffer. Pixels outside the screen are dropped; colour
// indexes of 256 and more are black.
bool decode_image(ByteSource& in, const ImageDescriptor& image, const ColourTable& table, int screen_width,
                  int screen_height, RgbImage& out) {
    std::uint8_t min_code_size = 0;
    if (!in.byte(min_code_size)) return false;
    auto lzw = std::make_unique<LzwDecoder>(in);
    if (!lzw->start(min_code_size)) return false;

    const std::size_t screen_pixels = static_cast<std::size_t>(screen_width) * static_cast<std::size_t>(screen_height);
    if (screen_pixels > kGifMaxScreenPixels) return false;
    out.pixels.assign(screen_pixels * 3, 0);
    out.width = screen_width;
    out.height = screen_height;
    // An image without pixels is complete before it starts.
    if (image.width == 0 || image.height == 0) return true;

    // Colour of each index; slot 256 (black) stands for every index without a table entry.
    std::array<std::uint8_t, 257 * 3> colours{};
    std::memcpy(colours.data(), table.data(), table.size());

    static constexpr int kPassStep[4] = {8, 8, 4, 2};
    static constexpr int kPassStart[4] = {0, 4, 2, 1};
    const int right = image.left + image.width;
    const int visible_right = std::min(right, screen_width);
    int column = image.left;
    int row = image.top;
    int pass = 0;
    std::uint8_t* line = row < screen_height ? out.pixels.data() + static_cast<std::size_t>(row) * screen_width * 3 : nullptr;

    int value;
    for (;;) {
        if (!lzw->pop(value)) {
            value = lzw->next_value();
            if (value < 0) break;
        }
        if (line && column < visible_right) {
            const std::uint8_t* c = colours.data() + 3 * (value < 256 ? value : 256);
            std::uint8_t* dst = line + static_cast<std::size_t>(column) * 3;
            dst[0] = c[0];
            dst[1] = c[1];
            dst[2] = c[2];
        }
        if (++column < right) continue;
        column = image.left;
        if (!image.interlaced) {
            ++row;
            if (row - image.top >= image.height) break;
        } else {
            row += kPassStep[pass];
            bool complete = false;
            while (row - image.top >= image.height) {
                if (++pass > 3) {
                    complete = true;
                    break;
                }
                row = image.top + kPassStart[pass];
            }
            if (complete) break;
        }
        line = row < screen_height ? out.pixels.data() + static_cast<std::size_t>(row) * screen_width * 3 : nullptr;
    }
    return true;
}

bool read_gif(ByteSource& in, RgbImage& out) {
    std::uint8_t header[6];
    if (!in.bytes(header, 6)) return false;
    if (std::memcmp(header, "GIF", 3) != 0) return false;
    if (std::memcmp(header + 3, "87a", 3) != 0 && std::memcmp(header + 3, "89a", 3) != 0) return false;

    std::uint8_t screen[7];
    if (!in.bytes(screen, 7)) return false;
    const int screen_width = le16(screen);
    const int screen_height = le16(screen + 2);
    ColourTable global{};
    if (screen[4] & 0x80) read_colour_table(in, screen[4] & 7, global);

    for (;;) {
        std::uint8_t introducer = 0;
        if (!in.byte(introducer)) return false;
        if (introducer == 0x3B) return true;  // trailer before any image: success, no pixels
        if (introducer == 0x21) {
            std::uint8_t label = 0;
            if (!in.byte(label)) return false;
            // Graphic control (transparency), comments, plain text and application data do not
            // change the decoded pixels; all are skipped alike.
            skip_sub_blocks(in);
            continue;
        }
        if (introducer != 0x2C) continue;  // stray bytes between blocks are ignored

        std::uint8_t desc[9];
        if (!in.bytes(desc, 9)) return false;
        const ImageDescriptor image{le16(desc), le16(desc + 2), le16(desc + 4), le16(desc + 6), (desc[8] & 0x40) != 0};
        if (desc[8] & 0x80) {
            ColourTable local{};
            read_colour_table(in, desc[8] & 7, local);
            return decode_image(in, image, local, screen_width, screen_height, out);
        }
        return decode_image(in, image, global, screen_width, screen_height, out);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

constexpr std::uint8_t kLevels8[8] = {0, 36, 73, 109, 146, 182, 219, 255};

constexpr int kHashSize = 5003;  // prime, about 80 % full at 4096 codes
constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstFree = 258;
constexpr int kMaxBits = 12;

// LZW compressor writing 8-bit codes as GIF data sub-blocks straight into the output.
class LzwEncoder {
public:
    explicit LzwEncoder(std::vector<std::uint8_t>& out) : out_(out) { hash_.fill(-1); }

    void encode(const std::uint8_t* rgb, std::size_t pixels) {
        emit(kClearCode);
        int current = index_at(rgb);
        for (std::size_t i = 1; i < pixels; ++i) {
            const int c = index_at(rgb + 3 * i);
            const int key = (c << kMaxBits) + current;
            int slot = (c << 4) ^ current;
            if (hash_[slot] == key) {
                current = codes_[slot];
                continue;
            }
            if (hash_[slot] != -1) {
                const int step = slot == 0 ? 1 : kHashSize - slot;
                bool found = false;
                do {
                    slot -= step;
                    if (slot < 0) slot += kHashSize;
                    if (hash_[slot] == key) {
                        found = true;
                        break;
                    }
                } while (hash_[slot] != -1);
                if (found) {
                    current = codes_[slot];
                    continue;
                }
            }
            emit(current);
            if (next_free_ < (1 << kMaxBits)) {
                codes_[slot] = static_cast<std::uint16_t>(next_free_++);
                hash_[slot] = key;
            } else {
                hash_.fill(-1);
                next_free_ = kFirstFree;
                clear_pending_ = true;
                emit(kClearCode);
            }
            current = c;
        }
        emit(current);
        emit(kEndCode);
        while (bit_count_ > 0) {
            put(static_cast<std::uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            bit_count_ -= 8;
        }
        flush_block();
    }

private:
    static int index_at(const std::uint8_t* p) { return fixed_palette_index(p[0], p[1], p[2]); }

    void emit(int code) {
        accumulator_ &= (1u << bit_count_) - 1;
        accumulator_ |= static_cast<std::uint32_t>(code) << bit_count_;
        bit_count_ += width_;
        while (bit_count_ >= 8) {
            put(static_cast<std::uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            bit_count_ -= 8;
        }
        if (next_free_ > largest_code_ || clear_pending_) {
            if (clear_pending_) {
                width_ = 9;
                largest_code_ = 511;
                clear_pending_ = false;
            } else {
                ++width_;
                largest_code_ = width_ == kMaxBits ? (1 << kMaxBits) : (1 << width_) - 1;
            }
        }
    }

    void put(std::uint8_t byte) {
        block_[block_count_++] = byte;
        if (block_count_ >= 254) flush_block();
    }

    void flush_block() {
        if (block_count_ == 0) return;
        out_.push_back(static_cast<std::uint8_t>(block_count_));
        out_.insert(out_.end(), block_.begin(), block_.begin() + block_count_);
        block_count_ = 0;
    }

    std::vector<std::uint8_t>& out_;
    std::array<int, kHashSize> hash_;
    std::array<std::uint16_t, kHashSize> codes_{};
    std::uint32_t accumulator_ = 0;
    int bit_count_ = 0;
    std::array<std::uint8_t, 256> block_{};
    int block_count_ = 0;
    int width_ = 9;
    int largest_code_ = 511;
    int next_free_ = kFirstFree;
    bool clear_pending_ = false;
};

void put16(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

}  // namespace

PaletteColour fixed_palette_colour(int index) {
    const int i = index & 0xFF;
    return PaletteColour{kLevels8[i & 7], kLevels8[(i >> 3) & 7], static_cast<std::uint8_t>(85 * (i >> 6))};
}

namespace {

// Empties the picture but keeps its buffer, so a reused RgbImage decodes without reallocating.
void make_empty(RgbImage& image) {
    image.width = 0;
    image.height = 0;
    image.pixels.clear();
}

}  // namespace

bool gif_read(const std::uint8_t* data, std::size_t size, RgbImage& out) {
    make_empty(out);
    ByteSource in(data, size);
    if (read_gif(in, out)) return true;
    make_empty(out);
    return false;
}

bool gif_read_file(const std::filesystem::path& path, RgbImage& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        make_empty(out);
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return gif_read(bytes.data(), bytes.size(), out);
}

bool gif_write(const RgbImage& image, std::vector<std::uint8_t>& out) {
    out.clear();
    if (image.width <= 0 || image.height <= 0 || image.width > 0xFFFF || image.height > 0xFFFF) return false;
    const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (image.pixels.size() != pixels * 3) return false;

    out.reserve(13 + 768 + 10 + 1 + pixels / 2 + 64);
    static constexpr std::uint8_t kSignature[6] = {'G', 'I', 'F', '8', '7', 'a'};
    out.insert(out.end(), kSignature, kSignature + 6);
    put16(out, image.width);
    put16(out, image.height);
    out.push_back(0xF7);  // global table of 256 entries, 8-bit colour resolution
    out.push_back(0);     // background index
    out.push_back(0);     // aspect ratio
    for (int i = 0; i < 256; ++i) {
        const PaletteColour c = fixed_palette_colour(i);
        out.push_back(c.red);
        out.push_back(c.green);
        out.push_back(c.blue);
    }
    out.push_back(0x2C);
    put16(out, 0);
    put16(out, 0);
    put16(out, image.width);
    put16(out, image.height);
    out.push_back(0);  // no local table, not interlaced
    out.push_back(8);  // minimum code size
    auto encoder = std::make_unique<LzwEncoder>(out);
    encoder->encode(image.pixels.data(), pixels);
    out.push_back(0);
    out.push_back(0x3B);
    return true;
}

bool gif_write_file(const std::filesystem::path& path, const RgbImage& image) {
    std::vector<std::uint8_t> bytes;
    if (!gif_write(image, bytes)) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

}  // namespace vg
