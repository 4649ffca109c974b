#pragma once
// The window-message model the client is written in: handles, the two message
// parameters, the standard message numbers and virtual-key codes we use.
// The numbers are the long-standing values every window procedure expects.

#include <cstdint>

using HWND = std::uintptr_t;  // opaque window handle; 0 = none. Never reused in a process.
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr HWND kNoWindow = 0;

constexpr std::uint16_t LoWord(std::uintptr_t v) { return static_cast<std::uint16_t>(v & 0xFFFF); }
constexpr std::uint16_t HiWord(std::uintptr_t v) {
    return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
// Signed coordinates packed the usual way: x in the low word, y in the high word.
constexpr LPARAM MakeLParam(int lo, int hi) {
    return static_cast<LPARAM>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(lo)) |
                               (static_cast<std::uint32_t>(static_cast<std::uint16_t>(hi)) << 16));
}
constexpr int XFromLParam(LPARAM l) { return static_cast<std::int16_t>(LoWord(static_cast<std::uintptr_t>(l))); }
constexpr int YFromLParam(LPARAM l) { return static_cast<std::int16_t>(HiWord(static_cast<std::uintptr_t>(l))); }

// Standard window messages.
enum : UINT {
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_ERASEBKGND = 0x0014,
    WM_SHOWWINDOW = 0x0018,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_COMMAND = 0x0111,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_MOUSELEAVE = 0x02A3,
    WM_USER = 0x0400,
    // Wave-input notifications.
    MM_WIM_OPEN = 0x03BE,
    MM_WIM_CLOSE = 0x03BF,
    MM_WIM_DATA = 0x03C0,
};

// Key-state flags carried in wParam of mouse messages.
enum : WPARAM {
    MK_LBUTTON = 0x0001,
    MK_RBUTTON = 0x0002,
    MK_SHIFT = 0x0004,
    MK_CONTROL = 0x0008,
    MK_MBUTTON = 0x0010,
};

// Virtual-key codes (letters and digits are their ASCII upper-case codes).
enum : WPARAM {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
};

// WM_SIZE wParam.
enum : WPARAM { SIZE_RESTORED = 0 };
