// MqttLink on libmosquitto: its own network thread (loop_start) with back-off reconnects, MQTT 5 so
// that refusals of the access list come back as reason codes.
#include "net/mqtt_link.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "platform/diagnostics.h"

#ifndef VG_NO_MOSQUITTO
#include <mosquitto.h>
#include <mqtt_protocol.h>
#endif

namespace vg {

namespace {

std::int64_t steady_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct MqttLink::Impl {
    MqttOptions opt;
    std::string own_topic, sub_topic;
    mutable std::mutex mu;
    MqttStatus st;
    std::deque<std::string> queue;  // payloads waiting for a connection
    std::string last_payload;       // the newest own position, sent again on each connect
    std::int64_t last_taken_ms = 0;
    bool taken_any = false;
    bool connected = false;
    bool stopping = false;
    std::string tls_error;  // the last TLS complaint of the library's log
#ifndef VG_NO_MOSQUITTO
    mosquitto* mosq = nullptr;
    std::thread thread;
    std::atomic<bool> stop_requested{false};

    // Why a connection attempt or a connection ended, as the state shown.
    void note_down(int rc) {
        const bool was_connected = connected;
        connected = false;
        if (stopping) {
            set_state(MqttState::off, {});
        } else if (was_connected || st.state == MqttState::connected) {
            set_state(MqttState::lost, rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_KEEPALIVE || rc == MOSQ_ERR_TLS
                                           ? std::string("the broker went away")
                                           : std::string(mosquitto_strerror(rc)));
        } else if (rc == MOSQ_ERR_TLS) {
            set_state(MqttState::tls_failure,
                      tls_error.empty() ? std::string("the broker's certificate was not verified") : tls_error);
        } else if (st.state != MqttState::refused_password && st.state != MqttState::tls_failure) {
            // A refusal stays the state shown while the link tries again.
            set_state(MqttState::lost, mosquitto_strerror(rc));
        }
    }

    // The network thread: the library's loop in 100 ms slices, and a new attempt after each failure,
    // 1 s after the first and doubling to 30 s (reset by a connection). Ends within about a second
    // of stop_requested, after the disconnect has gone out.
    void run() {
        const auto& a = opt.address;
        int rc = mosquitto_connect_async(mosq, a.host.c_str(), a.port, 30);
        int delay_s = 1;
        std::int64_t stop_deadline = 0;
        for (;;) {
            if (stop_requested.load()) {
                if (stop_deadline == 0) stop_deadline = steady_ms() + 1000;
                if (rc != MOSQ_ERR_SUCCESS || steady_ms() > stop_deadline) return;
            }
            if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop(mosq, 100, 1);
            if (rc == MOSQ_ERR_SUCCESS) {
                std::lock_guard lock(mu);
                if (connected) delay_s = 1;
                continue;
            }
            if (stop_requested.load()) return;
            {
                std::lock_guard lock(mu);
                note_down(rc);
            }
            const std::int64_t retry_at = steady_ms() + delay_s * 1000;
            delay_s = std::min(delay_s * 2, 30);
            while (!stop_requested.load() && steady_ms() < retry_at)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (stop_requested.load()) return;
            rc = mosquitto_reconnect_async(mosq);
        }
    }

    void set_state(MqttState s, std::string cause) {
        st.state = s;
        st.cause = std::move(cause);
    }

    // Sends what is queued while connected; the library's own calls are made outside the lock.
    void flush() {
        std::vector<std::string> out;
        {
            std::lock_guard lock(mu);
            if (!connected || opt.name.empty()) return;
            out.assign(queue.begin(), queue.end());
            queue.clear();
        }
        for (const std::string& p : out) {
            const int rc = mosquitto_publish_v5(mosq, nullptr, own_topic.c_str(), static_cast<int>(p.size()), p.data(),
                                                1, true, nullptr);
            std::lock_guard lock(mu);
            if (rc == MOSQ_ERR_SUCCESS) ++st.published;
            else ++st.dropped_queue;
        }
    }

    static Impl& of(void* obj) { return *static_cast<Impl*>(obj); }

    static void on_connect(mosquitto* m, void* obj, int rc, int, const mosquitto_property*) {
        Impl& self = of(obj);
        {
            std::lock_guard lock(self.mu);
            if (rc == 0) {
                self.connected = true;
                self.tls_error.clear();
                self.set_state(MqttState::connected, {});
                // The broker may have lost the retained position (restarted without persistence).
                if (self.queue.empty() && !self.last_payload.empty()) self.queue.push_back(self.last_payload);
            } else if (rc == MQTT_RC_BAD_USERNAME_OR_PASSWORD || rc == MQTT_RC_NOT_AUTHORIZED) {
                // Mosquitto answers a wrong password with either code.
                self.set_state(MqttState::refused_password, mosquitto_reason_string(rc));
            } else {
                self.set_state(MqttState::lost, mosquitto_reason_string(rc));
            }
        }
        if (rc != 0) {
            report("MQTT: " + std::string(mosquitto_reason_string(rc)));
            return;
        }
        if (self.opt.subscribe) mosquitto_subscribe_v5(m, nullptr, self.sub_topic.c_str(), 1, 0, nullptr);
        self.flush();
    }

    static void on_disconnect(mosquitto*, void* obj, int rc, const mosquitto_property*) {
        Impl& self = of(obj);
        std::lock_guard lock(self.mu);
        self.note_down(rc);
    }

    static void on_subscribe(mosquitto*, void* obj, int, int count, const int* granted, const mosquitto_property*) {
        Impl& self = of(obj);
        if (count >= 1 && granted[0] >= 128) {
            std::lock_guard lock(self.mu);
            self.set_state(MqttState::not_authorised, "not allowed to read " + self.sub_topic);
            report("MQTT: not allowed to read " + self.sub_topic);
        }
    }

    static void on_publish(mosquitto*, void* obj, int, int reason, const mosquitto_property*) {
        Impl& self = of(obj);
        if (reason >= 128) {
            std::lock_guard lock(self.mu);
            self.set_state(MqttState::not_authorised, "not allowed to publish to " + self.own_topic);
            report("MQTT: not allowed to publish to " + self.own_topic);
        }
    }

    static void on_message(mosquitto*, void* obj, const mosquitto_message* msg, const mosquitto_property*) {
        Impl& self = of(obj);
        DeviceReport r;
        const std::string_view topic = msg->topic ? msg->topic : "";
        if (topic == self.own_topic) return;  // the echo of our own position
        const std::string_view payload(static_cast<const char*>(msg->payload),
                                       msg->payloadlen > 0 ? static_cast<std::size_t>(msg->payloadlen) : 0);
        const MqttMessageKind kind = parse_mqtt_message(self.opt.address.prefix, topic, payload, r);
        {
            std::lock_guard lock(self.mu);
            if (kind == MqttMessageKind::malformed) ++self.st.dropped_malformed;
            if (kind != MqttMessageKind::position) return;
            ++self.st.received;
        }
        if (self.opt.on_report) self.opt.on_report(r);
    }

    static void on_log(mosquitto*, void* obj, int, const char* text) {
        const std::string_view line = text ? text : "";
        if (line.find("OpenSSL Error") == std::string_view::npos && line.find("TLS") == std::string_view::npos) return;
        Impl& self = of(obj);
        std::lock_guard lock(self.mu);
        self.tls_error = line.substr(0, 200);
    }
#endif
};

MqttLink::MqttLink(MqttOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->opt = std::move(options);
    impl_->own_topic = impl_->opt.address.prefix + "/" + impl_->opt.name;
    impl_->sub_topic = impl_->opt.address.prefix + "/+";
}

MqttLink::~MqttLink() { stop(); }

bool MqttLink::publish(const DeviceReport& position, bool force) {
    Impl& s = *impl_;
    if (s.opt.name.empty()) return false;
    DeviceReport p = position;
    p.id = s.opt.name;
    const std::string payload = mqtt_position_json(p);
    {
        std::lock_guard lock(s.mu);
        const std::int64_t now = steady_ms();
        if (!force && s.taken_any && now - s.last_taken_ms < static_cast<std::int64_t>(s.opt.interval_s * 1000)) return false;
        s.taken_any = true;
        s.last_taken_ms = now;
        s.last_payload = payload;
        if (s.queue.size() >= std::max<std::size_t>(s.opt.queue_limit, 1)) {
            s.queue.pop_front();
            ++s.st.dropped_queue;
        }
        s.queue.push_back(payload);
    }
#ifndef VG_NO_MOSQUITTO
    s.flush();
#endif
    return true;
}

MqttStatus MqttLink::status() const {
    std::lock_guard lock(impl_->mu);
    return impl_->st;
}

#ifdef VG_NO_MOSQUITTO

bool MqttLink::start() {
    std::lock_guard lock(impl_->mu);
    impl_->st.state = MqttState::failed;
    impl_->st.cause = "not available in this build";
    return false;
}

void MqttLink::stop() {}

#else

bool MqttLink::start() {
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    Impl& s = *impl_;
    if (s.mosq) return true;
    const auto fail = [&](std::string cause) {
        std::lock_guard lock(s.mu);
        s.set_state(MqttState::failed, std::move(cause));
        if (s.mosq) mosquitto_destroy(s.mosq);
        s.mosq = nullptr;
        return false;
    };
    std::random_device rd;
    char suffix[9];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(rd()));
    const std::string client_id = "vg-" + s.opt.name.substr(0, 40) + "-" + suffix;
    s.mosq = mosquitto_new(client_id.c_str(), true, &s);
    if (!s.mosq) return fail("the client could not be made");
    mosquitto_int_option(s.mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    const auto& a = s.opt.address;
    if (mosquitto_username_pw_set(s.mosq, a.user.empty() ? nullptr : a.user.c_str(),
                                  s.opt.password.empty() ? nullptr : s.opt.password.c_str()) != MOSQ_ERR_SUCCESS)
        return fail("the user name was refused by the library");
    if (!s.opt.name.empty())
        mosquitto_will_set_v5(s.mosq, s.own_topic.c_str(), 7, "offline", 1, true, nullptr);
    if (a.tls) {
        mosquitto_int_option(s.mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (!s.opt.cafile.empty() &&
            mosquitto_tls_set(s.mosq, s.opt.cafile.c_str(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
            return fail("the CA file " + s.opt.cafile + " cannot be read");
    }
    mosquitto_connect_v5_callback_set(s.mosq, &Impl::on_connect);
    mosquitto_disconnect_v5_callback_set(s.mosq, &Impl::on_disconnect);
    mosquitto_subscribe_v5_callback_set(s.mosq, &Impl::on_subscribe);
    mosquitto_publish_v5_callback_set(s.mosq, &Impl::on_publish);
    mosquitto_message_v5_callback_set(s.mosq, &Impl::on_message);
    mosquitto_log_callback_set(s.mosq, &Impl::on_log);
    {
        std::lock_guard lock(s.mu);
        s.set_state(MqttState::connecting, a.host + ":" + std::to_string(a.port));
    }
    mosquitto_threaded_set(s.mosq, true);  // our own network thread
    s.thread = std::thread([&s] { s.run(); });
    return true;
}

void MqttLink::stop() {
    Impl& s = *impl_;
    if (!s.mosq) return;
    {
        std::lock_guard lock(s.mu);
        s.stopping = true;
    }
    // Reason 4: disconnect with the last will, so that the others see "offline".
    mosquitto_disconnect_v5(s.mosq, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
    s.stop_requested.store(true);
    if (s.thread.joinable()) s.thread.join();
    mosquitto_destroy(s.mosq);
    s.mosq = nullptr;
    std::lock_guard lock(s.mu);
    s.connected = false;
    s.set_state(MqttState::off, {});
}

#endif

}  // namespace vg
