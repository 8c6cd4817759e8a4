#include "net/receivers.h"

#include <cerrno>

#include "platform/sockets.h"
#include "settings/settings_file.h"

namespace vg {

namespace {



std::string fix_or_not(const SharedFix& fix, ReceiverStatus& status, const std::string& who) {
    if (fix.snapshot().fix_dimension > 0) {
        status.state = ReceiverState::Fix;
        return {};
    }
    status.state = ReceiverState::NoFix;
    return who + " sends no position (no fix)";
}

}  // namespace

ReceiverKind receiver_kind(DeviceType type) {
    switch (type) {
    case DeviceType::Gpsd: return ReceiverKind::Gpsd;
    case DeviceType::Network: return ReceiverKind::NmeaNetwork;
    case DeviceType::Remote: return ReceiverKind::Remote;
    default: return ReceiverKind::Serial;
    }
}

std::unique_ptr<Receiver> make_receiver(DeviceType type, SharedFix& fix, const ReceiverSetup& setup) {
    switch (receiver_kind(type)) {
    case ReceiverKind::Gpsd:
    case ReceiverKind::NmeaNetwork: return std::make_unique<StreamReceiver>(type, fix, setup);
    case ReceiverKind::Remote: return std::make_unique<PositionReceiver>(fix, setup);
    case ReceiverKind::Serial: break;
    }
    SerialLinkOptions options;
    options.ini_file = setup.settings_dir / kIniFile;
    options.pos_file = setup.settings_dir / kPosFile;
    options.clock_seconds = setup.clock_seconds;
    options.fix_notice = setup.fix_notice;
    options.ais = setup.ais;
    options.silent_after = setup.silent_after;
    auto link = std::make_unique<SerialLink>(fix, *setup.silence_ticks, std::move(options));
    link->set_settings(setup.line);
    link->set_device_type(type);
    return link;
}

// ---- gpsd and NMEA over the network ------------------------------------------------------------

static StreamSourceOptions stream_options(const ReceiverSetup& setup) {
    StreamSourceOptions options;
    options.fix_notice = setup.fix_notice;
    options.clock_seconds = setup.clock_seconds;
    options.silence_ticks = setup.silence_ticks;
    options.ais = setup.ais;
    return options;
}

StreamReceiver::StreamReceiver(DeviceType type, SharedFix& fix, const ReceiverSetup& setup)
    : type_(type), fix_(fix), ini_file_(setup.settings_dir / kIniFile), silent_after_(setup.silent_after),
      source_(fix, stream_options(setup)) {}

StreamReceiver::~StreamReceiver() { close(); }

std::string StreamReceiver::peer() const {
    std::lock_guard lock(mutex_);
    if (type_ == DeviceType::Gpsd) return "gpsd at " + address_.host + ":" + std::to_string(address_.port);
    return describe(address_);
}

LinkOpen StreamReceiver::open() {
    if (active_.load()) return LinkOpen::AlreadyOpen;
    std::optional<StreamAddress> address;
    std::string failure;
    if (type_ == DeviceType::Gpsd) {
        const std::string value = setting_value(ini_file_, "gpsd=").value_or("");
        address = parse_gpsd_address(value);
        if (!address) failure = "the gpsd line of vor_ini.txt (" + value + ") is not host:port";
    } else if (const auto value = setting_value(ini_file_, "nmea=")) {
        address = parse_nmea_address(*value);
        if (!address) failure = "the nmea line of vor_ini.txt (" + *value + ") is not tcp://host:port or udp://:port";
    } else {
        failure = "vor_ini.txt has no nmea line (nmea=tcp://host:port or nmea=udp://:port)";
    }
    {
        std::lock_guard lock(mutex_);
        open_failure_ = failure;
        if (address) address_ = *address;
    }
    if (!address) return LinkOpen::Failed;
    if (!source_.start(type_, *address)) {
        std::lock_guard lock(mutex_);
        open_failure_ = "no reader could be started for " + describe(*address);
        return LinkOpen::Failed;
    }
    active_.store(true);
    return LinkOpen::Opened;
}

bool StreamReceiver::close() {
    if (!active_.exchange(false)) return false;
    source_.stop();
    return true;
}

ReceiverStatus StreamReceiver::status() const {
    if (!active_.load()) {
        std::lock_guard lock(mutex_);
        if (open_failure_.empty()) return {ReceiverState::Closed, {}};
        return {ReceiverState::Failed, open_failure_};
    }
    const std::string who = peer();
    const bool gpsd = type_ == DeviceType::Gpsd;
    const StreamSource::Health h = source_.health();
    const std::int64_t now = receiver_clock_ms();
    ReceiverStatus s;
    switch (h.phase) {
    case StreamSource::Phase::Stopped:
    case StreamSource::Phase::Connecting:
        s.state = ReceiverState::Opening;
        s.cause = "connecting to " + who;
        return s;
    case StreamSource::Phase::Refused:
        s.state = ReceiverState::Refused;
        s.cause = who + " refused the connection (" + (gpsd ? "is gpsd running?" : "is the sender running?") + ")";
        return s;
    case StreamSource::Phase::Failed:
        s.state = ReceiverState::Failed;
        if (h.error == -1) s.cause = "cannot find the address of " + who;
        else if (h.error == ETIMEDOUT) s.cause = who + " does not answer; trying again";
        else s.cause = "cannot reach " + who + ": " + socket_error_text(h.error) + "; trying again";
        return s;
    case StreamSource::Phase::Lost:
        s.state = ReceiverState::Lost;
        s.cause = who + " closed the connection; trying again";
        return s;
    case StreamSource::Phase::Connected: break;
    }
    const std::int64_t since = h.last_data_ms != 0 ? h.last_data_ms : h.since_ms;
    if (now - since >= silent_after_.count()) {
        s.state = ReceiverState::Silent;
        s.cause = "no data on " + who + " for " + silent_seconds_text(since, now);
        return s;
    }
    if (h.last_data_ms == 0) {
        s.state = ReceiverState::WaitingForData;
        s.cause = "waiting for data on " + who;
        return s;
    }
    s.cause = fix_or_not(fix_, s, who);
    return s;
}

// ---- the position server -----------------------------------------------------------------------

static PositionServerConfig remote_config(const ReceiverSetup& setup) {
    // The server listens on the port of the `base` line, as the copies that post to it are told; a
    // port the caller chose (tests: 0, any free one) stays.
    PositionServerConfig config = setup.server;
    if (config.settings_dir.empty()) config.settings_dir = setup.settings_dir;
    if (config.port == PositionServerConfig{}.port && setup.base_port > 0 && setup.base_port <= 65535)
        config.port = setup.base_port;
    return config;
}

PositionReceiver::PositionReceiver(SharedFix& fix, const ReceiverSetup& setup)
    : fix_(fix), config_(remote_config(setup)), silent_after_(setup.silent_after), server_(fix, setup.fix_notice) {}

PositionReceiver::~PositionReceiver() { close(); }

LinkOpen PositionReceiver::open() {
    if (active_.load()) return LinkOpen::AlreadyOpen;
    if (!server_.start(config_)) {
        failed_.store(true);
        return LinkOpen::Failed;
    }
    failed_.store(false);
    opened_ms_.store(receiver_clock_ms());
    active_.store(true);
    return LinkOpen::Opened;
}

bool PositionReceiver::close() {
    if (!active_.exchange(false)) return false;
    server_.stop();
    return true;
}

ReceiverStatus PositionReceiver::status() const {
    const std::string where = "port " + std::to_string(active_.load() ? server_.port() : config_.port);
    if (!active_.load()) {
        if (!failed_.load()) return {ReceiverState::Closed, {}};
        const int error = server_.start_error();
        std::string cause = "the position server cannot listen on " + where;
        if (error == EADDRINUSE) cause += " (another program uses it; change the base line)";
        else if (error > 0) cause += ": " + socket_error_text(error);
        return {ReceiverState::Failed, cause};
    }
    const std::int64_t now = receiver_clock_ms();
    const std::int64_t last = server_.last_position_ms.load();
    const std::int64_t since = last != 0 ? last : opened_ms_.load();
    if (now - since >= silent_after_.count())
        return {ReceiverState::Silent, "no position posted to " + where + " for " + silent_seconds_text(since, now) +
                                           " (is the phone or base copy sending?)"};
    if (last == 0) return {ReceiverState::WaitingForData, "waiting for positions posted to " + where};
    ReceiverStatus s;
    s.cause = fix_or_not(fix_, s, "the position server");
    return s;
}

}  // namespace vg
