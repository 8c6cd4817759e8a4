#include "platform/diagnostics.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace vg {

namespace {

std::mutex& sink_mutex() {
    static std::mutex mutex;
    return mutex;
}

DiagnosticSink& installed_sink() {
    static DiagnosticSink sink;
    return sink;
}

}  // namespace

void report(std::string_view line, DiagnosticStream stream) {
    const std::lock_guard<std::mutex> lock(sink_mutex());
    if (const DiagnosticSink& sink = installed_sink()) {
        sink(stream, line);
        return;
    }
    std::FILE* out = stream == DiagnosticStream::Error ? stderr : stdout;
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

DiagnosticSink set_diagnostic_sink(DiagnosticSink sink) {
    const std::lock_guard<std::mutex> lock(sink_mutex());
    return std::exchange(installed_sink(), std::move(sink));
}

}  // namespace vg
