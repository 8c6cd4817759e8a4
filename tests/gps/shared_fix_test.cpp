// The fix record shared between a reader thread that feeds receiver bytes and a window thread that
// takes copies: every copy must be a state the record really had between two chunks.
#include "gps/fix_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gps/nmea.h"
#include "gps/receiver_logs.h"

namespace vg {
namespace {

TEST(SharedFix, SnapshotsTakenWhileFeedingAreWholeStates) {
    std::string stream;
    for (const char* name : {"bt451", "nmea-rtk", "garmin48", "ublox-lea-4h"}) stream += test::nmea_log_bytes(name);

    SharedFix shared;
    shared.update([](FixRecord& fix) { fix.local_offset_hours = 2; });
    std::vector<FixRecord> states{shared.snapshot()};  // every state between two chunks, in order
    std::vector<FixRecord> seen;
    std::atomic<bool> done{false};

    std::thread window([&] {
        auto take = [&] {
            FixRecord snapshot = shared.snapshot();
            if (seen.empty() || !test::same_fix(snapshot, seen.back())) seen.push_back(snapshot);
        };
        while (!done.load()) take();
        take();
    });
    std::thread reader([&] {
        NmeaParser parser;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
        for (int pass = 0; pass < 5; ++pass) {
            for (std::size_t i = 0; i < stream.size(); i += 80) {
                const std::size_t n = std::min<std::size_t>(80, stream.size() - i);
                states.push_back(shared.update([&](FixRecord& fix) {
                    parser.feed(bytes + i, n, fix);
                    return fix;
                }));
            }
        }
        done.store(true);
    });
    reader.join();
    window.join();

    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(test::same_fix(seen.back(), states.back()));
    EXPECT_STREQ(states.back().local_text, "2006/08/10 05:15:18");
    // Snapshots come in the order the states were written, each one of them exactly.
    std::size_t next = 0;
    for (const FixRecord& snapshot : seen) {
        while (next < states.size() && !test::same_fix(snapshot, states[next])) ++next;
        ASSERT_LT(next, states.size()) << "a snapshot matches no state written: " << snapshot.last_message;
    }
}

}  // namespace
}  // namespace vg
