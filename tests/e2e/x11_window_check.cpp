// Checks shadow_volume's real X11 window, run under Xvfb. This program acts
// as the X server's window manager (it takes SubstructureRedirect on the
// root), so the demo's window is mapped only when this program maps it: the
// title it reads at that moment is the one the window was created with,
// before any frame could change it. It then follows every title change and,
// once the first frame-rate title has appeared, acts as a user would:
//   --close        the window manager's close button (WM_DELETE_WINDOW)
//   --escape       a real Escape key press and release (XTest), focus on the window
//   --destroy      another client destroys the window (as `xdotool windowclose`);
//                  the demo must then exit 1 with one line on stderr, no Xlib dump
//   --resize WxH   the window manager resizes the window; two titles later the
//                  window's pixels must match a headless --size WxH frame, then
//                  the window is closed
//   --drag         a real left-drag of 100 pixels to the right (XTest), then P:
//                  the screenshot the demo writes must match a headless run of
//                  the same size with the scripted drag 1:drag:100:0
//   --wheel        three real wheel notches towards the screen, then P; the
//                  headless run has 1:wheel:3
//   --help-key     H, then P; the headless run has 1:down:H
//   --soft         six real presses of the keypad's +, forty frames later
//                  P: the converged soft shadows must match a headless run
//                  with --light-size 6 (pass the mode in the demo's ARGS)
//   --fullscreen   F11 makes the window the screen's size, F11 again gives the
//                  old size back, then Escape closes it
//   --shadow-keys  real S presses cycle the shadow modes: the titles must go
//                  " - exact shadows", " - traced shadows", " - no shadows",
//                  then back to the bare
//                  rate; then V must change the window's pixels (the volumes
//                  drawn over the picture), and the window is closed
//
// usage: x11_window_check [ACTION] DEMO ARGS...   (run inside xvfb-run)
// Exit 0 when: every window of the demo showed "Shadow Volume" when mapped,
// a frame-rate title followed, the action's check held, and the demo exited
// with code 0 (1 for --destroy).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/demo_runner.h"
#include "tests/support/png_reader.h"

namespace {

bool redirectRefused = false;

int OnXError(Display*, XErrorEvent* error) {
  // BadAccess on the root's SubstructureRedirect: another manager is running.
  if (error->error_code == BadAccess) redirectRefused = true;
  return 0;  // windows that vanish between events are not this check's fault
}

std::string TitleOf(Display* display, Window window) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) == 0 || name == nullptr) return "";
  std::string title(name);
  XFree(name);
  return title;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789.inf") == std::string::npos;
}

// A frame-rate title, bare (blend mode) or with a shadow mode after it.
bool IsRateTitle(const std::string& text, const char* suffix) {
  const size_t length = std::strlen(suffix);
  return text.size() > length && text.compare(text.size() - length, length, suffix) == 0 &&
         IsNumber(text.substr(0, text.size() - length));
}

// One 8-bit channel of an X pixel, by the visual's mask.
int Channel(unsigned long pixel, unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return static_cast<int>(((pixel >> shift) & mask) * 255 / (mask ? mask : 1));
}

// A real press and release of `key` in `window` (XTest), focus moved there.
void PressKey(Display* display, Window window, KeySym key) {
  XSetInputFocus(display, window, RevertToParent, CurrentTime);
  const KeyCode code = XKeysymToKeycode(display, key);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
}

// The window's pixels as an RGB image (empty when they cannot be read).
RgbImage WindowPixels(Display* display, Window window) {
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  RgbImage result;
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) return result;
  result.width = attributes.width;
  result.height = attributes.height;
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      result.rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->red_mask)));
      result.rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->green_mask)));
      result.rgb.push_back(static_cast<uint8_t>(Channel(pixel, image->blue_mask)));
    }
  }
  XDestroyImage(image);
  return result;
}

