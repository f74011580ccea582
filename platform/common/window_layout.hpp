#pragma once

// The window's places and sizes in pixels at 96 dots per inch, measured from
// the top left of its client area. Each platform scales them to its screen.
namespace zorvik::layout {

struct Rect {
    int left, top, width, height;
};

inline constexpr int kClientWidth = 388;
inline constexpr int kClientHeight = 232;
inline constexpr Rect kResultsBox{8, 8, 369, 177};
inline constexpr Rect kDiscoverButton{96, 200, 73, 25};
inline constexpr Rect kExitButton{192, 200, 81, 25};

// The dots per inch that the places above are written for.
inline constexpr int kBaseDpi = 96;

}  // namespace zorvik::layout
