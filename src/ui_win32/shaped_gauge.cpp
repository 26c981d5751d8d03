#include "ui_win32/shaped_gauge.h"

#include <cstdint>
#include <cstring>

namespace gsms {

namespace {

const wchar_t* const kClassName = L"VelkoraShapedGauge";
constexpr std::size_t kBatch = 2000;  // rectangles per region built at once

// The bitmap's pixels as 32-bit BGRX, rows from the top.
bool readPixels(HBITMAP bitmap, int& width, int& height, std::vector<std::uint32_t>& pixels) {
    BITMAP info{};
    if (GetObjectW(bitmap, sizeof info, &info) == 0) return false;
    width = info.bmWidth;
    height = info.bmHeight;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), &bmi,
                               DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return rows == height;
}

bool within(unsigned channel, unsigned from, unsigned by) {
    const unsigned to = from + by > 255 ? 255 : from + by;
    return channel >= from && channel <= to;
}

// A pixel (BGRX) that is not transparent: some channel outside its range.
bool opaque(std::uint32_t pixel, COLORREF c, COLORREF t) {
    const unsigned r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return !(within(r, GetRValue(c), GetRValue(t)) && within(g, GetGValue(c), GetGValue(t)) &&
             within(b, GetBValue(c), GetBValue(t)));
}

HRGN regionOf(const std::vector<RECT>& rects) {
    std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(rects.size());
    header->rcBound = {0x7FFFFFFF, 0x7FFFFFFF, 0, 0};
    for (const RECT& r : rects) {
        if (r.left < header->rcBound.left) header->rcBound.left = r.left;
        if (r.top < header->rcBound.top) header->rcBound.top = r.top;
        if (r.right > header->rcBound.right) header->rcBound.right = r.right;
        if (r.bottom > header->rcBound.bottom) header->rcBound.bottom = r.bottom;
    }
    if (!rects.empty())
        std::memcpy(data.data() + sizeof(RGNDATAHEADER), rects.data(), rects.size() * sizeof(RECT));
    return ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                           reinterpret_cast<const RGNDATA*>(data.data()));
}

// Joins `part` into `whole` (or makes it the whole); frees `part`.
void unite(HRGN& whole, HRGN part) {
    if (part == nullptr) return;
    if (whole == nullptr) {
        whole = part;
        return;
    }
    CombineRgn(whole, whole, part, RGN_OR);
    DeleteObject(part);
}

// The region with each of its rectangles one pixel larger on every side.
HRGN inflated(HRGN region) {
    const DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<unsigned char> data(size);
    auto* rgn = reinterpret_cast<RGNDATA*>(data.data());
    if (size == 0 || GetRegionData(region, size, rgn) == 0) return CreateRectRgn(0, 0, 0, 0);
    auto* rects = reinterpret_cast<RECT*>(rgn->Buffer);
    std::vector<RECT> grown(rects, rects + rgn->rdh.nCount);
    for (RECT& r : grown) InflateRect(&r, 1, 1);
    return regionOf(grown);
}

}  // namespace

HRGN regionFromBitmap(HBITMAP bitmap, COLORREF c, COLORREF tolerance) {
    int w = 0, h = 0;
    std::vector<std::uint32_t> pixels;
    if (!readPixels(bitmap, w, h, pixels)) return nullptr;
    HRGN result = nullptr;
    std::vector<RECT> rects;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w;) {
            const auto at = [&](int i) { return pixels[static_cast<std::size_t>(y * w + i)]; };
            if (!opaque(at(x), c, tolerance)) {
                ++x;
                continue;
            }
            const int x0 = x;
            while (x < w && opaque(at(x), c, tolerance)) ++x;
            rects.push_back({x0, y, x, y + 1});
            if (rects.size() == kBatch) {
                unite(result, regionOf(rects));
                rects.clear();
            }
        }
    }
    unite(result, regionOf(rects));
    return result;
}

CShapedGauge::~CShapedGauge() {
    if (window_ != nullptr) DestroyWindow(window_);
    if (region_ != nullptr) DeleteObject(region_);
    if (shape_ != nullptr) DeleteObject(shape_);
}

bool CShapedGauge::create(HWND parent, int x, int y, HBITMAP shape, int id) {
    shape_ = shape;
    int w = 0, h = 0;
    std::vector<std::uint32_t> pixels;
    if (shape == nullptr || !readPixels(shape, w, h, pixels)) return false;

    static const ATOM registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_CLASSDC;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc);
    }();
    if (registered == 0) return false;

    background_ = GetSysColor(COLOR_BTNFACE);
    window_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, x, y, w - 1, h - 1, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleW(nullptr), this);
    if (window_ == nullptr) return false;
    region_ = regionFromBitmap(shape, RGB(255, 255, 255), 0);
    if (region_ == nullptr) region_ = CreateRectRgn(0, 0, 0, 0);
    SetWindowRgn(window_, inflated(region_), TRUE);

    // The sunken edge: background pixels next to the shape, as the top-left pixel tells
    // the background.
    const auto at = [&](int px, int py) { return pixels[static_cast<std::size_t>(py * w + px)]; };
    const std::uint32_t back = at(0, 0) & 0xFFFFFF;
    const auto inShape = [&](int px, int py) {
        return px >= 0 && py >= 0 && px < w && py < h && (at(px, py) & 0xFFFFFF) != back;
    };
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px) {
            if (inShape(px, py)) continue;
            if (inShape(px + 1, py + 1))
                shadowRim_.push_back({px, py});
            else if (inShape(px - 1, py - 1))
                highlightRim_.push_back({px, py});
        }
    return true;
}

