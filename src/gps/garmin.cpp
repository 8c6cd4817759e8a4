#include "gps/garmin.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vg {

namespace {

constexpr std::uint8_t kDateTimeId = 14;
constexpr std::uint8_t kPositionId = 17;
constexpr std::size_t kDateTimeBytes = 8;
constexpr std::size_t kPositionBytes = 16;

void put_stuffed(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    out.push_back(byte);
    if (byte == kDle) out.push_back(byte);
}

double little_endian_double(const std::uint8_t* p) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
    return std::bit_cast<double>(bits);
}

}  // namespace

std::vector<std::uint8_t> garmin_packet(std::uint8_t id, const std::uint8_t* data, std::uint8_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(2 * (size + 3) + 3);
    out.push_back(kDle);
    std::uint8_t checksum = 0;
    auto add = [&](std::uint8_t byte) {
        put_stuffed(out, byte);
        checksum = static_cast<std::uint8_t>(checksum - byte);
    };
    add(id);
    add(size);
    for (std::size_t i = 0; i < size; ++i) add(data[i]);
    put_stuffed(out, checksum);
    out.push_back(kDle);
    out.push_back(kEtx);
    return out;
}

std::vector<std::uint8_t> garmin_frame(const GarminRecord& record) {
    std::vector<std::uint8_t> out;
    out.push_back(kDle);
    std::uint8_t checksum = 0;
    for (std::uint8_t byte : record) {
        put_stuffed(out, byte);
        checksum = static_cast<std::uint8_t>(checksum - byte);
    }
    put_stuffed(out, checksum);
    out.push_back(kDle);
    out.push_back(kEtx);
    return out;
}

void GarminParser::feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (byte == kDle && previous_ == kDle) {
            // Second half of a doubled DLE: dropped, and it cannot open a DLE ETX pair.
            previous_ = 0;
            continue;
        }
        // A packet starts with DLE: bytes outside a packet (line noise, the tail of a packet cut off
        // by a reconnection) are skipped, so that they cannot hide the packet that follows them.
        if (length_ == 0 && byte != kDle) {
            previous_ = byte;
            continue;
        }
        // A full buffer without DLE ETX holds no packet we can use: start again.
        if (length_ == buffer_.size()) length_ = 0;
        buffer_[length_++] = byte;
        const bool ends = byte == kEtx && previous_ == kDle;
        previous_ = byte;
        if (ends) {
            handle_packet(fix);
            length_ = 0;
        }
    }
}

void GarminParser::handle_packet(FixRecord& fix) const {
    // Buffer: DLE, ID, size, data..., checksum, DLE, ETX. A packet whose size byte does not match
    // its data, or whose checksum does not bring the sum of ID, size, data and checksum to 0 (mod
    // 256), was damaged on the line and is dropped.
    if (length_ < 6) return;
    const std::size_t data_bytes = length_ - 6;
    if (buffer_[2] != data_bytes) return;
    std::uint8_t sum = 0;
    for (std::size_t i = 1; i < length_ - 2; ++i) sum = static_cast<std::uint8_t>(sum + buffer_[i]);
    if (sum != 0) return;
    const std::uint8_t* d = buffer_.data() + 3;
    switch (buffer_[1]) {
        case kDateTimeId: {
            if (data_bytes < kDateTimeBytes) return;
            const int year = d[2] | (d[3] << 8);
            set_receiver_time(fix, year, d[0], d[1], d[4], d[6], d[7]);
            return;
        }
        case kPositionId: {
            if (data_bytes < kPositionBytes) return;
            // Values that are not numbers or lie off the globe are not stored.
            const double latitude = little_endian_double(d) * 180.0 / std::numbers::pi;
            const double longitude = little_endian_double(d + 8) * 180.0 / std::numbers::pi;
            if (!valid_coordinates(latitude, longitude)) return;
            fix.latitude = latitude;
            fix.longitude = longitude;
            ++fix.positions;
            fix.fix_dimension = 3;
            return;
        }
        default:
            return;
    }
}

bool GarminPoller::poll(FixRecord& fix, const ReplySink& send) {
    const bool position = next_is_position_;
    next_is_position_ = !next_is_position_;
    const auto bytes = garmin_frame(position ? kGarminPositionRequest : kGarminTimeRequest);
    if (send) send(bytes.data(), bytes.size());
    if (!position || fix.fix_dimension <= 0) return false;
    return --fix.fix_dimension == 0;
}

}  // namespace vg
