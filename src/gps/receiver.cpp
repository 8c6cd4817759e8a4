#include "gps/receiver.h"

namespace vg {

const char* receiver_state_name(ReceiverState state) {
    switch (state) {
    case ReceiverState::Closed: return "closed";
    case ReceiverState::Opening: return "opening";
    case ReceiverState::WaitingForData: return "waiting for data";
    case ReceiverState::NoFix: return "no fix";
    case ReceiverState::Fix: return "fix";
    case ReceiverState::Silent: return "silent";
    case ReceiverState::Lost: return "lost";
    case ReceiverState::Refused: return "refused";
    case ReceiverState::Unplugged: return "unplugged";
    case ReceiverState::Failed: return "failed";
    }
    return "closed";
}

bool receiver_trouble(ReceiverState state) {
    return state == ReceiverState::Silent || state == ReceiverState::Lost || state == ReceiverState::Refused ||
           state == ReceiverState::Unplugged || state == ReceiverState::Failed;
}

std::string silent_seconds_text(std::int64_t since_ms, std::int64_t now_ms) {
    const std::int64_t s = now_ms > since_ms ? (now_ms - since_ms) / 1000 : 0;
    return std::to_string(s) + " s";
}

std::int64_t receiver_clock_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace vg