void CShapedGauge::invalidate() {
    if (window_ != nullptr) InvalidateRgn(window_, region_, FALSE);
}

void CShapedGauge::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    invalidate();
}

int CShapedGauge::setValue(int value) {
    const int previous = value_;
    if (value != value_) {
        value_ = value;
        invalidate();
    }
    return previous;
}

int CShapedGauge::setStyle(int style) {
    const int previous = style_;
    if (style != style_) {
        style_ = style;
        invalidate();
    }
    return previous;
}

void CShapedGauge::setColours(COLORREF a, COLORREF b) {
    if (a != colourA_ || b != colourB_) invalidate();
    colourA_ = a;
    colourB_ = b;
}

LRESULT CALLBACK CShapedGauge::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(l);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CShapedGauge*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_ERASEBKGND) return 1;  // all painting is double-buffered
    if (message == WM_PAINT && self != nullptr) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        self->paint(dc);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

void CShapedGauge::paint(HDC target) {
    RECT rc;
    GetClientRect(window_, &rc);
    const int width = rc.right - rc.left, height = rc.bottom - rc.top;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP image = CreateCompatibleBitmap(target, width, height);
    if (dc == nullptr || image == nullptr) {
        if (image != nullptr) DeleteObject(image);
        if (dc != nullptr) DeleteDC(dc);
        return;
    }
    HGDIOBJ old = SelectObject(dc, image);
    HBRUSH back = CreateSolidBrush(background_);
    FillRect(dc, &rc, back);
    DeleteObject(back);
    SelectClipRgn(dc, region_);

    const int L = rc.left, T = rc.top, R = rc.right, B = rc.bottom;
    const int range = maximum_ - minimum_ + 1;
    const int v = value_;
    const auto solid = [&](int x, int y, int w, int h) {
        const RECT bar{x, y, x + w, y + h};
        HBRUSH brush = CreateSolidBrush(colourA_);
        FillRect(dc, &bar, brush);
        DeleteObject(brush);
    };
    const auto channelSteps = [&](int span, double step[3]) {
        const int a[3] = {GetRValue(colourA_), GetGValue(colourA_), GetBValue(colourA_)};
        const int b[3] = {GetRValue(colourB_), GetGValue(colourB_), GetBValue(colourB_)};
        for (int i = 0; i < 3; ++i) step[i] = span != 0 ? double(b[i] - a[i]) / span : 0.0;
    };
    const auto line = [&](int x0, int y0, int x1, int y1, double colour[3]) {
        HPEN pen = CreatePen(
            PS_SOLID, 1, RGB(int(colour[0]) & 0xFF, int(colour[1]) & 0xFF, int(colour[2]) & 0xFF));
        HGDIOBJ was = SelectObject(dc, pen);
        MoveToEx(dc, x0, y0, nullptr);
        LineTo(dc, x1, y1);
        SelectObject(dc, was);
        DeleteObject(pen);
    };
    if (range > 0) {
        double colour[3] = {double(GetRValue(colourA_)), double(GetGValue(colourA_)),
                            double(GetBValue(colourA_))};
        double step[3];
        switch (style_) {
            case kSolidDown:
                solid(L, T - 1, R - L, (v - minimum_) * (B - T + 2) / range + 1);
                break;
            case kSolidRight:
                solid(L - 1, T, (v - minimum_) * (R - L + 2) / range + 1, B - T);
                break;
            case kGradientUp: {
                const int e = (B - T + 2) * (maximum_ - v) / range;
                channelSteps(B - T, step);
                for (int y = B + 1; y >= e + 1; --y) {
                    line(L, y, R, y, colour);
                    for (int i = 0; i < 3; ++i) colour[i] += step[i];
                }
                break;
            }
            case kGradientRight: {
                const int limit = (R - L + 2) * (v - minimum_) / range - 1;
                channelSteps(R - L, step);
                for (int x = L - 1, counter = L; counter <= limit; ++x, ++counter) {
                    line(x, T, x, B, colour);
                    for (int i = 0; i < 3; ++i) colour[i] += step[i];
                }
                break;
            }
            default:
                break;
        }
    }

    SelectClipRgn(dc, nullptr);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    for (const POINT& p : shadowRim_) SetPixelV(dc, p.x, p.y, shadow);
    for (const POINT& p : highlightRim_) SetPixelV(dc, p.x, p.y, highlight);

    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, old);
    DeleteObject(image);
    DeleteDC(dc);
}

}  // namespace gsms
