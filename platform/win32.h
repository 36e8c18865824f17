// The Windows-shaped services the program is written against: exactly the
// subset that the entry point, the window procedure, the frame-rate title and
// the OpenGL context code call, with the types and constants they need and the
// real Windows values of every constant. The implementation (win32_core.cpp,
// run_harness.cpp and one backend file, see backend.h) runs them over SDL2
// or, on the web page, Emscripten's HTML5 API; no backend type is visible
// here.
//
// Record layouts. PIXELFORMATDESCRIPTOR holds no pointers and has its Windows
// layout of 40 bytes on every target. WNDCLASSEXA holds eight pointer-sized
// fields (procedure, handles, strings): it is 48 bytes where pointers are 4
// bytes (the 32-bit Windows layout) and 80 bytes where they are 8 (the layout
// 64-bit Windows uses too). A 48-byte record cannot hold 64-bit pointers, so
// cbSize is the record's own size, sizeof(WNDCLASSEXA), which
// RegisterClassExA checks exactly as Windows does; the assertions below pin
// both layouts.
//
// Limits: one thread; messages are those the program needs (window life,
// keys, mouse, dropped files, close, size); no painting, menus, or character messages.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Basic types (the widths of the Windows data model) ----
using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = unsigned int;
using LONG = int32_t;
using WPARAM = uintptr_t;  // UINT_PTR
using LPARAM = intptr_t;   // LONG_PTR
using LRESULT = intptr_t;  // LONG_PTR
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// ---- Handles: distinct opaque pointer types, as with Windows' STRICT. The
// records behind them are the implementation's own. ----
struct WindowRecord;
struct DeviceContextRecord;
struct RenderingContextRecord;
struct InstanceRecord;
struct IconRecord;
struct BrushRecord;
struct MenuRecord;
struct DropRecord;
using HWND = WindowRecord*;
using HDC = DeviceContextRecord*;
using HGLRC = RenderingContextRecord*;
using HINSTANCE = InstanceRecord*;
using HICON = IconRecord*;
using HCURSOR = HICON;
using HBRUSH = BrushRecord*;
using HMENU = MenuRecord*;
using HGDIOBJ = void*;
using HDROP = DropRecord*;  // WM_DROPFILES's wParam

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// ---- Records ----
struct POINT {
  LONG x;
  LONG y;
};

struct RECT {
  LONG left;
  LONG top;
  LONG right;   // exclusive: width = right - left
  LONG bottom;  // exclusive: height = bottom - top
};

struct MSG {
  HWND hwnd;      // target window; null for thread messages such as WM_QUIT
  UINT message;   // WM_* code
  WPARAM wParam;  // virtual-key code for key messages, exit code for WM_QUIT
  LPARAM lParam;  // key messages: repeat count, context and transition bits
  DWORD time;     // timeGetTime() when the message was queued, ms
  POINT pt;       // cursor position; always (0, 0) here
};
using LPMSG = MSG*;

struct WNDCLASSEXA {
  UINT cbSize;  // sizeof(WNDCLASSEXA); anything else is refused
  UINT style;   // CS_* bits
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;  // must be non-null and unique
  HICON hIconSm;
};
static_assert(sizeof(WNDCLASSEXA) == 4 * 4 + 8 * sizeof(void*),
              "WNDCLASSEXA: four 32-bit fields and eight pointer-sized ones, no padding");
static_assert(sizeof(void*) != 4 || sizeof(WNDCLASSEXA) == 48, "the 32-bit Windows layout");
static_assert(sizeof(void*) != 8 || sizeof(WNDCLASSEXA) == 80, "the 64-bit Windows layout");

