#pragma once
// Positions and sizes in the windows' code are twips, as the windows were
// laid out; the screen has 15 of them to a pixel.

namespace platform {

constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, the remainder dropped.
constexpr int px(int twips) { return twips / kTwipsPerPixel; }

// Pixels to twips.
constexpr int twips(int pixels) { return pixels * kTwipsPerPixel; }

}  // namespace platform
