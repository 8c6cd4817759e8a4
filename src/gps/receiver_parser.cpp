#include "gps/receiver_parser.h"

#include "gps/nmea.h"

namespace vg {

std::unique_ptr<ReceiverParser> make_receiver_parser(DeviceType type, ParserContext context) {
    switch (type) {
    case DeviceType::Nmea:
    case DeviceType::EarthMateUsb:
    case DeviceType::TripMate: {
        auto parser = std::make_unique<NmeaParser>();
        // ASTRAL lines are not answered yet; the handshake will take `context` for its replies.
        (void)context;
        return parser;
    }
    case DeviceType::EarthMate:
    case DeviceType::Garmin:
    case DeviceType::Remote:
        break;
    }
    return nullptr;
}

}  // namespace vg
