// Collects the diagnostic lines reported while it lives, in place of the default sink.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/diagnostics.h"

namespace vg::test {

class CapturedDiagnostics {
public:
    CapturedDiagnostics()
        : previous_(set_diagnostic_sink([this](DiagnosticStream, std::string_view line) {
              const std::lock_guard<std::mutex> lock(mutex_);
              lines_.emplace_back(line);
          })) {}
    ~CapturedDiagnostics() { set_diagnostic_sink(std::move(previous_)); }
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;

    std::vector<std::string> lines() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    DiagnosticSink previous_;
};

}  // namespace vg::test