struct PIXELFORMATDESCRIPTOR {
  WORD nSize;     // 40
  WORD nVersion;  // 1
  DWORD dwFlags;  // PFD_* bits
  BYTE iPixelType;
  BYTE cColorBits;
  BYTE cRedBits;
  BYTE cRedShift;
  BYTE cGreenBits;
  BYTE cGreenShift;
  BYTE cBlueBits;
  BYTE cBlueShift;
  BYTE cAlphaBits;
  BYTE cAlphaShift;
  BYTE cAccumBits;
  BYTE cAccumRedBits;
  BYTE cAccumGreenBits;
  BYTE cAccumBlueBits;
  BYTE cAccumAlphaBits;
  BYTE cDepthBits;
  BYTE cStencilBits;
  BYTE cAuxBuffers;
  BYTE iLayerType;
  BYTE bReserved;
  DWORD dwLayerMask;
  DWORD dwVisibleMask;
  DWORD dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the Windows layout");
static_assert(offsetof(PIXELFORMATDESCRIPTOR, iPixelType) == 8, "the Windows layout");
static_assert(offsetof(PIXELFORMATDESCRIPTOR, bReserved) == 27, "the Windows layout");
static_assert(offsetof(PIXELFORMATDESCRIPTOR, dwLayerMask) == 28, "the Windows layout");

// ---- Constants (Windows values) ----
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_MOUSEWHEEL = 0x020A;
constexpr UINT WM_DROPFILES = 0x0233;

// Mouse messages: lParam holds the cursor's client x in its low 16 bits and
// y in the next 16, each signed (a captured drag may leave the window);
// wParam's low word holds the MK_ bits of the buttons held, and for
// WM_MOUSEWHEEL its high word the signed wheel delta, WHEEL_DELTA a notch
// away from the user.
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr int WHEEL_DELTA = 120;

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr int CW_USEDEFAULT = INT32_MIN;  // 0x80000000

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWDEFAULT = 10;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// MAKEINTRESOURCE(32512): the stock application icon and the arrow cursor.
inline const LPCSTR IDI_APPLICATION = reinterpret_cast<LPCSTR>(uintptr_t{32512});
inline const LPCSTR IDC_ARROW = reinterpret_cast<LPCSTR>(uintptr_t{32512});
constexpr int WHITE_BRUSH = 0;

constexpr DWORD PFD_DOUBLEBUFFER = 0x00000001;
constexpr DWORD PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr DWORD PFD_SUPPORT_OPENGL = 0x00000020;
constexpr BYTE PFD_TYPE_RGBA = 0;
constexpr BYTE PFD_MAIN_PLANE = 0;

// Virtual-key codes: every code the key translation produces, by its Windows
// name (letters and digits are their upper-case ASCII codes and have none).
constexpr WPARAM VK_BACK = 0x08;  // Backspace
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;   // Enter, also on the keypad
constexpr WPARAM VK_SHIFT = 0x10;    // either Shift
constexpr WPARAM VK_CONTROL = 0x11;  // either Ctrl
constexpr WPARAM VK_MENU = 0x12;     // either Alt
constexpr WPARAM VK_PAUSE = 0x13;
constexpr WPARAM VK_CAPITAL = 0x14;  // Caps Lock
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_SPACE = 0x20;
constexpr WPARAM VK_PRIOR = 0x21;  // Page Up
constexpr WPARAM VK_NEXT = 0x22;   // Page Down
constexpr WPARAM VK_END = 0x23;
constexpr WPARAM VK_HOME = 0x24;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;
constexpr WPARAM VK_SNAPSHOT = 0x2C;  // Print Screen
constexpr WPARAM VK_INSERT = 0x2D;
constexpr WPARAM VK_DELETE = 0x2E;
constexpr WPARAM VK_LWIN = 0x5B;
constexpr WPARAM VK_RWIN = 0x5C;
constexpr WPARAM VK_APPS = 0x5D;  // the menu key
constexpr WPARAM VK_NUMPAD0 = 0x60;
constexpr WPARAM VK_NUMPAD1 = 0x61;
constexpr WPARAM VK_NUMPAD2 = 0x62;
constexpr WPARAM VK_NUMPAD3 = 0x63;
constexpr WPARAM VK_NUMPAD4 = 0x64;
constexpr WPARAM VK_NUMPAD5 = 0x65;
constexpr WPARAM VK_NUMPAD6 = 0x66;
constexpr WPARAM VK_NUMPAD7 = 0x67;
constexpr WPARAM VK_NUMPAD8 = 0x68;
constexpr WPARAM VK_NUMPAD9 = 0x69;
constexpr WPARAM VK_MULTIPLY = 0x6A;  // keypad *
constexpr WPARAM VK_ADD = 0x6B;       // keypad +
constexpr WPARAM VK_SUBTRACT = 0x6D;  // keypad -
constexpr WPARAM VK_DECIMAL = 0x6E;   // keypad .
constexpr WPARAM VK_DIVIDE = 0x6F;    // keypad /
constexpr WPARAM VK_F1 = 0x70;
constexpr WPARAM VK_F2 = 0x71;
constexpr WPARAM VK_F3 = 0x72;
constexpr WPARAM VK_F4 = 0x73;
constexpr WPARAM VK_F5 = 0x74;
constexpr WPARAM VK_F6 = 0x75;
constexpr WPARAM VK_F7 = 0x76;
constexpr WPARAM VK_F8 = 0x77;
constexpr WPARAM VK_F9 = 0x78;
constexpr WPARAM VK_F10 = 0x79;
constexpr WPARAM VK_F11 = 0x7A;
constexpr WPARAM VK_F12 = 0x7B;
constexpr WPARAM VK_NUMLOCK = 0x90;
constexpr WPARAM VK_SCROLL = 0x91;      // Scroll Lock
constexpr WPARAM VK_OEM_1 = 0xBA;       // ; on a US layout
constexpr WPARAM VK_OEM_PLUS = 0xBB;    // =
constexpr WPARAM VK_OEM_COMMA = 0xBC;   // ,
constexpr WPARAM VK_OEM_MINUS = 0xBD;   // -
constexpr WPARAM VK_OEM_PERIOD = 0xBE;  // .
constexpr WPARAM VK_OEM_2 = 0xBF;       // / on a US layout
constexpr WPARAM VK_OEM_3 = 0xC0;       // ` on a US layout
constexpr WPARAM VK_OEM_4 = 0xDB;       // [ on a US layout
constexpr WPARAM VK_OEM_5 = 0xDC;       // \ on a US layout
constexpr WPARAM VK_OEM_6 = 0xDD;       // ] on a US layout
constexpr WPARAM VK_OEM_7 = 0xDE;       // ' on a US layout

// ---- The services ----

// Stock resources: with a null instance, IDI_APPLICATION / IDC_ARROW give the
// system's stock handle; anything else gives null.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
// WHITE_BRUSH gives the stock white brush; other indices give null.
HGDIOBJ GetStockObject(int index);

// Records the class; 0 (and a reason for PlatformFailureReason) for a wrong
// cbSize, a missing procedure or name, or a name already registered.
WORD RegisterClassExA(const WNDCLASSEXA* windowClass);

// Opens a hidden window of the registered class (outer size width x height
// where the window system reports a frame, else a client of that size) and
// sends WM_CREATE; null, with the reason kept, when no window can be made.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Shows or hides; returns whether the window was visible before.
BOOL ShowWindow(HWND window, int showCommand);
BOOL UpdateWindow(HWND window);

// Takes (PM_REMOVE) or looks at (PM_NOREMOVE) the next message for `window`
// (null: any) with a code in [filterMin, filterMax] (0, 0: all): posted
// messages first, then input. Non-zero when a message was found. A window
// destroyed by another X client ends the run instead: one line on stderr,
// the window counts as gone (no WM_DESTROY), and WM_QUIT with code 1 is
// posted; a lost display connection ends the process with exit code 1.
BOOL PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// No character messages are made; returns FALSE.
BOOL TranslateMessage(const MSG* message);
// Calls the procedure of the message's window; messages to no live window
// are dropped (result 0).
LRESULT DispatchMessageA(const MSG* message);
// Default handling: WM_CLOSE destroys the window (sending WM_DESTROY);
// Alt+F4 as WM_SYSKEYDOWN closes it as WM_CLOSE would; the rest returns 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues WM_QUIT with wParam = exitCode.
void PostQuitMessage(int exitCode);

// WM_DROPFILES: with index 0xFFFFFFFF, the number of files dropped; else
// the length of file `index`'s path, which is copied with its terminator
// into `file` (cut to `size` - 1 characters) when `file` is not null. 0 for
// a bad handle or index.
UINT DragQueryFileA(HDROP drop, UINT index, LPSTR file, UINT size);
// Releases the drop's record; the handle is invalid afterwards.
void DragFinish(HDROP drop);

// The window's device context (one per window; never needs releasing).
HDC GetDC(HWND window);
// The drawable size in pixels as (0, 0, width, height); FALSE for no window.
BOOL GetClientRect(HWND window, RECT* rect);
// Sets the title; in a headless run also writes "title: TEXT" to stderr.
BOOL SetWindowTextA(HWND window, LPCSTR text);

// The closest available format for the request (1-based index), 0 when the
// request is malformed (nSize, nVersion, flags) or nothing can be offered.
int ChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* request);
// Gives the window the format; FALSE for a bad index or when the window
// already has a different one.
BOOL SetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* request);
// A compatibility-profile OpenGL context for the window's format; null on
// failure.
HGLRC wglCreateContext(HDC dc);
// Makes the context current on this thread (null context: none current).
BOOL wglMakeCurrent(HDC dc, HGLRC context);
BOOL wglDeleteContext(HGLRC context);
// Presents the back buffer and counts the frame as presented (see
// PresentedFrameCount in platform.h); FALSE when the window is gone. A
// window's swap waits for the display's refresh unless --no-vsync; a headless
// swap first waits until the frame before has been drawn, so at most one
// frame is ever queued in the renderer.
BOOL SwapBuffers(HDC dc);

// Milliseconds, unsigned 32-bit, wrapping; the virtual clock when set.
DWORD timeGetTime();
