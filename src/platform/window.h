// Window services that the toolkit-independent application logic uses. The Qt layer implements
// them for the real window; tests use the recording fake in tests/support/fake_window.h.
#pragma once

#include <cstdint>
#include <string>

namespace vg {

class Window {
public:
    virtual ~Window() = default;

    virtual void set_title(const std::string& title) = 0;
    // Menu items by command id (1001..1053).
    virtual void enable_menu_item(int id, bool enabled) = 0;
    virtual void check_menu_item(int id, bool checked) = 0;
    // A warning message box with the window caption "VorGlobal" unless another caption is given.
    virtual void warning_box(const std::string& text, const std::string& caption = "VorGlobal") = 0;
    virtual void set_wait_cursor(bool on) = 0;
    virtual void invalidate(bool erase) = 0;
    // Paints now and returns after the paint; callable from any thread. A call from another thread
    // is bounded: it returns false when the window thread did not paint within the wait.
    virtual bool repaint_now() = 0;
    virtual void set_client_size(int width, int height) = 0;
    // A top-down 24-bit image, bytes blue, green, red, rows of `stride` bytes.
    virtual void copy_image_to_clipboard(const std::uint8_t* bgr, int width, int height, int stride) = 0;
    virtual void start_timer(int period_ms) = 0;
};

}  // namespace vg
