// Diagnostic lines of the core libraries go through one process-wide sink. The default sink writes
// each line and a line end to standard output (standard error for DiagnosticStream::Error) and
// flushes, so the user sees the texts the program has always printed. report and
// set_diagnostic_sink may be called from any thread; the sink is called under a lock, one line at a
// time, and must not call report itself.
#pragma once

#include <functional>
#include <string_view>

namespace vg {

enum class DiagnosticStream { Output, Error };

using DiagnosticSink = std::function<void(DiagnosticStream stream, std::string_view line)>;

// Hands one line (without its line end) to the sink.
void report(std::string_view line, DiagnosticStream stream = DiagnosticStream::Output);

// Installs `sink` (empty: the default one) and returns the sink it replaces (empty when that was the default).
DiagnosticSink set_diagnostic_sink(DiagnosticSink sink);

}  // namespace vg
