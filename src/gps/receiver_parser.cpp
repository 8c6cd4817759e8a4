#include "gps/receiver_parser.h"

#include <memory>

#include "gps/garmin.h"
#include "gps/gpsd_json.h"
#include "gps/nmea.h"
#include "gps/startup_commands.h"
#include "gps/zodiac.h"

namespace vg {

std::unique_ptr<ReceiverParser> make_receiver_parser(DeviceType type, ParserContext context) {
    switch (type) {
    case DeviceType::Nmea:
    case DeviceType::EarthMateUsb:
    case DeviceType::TripMate: {
        // ASTRAL lines (all three NMEA types) are answered with the query and, every second one,
        // the position initialisation; the responder lives as long as the parser's hook.
        ais::AisFeed* ais = context.ais;
        auto astral = std::make_shared<AstralResponder>(std::move(context));
        return std::make_unique<NmeaParser>([astral](std::string_view line) { astral->handle_line(line); }, ais);
    }
    case DeviceType::EarthMate:
        return std::make_unique<ZodiacParser>(std::move(context));
    case DeviceType::Garmin:
        return std::make_unique<GarminParser>();
    case DeviceType::Gpsd:
        return std::make_unique<GpsdParser>(context.ais);
    case DeviceType::Network:
        return std::make_unique<NmeaParser>(nullptr, context.ais);  // a network source is only listened to
    case DeviceType::Remote:
        break;
    }
    return nullptr;
}

}  // namespace vg