// How many pixels of the window differ from `reference` by more than 8
// levels in a channel; every pixel when the sizes differ.
long DifferingPixels(Display* display, Window window, const RgbImage& reference) {
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  const long all = static_cast<long>(attributes.width) * attributes.height;
  if (reference.width != attributes.width || reference.height != attributes.height) {
    std::fprintf(stderr, "window %dx%d, reference %dx%d\n", attributes.width, attributes.height,
                 reference.width, reference.height);
    return all > 0 ? all : 1;
  }
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) return all;
  long differing = 0;
  for (int y = 0; y < attributes.height; ++y) {
    for (int x = 0; x < attributes.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      const int rgb[3] = {Channel(pixel, image->red_mask), Channel(pixel, image->green_mask),
                          Channel(pixel, image->blue_mask)};
      for (int c = 0; c < 3; ++c) {
        if (std::abs(rgb[c] - reference.At(x, y)[c]) > 8) {
          ++differing;
          break;
        }
      }
    }
  }
  XDestroyImage(image);
  return differing;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  std::string action = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
  int resizeWidth = 0, resizeHeight = 0;
  if (!action.empty()) first = 2;
  if (action == "--resize") {
    const bool sized = argc > 2 && std::sscanf(argv[2], "%dx%d", &resizeWidth, &resizeHeight) == 2;
    first = sized && resizeWidth > 0 && resizeHeight > 0 ? 3 : argc;
  }
  // The actions that end in a screenshot, and the scripted input a
  // headless run of the same size needs for the same picture.
  const bool shot =
      action == "--drag" || action == "--wheel" || action == "--help-key" || action == "--soft";
  const std::string scripted = action == "--drag"    ? "1:drag:100:0"
                               : action == "--wheel" ? "1:wheel:3"
                                                     : "1:down:H";
  bool softShot = false;  // --soft: P pressed
  const bool known = action.empty() || action == "--close" || action == "--escape" ||
                     action == "--destroy" || action == "--resize" || action == "--shadow-keys" ||
                     shot || action == "--fullscreen";
  if (first >= argc || !known) {
    std::fprintf(stderr,
                 "usage: x11_window_check [--close|--escape|--destroy|--resize WxH|--shadow-keys|"
                 "--drag|--wheel|--help-key|--soft|--fullscreen] DEMO ARGS...\n");
    return 64;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x11_window_check: no X display (run under xvfb-run)\n");
    return 1;
  }
  XSetErrorHandler(OnXError);
  Window root = DefaultRootWindow(display);
  XSelectInput(display, root, SubstructureRedirectMask | SubstructureNotifyMask);
  XSync(display, False);
  if (redirectRefused) {
    std::fprintf(stderr, "x11_window_check: another window manager is running\n");
    return 1;
  }
  Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  // Fullscreen requests, as window managers that follow the EWMH take them.
  Atom wmState = XInternAtom(display, "_NET_WM_STATE", False);
  Atom wmFullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  XWindowAttributes beforeFullscreen{};

  // The demo runs in a scratch folder, so its path must not be relative.
  char* demoPath = realpath(argv[first], nullptr);
  if (demoPath == nullptr) {
    std::fprintf(stderr, "x11_window_check: no program %s\n", argv[first]);
    return 64;
  }
  std::vector<char*> demoArgs(argv + first, argv + argc);
  demoArgs[0] = demoPath;
  demoArgs.push_back(nullptr);
  std::string folder = MakeScratchFolder();
  // The picture a resized window must show: the same scene rendered headless
  // at the new size.
  RgbImage reference;
  if (action == "--resize") {
    const std::string size = std::to_string(resizeWidth) + "x" + std::to_string(resizeHeight);
    RunProgram(demoPath, {"--headless", "--size", size, "--frames", "1", "--capture", "1:ref.png"},
               folder);
    reference = ReadPng(folder + "/ref.png");
  }
  const std::string errPath = folder + "/demo.stderr";
  pid_t demo = fork();
  if (demo == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    if (!std::freopen(errPath.c_str(), "w", stderr)) _exit(126);
    close(ConnectionNumber(display));
    execv(demoPath, demoArgs.data());
    _exit(127);
  }

  std::vector<std::string> mappedTitles;  // titles at map time, per window
  std::vector<std::string> laterTitles;   // every title change afterwards
  Window shown = 0;
  bool closeSent = false;
  bool acted = false;
  int titlesAfterAction = 0;  // title updates of the shown window since the action
  long differing = -1;        // --resize: pixels unlike the reference; --shadow-keys: V's change
  int modeStep = 0;           // --shadow-keys: S presses whose title has shown, 5 after V
  RgbImage beforeV;           // --shadow-keys: the window before V
  int shotWidth = 0, shotHeight = 0;  // the window's size when the screenshot was asked for
  RgbImage screenshot;                // what the demo wrote
  int fullscreenStep = 0;             // --fullscreen: 1 after the first F11, 2 after the second
  int windowedWidth = 0, screenWidth = 0, fullscreenWidth = 0, restoredWidth = 0;
  int status = 0;
  bool exited = false;
  for (int waited = 0; waited < 60000 && !exited;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == MapRequest) {
        Window window = event.xmaprequest.window;
        XSelectInput(display, window, PropertyChangeMask | StructureNotifyMask);
        mappedTitles.push_back(TitleOf(display, window));
        XMapWindow(display, window);
        shown = window;
      } else if (event.type == ConfigureRequest) {
        XWindowChanges changes{};
        changes.x = event.xconfigurerequest.x;
        changes.y = event.xconfigurerequest.y;
        changes.width = event.xconfigurerequest.width;
        changes.height = event.xconfigurerequest.height;
        XConfigureWindow(display, event.xconfigurerequest.window,
                         static_cast<unsigned>(event.xconfigurerequest.value_mask), &changes);
      } else if (event.type == ClientMessage && event.xclient.message_type == wmState &&
                 (static_cast<Atom>(event.xclient.data.l[1]) == wmFullscreen ||
                  static_cast<Atom>(event.xclient.data.l[2]) == wmFullscreen)) {
        // _NET_WM_STATE: 0 remove, 1 add, 2 toggle.
        Window window = event.xclient.window;
        Atom* states = nullptr;
        Atom type;
        int format;
        unsigned long count = 0, after = 0;
        XGetWindowProperty(display, window, wmState, 0, 16, False, XA_ATOM, &type, &format, &count,
                           &after, reinterpret_cast<unsigned char**>(&states));
        const bool isFull = count > 0 && states != nullptr && states[0] == wmFullscreen;
        if (states != nullptr) XFree(states);
        const long how = event.xclient.data.l[0];
        const bool makeFull = how == 1 || (how == 2 && !isFull);
        if (makeFull && !isFull) {
          XGetWindowAttributes(display, window, &beforeFullscreen);
          XChangeProperty(display, window, wmState, XA_ATOM, 32, PropModeReplace,
                          reinterpret_cast<unsigned char*>(&wmFullscreen), 1);
          XMoveResizeWindow(display, window, 0, 0,
                            static_cast<unsigned>(DisplayWidth(display, DefaultScreen(display))),
                            static_cast<unsigned>(DisplayHeight(display, DefaultScreen(display))));
        } else if (!makeFull && isFull) {
          XDeleteProperty(display, window, wmState);
          XMoveResizeWindow(display, window, beforeFullscreen.x, beforeFullscreen.y,
                            static_cast<unsigned>(beforeFullscreen.width),
                            static_cast<unsigned>(beforeFullscreen.height));
        }
        XFlush(display);
      } else if (event.type == PropertyNotify && event.xproperty.atom == XA_WM_NAME &&
                 event.xproperty.state == PropertyNewValue) {
        std::string title = TitleOf(display, event.xproperty.window);
        if (laterTitles.empty() || laterTitles.back() != title) laterTitles.push_back(title);
        // --soft runs a mode that the title names after the rate.
        const bool rate = (IsNumber(title) || (action == "--soft" &&
                                               (IsRateTitle(title, " - exact shadows") ||
                                                IsRateTitle(title, " - traced shadows")))) &&
                          event.xproperty.window == shown;
        if (rate && acted) ++titlesAfterAction;
        if (rate && !acted) {
          acted = true;
          if (action == "--escape") {
            XSetInputFocus(display, shown, RevertToParent, CurrentTime);
            const KeyCode escape = XKeysymToKeycode(display, XK_Escape);
            XTestFakeKeyEvent(display, escape, True, CurrentTime);
            XTestFakeKeyEvent(display, escape, False, CurrentTime);
          } else if (action == "--destroy") {
            XDestroyWindow(display, shown);
          } else if (shot || action == "--fullscreen") {
            XSetInputFocus(display, shown, RevertToParent, CurrentTime);
            XWindowAttributes attributes;
            XGetWindowAttributes(display, shown, &attributes);
            shotWidth = attributes.width;
            shotHeight = attributes.height;
            windowedWidth = attributes.width;
            screenWidth = DisplayWidth(display, DefaultScreen(display));
            int x = 0, y = 0;
            Window child;
            XTranslateCoordinates(display, shown, root, attributes.width / 2,
                                  attributes.height / 2, &x, &y, &child);
            if (action == "--drag") {
              XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
              XTestFakeButtonEvent(display, 1, True, CurrentTime);
              for (int step = 1; step <= 4; ++step)
                XTestFakeMotionEvent(display, -1, x + 25 * step, y, CurrentTime);
              XTestFakeButtonEvent(display, 1, False, CurrentTime);
            } else if (action == "--wheel") {
              XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
              for (int notch = 0; notch < 3; ++notch) {  // button 4: away from the user
                XTestFakeButtonEvent(display, 4, True, CurrentTime);
                XTestFakeButtonEvent(display, 4, False, CurrentTime);
              }
            }
            const KeySym key = action == "--help-key" ? XK_h : action == "--fullscreen" ? XK_F11 : 0;
            if (key != 0) {
              XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
              XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), False, CurrentTime);
            }
            if (action == "--soft") {
              for (int press = 0; press < 6; ++press) PressKey(display, shown, XK_KP_Add);
            } else if (shot) {
              XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_p), True, CurrentTime);
              XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_p), False, CurrentTime);
            }
            fullscreenStep = 1;
          } else if (action == "--shadow-keys") {
            PressKey(display, shown, XK_s);
          } else if (action == "--resize") {
            // At the origin, so that the whole window lies on the screen and
            // can be read back.
            XMoveResizeWindow(display, shown, 0, 0, static_cast<unsigned>(resizeWidth),
                              static_cast<unsigned>(resizeHeight));
          }
          XFlush(display);
        }
        // Two title updates after the resize, at least ten frames have been
        // drawn at the new size.
        if (action == "--resize" && titlesAfterAction == 2 && differing < 0) {
          differing = DifferingPixels(display, shown, reference);
        }
        // --fullscreen: two titles after each F11 the size is read; the
        // second F11 restores, Escape then closes.
        if (action == "--fullscreen" && titlesAfterAction == 2 * fullscreenStep && rate &&
            fullscreenStep <= 2) {
          XWindowAttributes attributes;
          XGetWindowAttributes(display, shown, &attributes);
          const KeySym key = fullscreenStep == 1 ? XK_F11 : XK_Escape;
          (fullscreenStep == 1 ? fullscreenWidth : restoredWidth) = attributes.width;
          XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
          XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), False, CurrentTime);
          XFlush(display);
          ++fullscreenStep;
        }
        // Four titles (forty frames) after the size was set the soft
        // shadows have all their samples.
        if (action == "--soft" && acted && !softShot && titlesAfterAction == 4) {
          PressKey(display, shown, XK_p);
          XFlush(display);
          softShot = true;
        }
        // The screenshot exists once it can be read whole.
        if (shot && acted && screenshot.width == 0)
          screenshot = ReadPng(folder + "/shadow-volume-0001.png");
        // Each S shows the next mode's title; then V, and two titles later
        // the volumes must show.
        if (action == "--shadow-keys" && acted && event.xproperty.window == shown) {
          const char* expected[4] = {" - exact shadows", " - traced shadows", " - no shadows", ""};
          if (modeStep < 4 && (modeStep == 3 ? IsNumber(title) : IsRateTitle(title, expected[modeStep]))) {
            if (++modeStep < 4) {
              PressKey(display, shown, XK_s);
            } else {
              beforeV = WindowPixels(display, shown);
              PressKey(display, shown, XK_v);
              titlesAfterAction = 0;
            }
            XFlush(display);
          } else if (modeStep == 4 && titlesAfterAction == 2) {
            differing = DifferingPixels(display, shown, beforeV);
            modeStep = 5;
          }
        }
        const bool closeNow = action == "--close" ||
                              ((action == "--resize" || action == "--shadow-keys") && differing >= 0) ||
                              (shot && screenshot.width > 0);
        if (closeNow && !closeSent && rate) {
          XEvent close{};
          close.xclient.type = ClientMessage;
          close.xclient.window = shown;
          close.xclient.message_type = protocols;
          close.xclient.format = 32;
          close.xclient.data.l[0] = static_cast<long>(deleteWindow);
          close.xclient.data.l[1] = CurrentTime;
          XSendEvent(display, shown, False, NoEventMask, &close);
          XFlush(display);
          closeSent = true;
        }
      }
    }
    if (waitpid(demo, &status, WNOHANG) == demo) {
      exited = true;
      break;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(ConnectionNumber(display), &readable);
    timeval tick{0, 20000};
    select(ConnectionNumber(display) + 1, &readable, nullptr, nullptr, &tick);
    waited += 20;
  }
  if (!exited) {
    kill(demo, SIGKILL);
    waitpid(demo, &status, 0);
    std::fprintf(stderr, "x11_window_check: the demo did not end within 60 s\n");
  }
  const std::vector<std::string> errLines = LinesWithPrefix(ReadTextFile(errPath), "");
  // The same picture headless: the window's size, the scripted input.
  if (shot && screenshot.width > 0) {
    const std::string size = std::to_string(shotWidth) + "x" + std::to_string(shotHeight);
    std::vector<std::string> args = {"--headless", "--size", size, "--keys", scripted,
                                     "--frames", "2", "--capture", "2:ref.png"};
    if (action == "--soft") {
      args = {"--headless", "--size", size, "--light-size", "6", "--frames", "40",
              "--capture", "40:ref.png"};
      args.insert(args.end(), argv + first + 1, argv + argc);
    }
    RunProgram(demoPath, args, folder);
    reference = ReadPng(folder + "/ref.png");
  }
  RemoveScratchFolder(folder);
  std::free(demoPath);

  const int wanted = action == "--destroy" ? 1 : 0;
  bool ok = exited && WIFEXITED(status) && WEXITSTATUS(status) == wanted;
  std::fprintf(stderr, "demo exit: %d (expected %d)\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1,
               wanted);
  for (const std::string& line : errLines) std::fprintf(stderr, "demo stderr: %s\n", line.c_str());
  // Destroyed from outside: the one line saying so, and nothing of Xlib's.
  if (action == "--destroy" &&
      (errLines.size() != 1 || errLines[0].find("destroyed from outside") == std::string::npos)) {
    ok = false;
  }
  if (action == "--resize") {
    std::fprintf(stderr, "resized to %dx%d: %ld pixels unlike the headless frame\n", resizeWidth,
                 resizeHeight, differing);
    // A few pixels along edges may round differently between the two drawables.
    const long all = static_cast<long>(resizeWidth) * resizeHeight;
    if (reference.width == 0 || differing < 0 || differing > all / 200) ok = false;
  }
  if (shot) {
    long unlike = -1;
    if (reference.width > 0 && reference.width == screenshot.width &&
        reference.height == screenshot.height) {
      unlike = 0;
      for (int y = 0; y < reference.height; ++y)
        for (int x = 0; x < reference.width; ++x)
          for (int c = 0; c < 3; ++c)
            if (std::abs(reference.At(x, y)[c] - screenshot.At(x, y)[c]) > 8) {
              ++unlike;
              break;
            }
    }
    std::fprintf(stderr, "screenshot %dx%d: %ld pixels unlike the headless run with %s\n",
                 screenshot.width, screenshot.height, unlike,
                 action == "--soft" ? "--light-size 6" : scripted.c_str());
    const long all = static_cast<long>(shotWidth) * shotHeight;
    if (unlike < 0 || unlike > all / 100) ok = false;
  }
  if (action == "--fullscreen") {
    std::fprintf(stderr, "width: windowed %d, fullscreen %d (screen %d), restored %d\n",
                 windowedWidth, fullscreenWidth, screenWidth, restoredWidth);
    if (fullscreenWidth != screenWidth || restoredWidth != windowedWidth) ok = false;
  }
  if (action == "--shadow-keys") {
    std::fprintf(stderr, "S presses shown in the title: %d of 4; V changed %ld pixels\n",
                 modeStep < 4 ? modeStep : 4, differing);
    if (modeStep != 5 || differing < 100) ok = false;
  }
  for (const std::string& title : mappedTitles) {
    std::fprintf(stderr, "mapped with title: \"%s\"\n", title.c_str());
    if (title != "Shadow Volume") ok = false;
  }
  if (mappedTitles.empty()) ok = false;
  bool rateShown = false;
  for (const std::string& title : laterTitles) {
    std::fprintf(stderr, "title changed to: \"%s\"\n", title.c_str());
    rateShown = rateShown || IsNumber(title) || IsRateTitle(title, " - exact shadows") ||
                IsRateTitle(title, " - traced shadows");
  }
  if (!rateShown) ok = false;
  if (!action.empty() && !acted) ok = false;
  if (action == "--close" && !closeSent) ok = false;
  std::fprintf(stderr, "%s\n", ok ? "PASS" : "FAIL");
  XCloseDisplay(display);
  return ok ? 0 : 1;
}
