// A receiver dialect's parser: bytes in (chunks of any size, framing state kept between chunks),
// fix record fields out. Bytes the parser must send back to the receiver (handshake answers,
// initialisation messages) go to the reply sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gps/device_type.h"
#include "gps/fix_record.h"

namespace vg {

namespace ais {
class AisFeed;
}

using ReplySink = std::function<void(const std::uint8_t* data, std::size_t size)>;

class ReceiverParser {
public:
    virtual ~ReceiverParser() = default;
    // Feeds one chunk. The caller holds whatever lock guards `fix` for the duration.
    virtual void feed(const std::uint8_t* data, std::size_t size, FixRecord& fix) = 0;
};

// Everything a parser may need from outside: where replies go and where vor_pos.txt lives (for the
// start-up initialisation messages). Clock for the messages that carry the time.
struct ParserContext {
    ReplySink reply;                           // may be empty: replies are dropped
    std::function<long long()> utc_seconds;    // may be empty: the system clock
    std::string pos_file = "vor_pos.txt";
    ais::AisFeed* ais = nullptr;               // where AIS lines and reports go; null: dropped
};

// The parser for a device type, or nullptr when that type has no byte parser (Remote).
std::unique_ptr<ReceiverParser> make_receiver_parser(DeviceType type, ParserContext context);

}  // namespace vg
