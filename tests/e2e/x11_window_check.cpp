// Checks shadow_volume's real X11 window, run under Xvfb. This program acts
// as the X server's window manager (it takes SubstructureRedirect on the
// root), so the demo's window is mapped only when this program maps it: the
// title it reads at that moment is the one the window was created with,
// before any frame could change it. It then follows every title change and,
// with --close, closes the window the way a window manager's close button
// does (WM_DELETE_WINDOW) once the first frame-rate title has appeared.
//
// usage: x11_window_check [--close] DEMO ARGS...   (run inside xvfb-run)
// Exit 0 when: every window of the demo showed "Shadow Volume" when mapped,
// a frame-rate title followed, and the demo exited with code 0.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/demo_runner.h"

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

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool closeWindow = argc > 1 && std::strcmp(argv[1], "--close") == 0;
  if (closeWindow) first = 2;
  if (first >= argc) {
    std::fprintf(stderr, "usage: x11_window_check [--close] DEMO ARGS...\n");
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
  pid_t demo = fork();
  if (demo == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    close(ConnectionNumber(display));
    execv(demoPath, demoArgs.data());
    _exit(127);
  }

  std::vector<std::string> mappedTitles;  // titles at map time, per window
  std::vector<std::string> laterTitles;   // every title change afterwards
  Window shown = 0;
  bool closeSent = false;
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
      } else if (event.type == PropertyNotify && event.xproperty.atom == XA_WM_NAME &&
                 event.xproperty.state == PropertyNewValue) {
        std::string title = TitleOf(display, event.xproperty.window);
        if (laterTitles.empty() || laterTitles.back() != title) laterTitles.push_back(title);
        if (closeWindow && !closeSent && IsNumber(title) && event.xproperty.window == shown) {
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
  RemoveScratchFolder(folder);
  std::free(demoPath);

  bool ok = exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::fprintf(stderr, "demo exit: %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  for (const std::string& title : mappedTitles) {
    std::fprintf(stderr, "mapped with title: \"%s\"\n", title.c_str());
    if (title != "Shadow Volume") ok = false;
  }
  if (mappedTitles.empty()) ok = false;
  bool rateShown = false;
  for (const std::string& title : laterTitles) {
    std::fprintf(stderr, "title changed to: \"%s\"\n", title.c_str());
    rateShown = rateShown || IsNumber(title);
  }
  if (!rateShown) ok = false;
  if (closeWindow && !closeSent) ok = false;
  std::fprintf(stderr, "%s\n", ok ? "PASS" : "FAIL");
  XCloseDisplay(display);
  return ok ? 0 : 1;
}
