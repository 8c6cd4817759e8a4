// The serial line settings, one type for the whole program: kept in the window state (the `port`
// setting), edited by the COM settings dialog, handed to the serial link, applied by SerialPort.
#pragma once

namespace vg {

struct LineSettings {
    int port_number = 1;  // COMn; 0 means none (the port itself ignores it)
    unsigned baud_rate = 9600;
    int byte_size = 8;     // 5..8
    int parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stop_bits = 0;     // 0 one, 1 one and a half (Windows only), 2 two
    int flow_control = 0;  // bits: kFlowDtrDsr, kFlowRtsCts, kFlowXonXoff

    bool operator==(const LineSettings&) const = default;
};

// Bits of LineSettings::flow_control. DTR/DSR is honoured on Windows only (on Linux DTR stays raised).
inline constexpr int kFlowDtrDsr = 1;
inline constexpr int kFlowRtsCts = 2;
inline constexpr int kFlowXonXoff = 4;

}  // namespace vg
