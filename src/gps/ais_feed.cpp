#include "gps/ais_feed.h"

#include <chrono>

namespace vg::ais {

AisFeed::AisFeed(std::function<double()> now_s) : now_s_(std::move(now_s)) {}

double AisFeed::now() const {
    if (now_s_) return now_s_();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void AisFeed::sentence(std::string_view line) {
    // A cheap look before the lock: most lines of a mixed stream are not AIS.
    const auto at = line.find_first_not_of(" \t");
    if (at == std::string_view::npos || line[at] != '!') return;
    const double t = now();
    const std::lock_guard lock(mutex_);
    if (const auto m = assembler_.feed_line(line)) {
        table_.update(*m, t);
        ++generation_;
    }
}

void AisFeed::message(const Message& m) {
    const double t = now();
    const std::lock_guard lock(mutex_);
    table_.update(m, t);
    ++generation_;
}

std::vector<Target> AisFeed::targets(const std::optional<OwnShip>& own) {
    const double t = now();
    const std::lock_guard lock(mutex_);
    table_.refresh(t, own);
    return table_.targets();
}

void AisFeed::set_rules(const TargetRules& rules) {
    const std::lock_guard lock(mutex_);
    table_.set_rules(rules);
}

std::uint64_t AisFeed::sentences() const {
    const std::lock_guard lock(mutex_);
    return assembler_.sentences();
}

std::uint64_t AisFeed::rejected() const {
    const std::lock_guard lock(mutex_);
    return assembler_.rejected();
}

std::uint64_t AisFeed::generation() const {
    const std::lock_guard lock(mutex_);
    return generation_;
}

}  // namespace vg::ais
