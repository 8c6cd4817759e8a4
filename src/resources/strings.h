// The program's string resources: the window caption (also the caption of every warning box) and the
// window class name, by their resource numbers. No toolkit types, so the application logic can use them.
#pragma once

#include <string_view>

namespace vg::res {

inline constexpr int kStringCaption = 103;
inline constexpr int kStringClassName = 109;

inline constexpr std::string_view kCaption = "VorGlobal";
inline constexpr std::string_view kClassName = "VORGLOBAL";
// The title set right after the window is created, before the first paint replaces it.
inline constexpr std::string_view kInitialTitle = "Vor Global";

// The text of string resource `id`; empty for an unknown number.
constexpr std::string_view load_string(int id) {
    switch (id) {
    case kStringCaption: return kCaption;
    case kStringClassName: return kClassName;
    default: return {};
    }
}

}  // namespace vg::res
