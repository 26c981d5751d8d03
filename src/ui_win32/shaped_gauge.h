// CShapedGauge: a value between a minimum and a maximum shown as a bar, only inside the
// outline of a bitmap: the window is cut from the bitmap's non-white pixels plus a one-pixel
// rim, the bar is clipped to the shape, and a sunken edge is drawn round it. Painting is
// double-buffered and happens only when the value, the style or the colours really change.
//
// Thread contract: the UI thread that created it.
#pragma once

#include <windows.h>

#include <vector>

namespace gsms {

// The region of a bitmap's pixels that are not within `tolerance` above colour `c` in every
// channel (white with tolerance 0: exactly the pure-white pixels are left out). An all-white
// bitmap gives an empty region; nullptr when the bitmap cannot be read.
[[nodiscard]] HRGN regionFromBitmap(HBITMAP bitmap, COLORREF c, COLORREF tolerance);

class CShapedGauge {
public:
    enum Style { kSolidDown = 1, kSolidRight = 2, kGradientUp = 3, kGradientRight = 4 };

    CShapedGauge() = default;
    CShapedGauge(const CShapedGauge&) = delete;
    CShapedGauge& operator=(const CShapedGauge&) = delete;
    ~CShapedGauge();

    // A child of `parent` with its top-left corner at x, y, one pixel smaller than the
    // bitmap each way; the gauge owns `shape` from here on (also when it fails). False when
    // the bitmap cannot be read or the window cannot be made.
    [[nodiscard]] bool create(HWND parent, int x, int y, HBITMAP shape, int id);

    void setRange(int minimum, int maximum);
    int setValue(int value);  // the previous value
    int setStyle(int style);  // the previous style
    void setColours(COLORREF a, COLORREF b);
    [[nodiscard]] int value() const { return value_; }
    [[nodiscard]] HWND window() const { return window_; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    void invalidate();
    void paint(HDC target);

    HWND window_ = nullptr;
    HBITMAP shape_ = nullptr;
    HRGN region_ = nullptr;
    int minimum_ = 0;
    int maximum_ = 100;
    int step_ = 10;
    int value_ = 0;
    COLORREF colourA_ = 0xFF0000;
    COLORREF colourB_ = 0x0000FF;
    COLORREF background_ = 0;
    int style_ = kGradientRight;
    std::vector<POINT> shadowRim_;     // outside the shape on its top and left
    std::vector<POINT> highlightRim_;  // outside the shape on its bottom and right
};

}  // namespace gsms
