// Pictures of what is on the screen, saved as PNG test artifacts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// 24-bit pixels of a screen rectangle, top row first, as red, green, blue.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Picture CaptureScreen(const RECT& area);
// The same, once painting has finished: two captures in a row agree.
Picture CaptureSettled(const RECT& area);
// Uncompressed (stored) deflate: no library needed, and the files are small.
bool SavePng(const Picture& picture, const std::wstring& path);

}  // namespace e2e
