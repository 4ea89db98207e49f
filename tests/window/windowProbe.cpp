// Drives a program's animation window from outside, as a user would, for the
// end-to-end tests: waits for the window with the given title to be shown,
// checks where it stands and how large it is, lets the animation run,
// optionally saves the window's pixels and checks what colours it shows, then
// carries out the steps given, in order.
//
// Usage: windowProbe [options] [step]...
//   --title TEXT        window title (default "Real-time Animation v1.0")
//   --timeout SECONDS   how long to wait for the window (default 60)
//   --settle SECONDS    how long to let it run once shown (default 0)
//   --size W,H          the window must be W by H pixels
//   --position X,Y      its upper left corner must stand at X,Y on the screen
//   --screenshot FILE   write the window's pixels as a binary PPM image
//   --exact R,G,B,MIN   at least MIN pixels of exactly this colour (0..255)
//   --hue H0,H1,S0,S1,MIN
//                       at least MIN pixels whose hue lies from H0 to H1
//                       degrees (through 0 when H0 > H1) and whose
//                       saturation lies from S0 to S1 (0..1)
// Steps:
//   key:NAME[:COUNT]    press and release a key (an X keysym name: Up, Down,
//                       space, ...) COUNT times
//   drag:left|right:DX:DY
//                       press the button in the middle of the window, move
//                       the pointer by DX, DY pixels, release it
//   wait:SECONDS        let the program run
//   same                the window shows the same pixels twice, one second
//                       apart, within ten seconds
//   differs             the window's pixels differ from the last ones read,
//                       within ten seconds
//   escape, close       press Escape, or close the window the way a window
//                       manager does
// Exit status: 0 on success, 1 when a check fails, 2 on any other failure
// (no display, no window, bad arguments).

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Set by the error handler: an X request failed (the probe goes on, so that
// the program still gets its Escape or close).
bool g_x_error = false;

int onXError(Display* d, XErrorEvent* e) {
  char text[256];
  XGetErrorText(d, e->error_code, text, sizeof text);
  std::fprintf(stderr, "windowProbe: X error: %s (request %d)\n", text, e->request_code);
  g_x_error = true;
  return 0;
}

struct Rgb {
  int r, g, b;
};

bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

struct ExactCheck {
  Rgb colour;
  long min;
};

struct HueCheck {
  double h0, h1, s0, s1;
  long min;
};

// Depth-first search below w for a viewable window with this name.
Window findWindow(Display* d, Window w, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name != nullptr) {
    const bool match = title == name;
    XFree(name);
    XWindowAttributes a;
    if (match && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable) return w;
  }
  Window root, parent;
  Window* children = nullptr;
  unsigned n = 0;
  Window found = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &n)) {
    for (unsigned i = 0; i < n && found == 0; ++i) found = findWindow(d, children[i], title);
    if (children != nullptr) XFree(children);
  }
  return found;
}

// Position of the lowest set bit of a colour mask and the mask's maximum.
void maskShape(unsigned long mask, int& shift, unsigned long& max) {
  shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  max = mask;
}

// The window's pixels as they are on the screen: read from the root window,
// since a window that reaches past the screen's edge (a toolkit may place it
// at -1, -1 when no window manager does) cannot be read on its own. Only the
// part on the screen is read.
bool grab(Display* d, Window w, std::vector<Rgb>& pixels, int& width, int& height) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a)) return false;
  const Window root = DefaultRootWindow(d);
  int x = 0, y = 0;
  Window child;
  if (!XTranslateCoordinates(d, w, root, 0, 0, &x, &y, &child)) return false;
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = std::min(x + a.width, DisplayWidth(d, DefaultScreen(d)));
  const int y1 = std::min(y + a.height, DisplayHeight(d, DefaultScreen(d)));
  if (x1 <= x0 || y1 <= y0) return false;
  width = x1 - x0;
  height = y1 - y0;
  XImage* image = XGetImage(d, root, x0, y0, width, height, AllPlanes, ZPixmap);
  if (image == nullptr || g_x_error) {
    if (image != nullptr) XDestroyImage(image);
    return false;
  }
  int rs, gs, bs;
  unsigned long rm, gm, bm;
  maskShape(image->red_mask, rs, rm);
  maskShape(image->green_mask, gs, gm);
  maskShape(image->blue_mask, bs, bm);
  if (rm == 0 || gm == 0 || bm == 0) {
    XDestroyImage(image);
    return false;
  }
  pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      Rgb& c = pixels[static_cast<size_t>(y) * width + x];
      c.r = static_cast<int>(((p >> rs) & rm) * 255 / rm);
      c.g = static_cast<int>(((p >> gs) & gm) * 255 / gm);
      c.b = static_cast<int>(((p >> bs) & bm) * 255 / bm);
    }
  }
  XDestroyImage(image);
  return true;
}

bool writePpm(const char* file, const std::vector<Rgb>& pixels, int width, int height) {
  FILE* f = std::fopen(file, "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", width, height);
  for (const Rgb& c : pixels) {
    const unsigned char rgb[3] = {static_cast<unsigned char>(c.r), static_cast<unsigned char>(c.g),
                                  static_cast<unsigned char>(c.b)};
    std::fwrite(rgb, 1, 3, f);
  }
  return std::fclose(f) == 0;
}

// Hue in degrees (0..360) and saturation (0..1) of a colour.
void hueSaturation(const Rgb& c, double& hue, double& saturation) {
  const int max = std::max({c.r, c.g, c.b});
  const int min = std::min({c.r, c.g, c.b});
  const double delta = max - min;
  saturation = max > 0 ? delta / max : 0.0;
  if (delta == 0.0) {
    hue = 0.0;
  } else if (max == c.r) {
    hue = 60.0 * std::fmod((c.g - c.b) / delta + 6.0, 6.0);
  } else if (max == c.g) {
    hue = 60.0 * ((c.b - c.r) / delta + 2.0);
  } else {
    hue = 60.0 * ((c.r - c.g) / delta + 4.0);
  }
}

bool checkColours(const std::vector<Rgb>& pixels, const std::vector<ExactCheck>& exact,
                  const std::vector<HueCheck>& hues) {
  bool ok = true;
  for (const ExactCheck& e : exact) {
    long count = 0;
    for (const Rgb& c : pixels) {
      if (c.r == e.colour.r && c.g == e.colour.g && c.b == e.colour.b) ++count;
    }
    const bool pass = count >= e.min;
    std::printf("colour %d,%d,%d: %ld pixels (at least %ld) %s\n", e.colour.r, e.colour.g,
                e.colour.b, count, e.min, pass ? "ok" : "FAILED");
    ok = ok && pass;
  }
  for (const HueCheck& h : hues) {
    long count = 0;
    for (const Rgb& c : pixels) {
      double hue, saturation;
      hueSaturation(c, hue, saturation);
      const bool in_range = h.h0 <= h.h1 ? hue >= h.h0 && hue <= h.h1 : hue >= h.h0 || hue <= h.h1;
      if (saturation >= h.s0 && saturation <= h.s1 && in_range) ++count;
    }
    const bool pass = count >= h.min;
    std::printf("hue %g..%g, saturation %g..%g: %ld pixels (at least %ld) %s\n", h.h0, h.h1,
                h.s0, h.s1, count, h.min, pass ? "ok" : "FAILED");
    ok = ok && pass;
  }
  return ok;
}

void pressKey(Display* d, Window w, KeySym key) {
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xkey.display = d;
  e.xkey.window = w;
  e.xkey.root = DefaultRootWindow(d);
  e.xkey.subwindow = None;
  e.xkey.time = CurrentTime;
  e.xkey.x = e.xkey.y = e.xkey.x_root = e.xkey.y_root = 1;
  e.xkey.same_screen = True;
  e.xkey.keycode = XKeysymToKeycode(d, key);
  e.type = KeyPress;
  XSendEvent(d, w, True, KeyPressMask, &e);
  e.type = KeyRelease;
  XSendEvent(d, w, True, KeyReleaseMask, &e);
  XFlush(d);
}

// A press of the button in the middle of the window, a move by dx, dy in ten
// steps with the button held, and the release.
void dragPointer(Display* d, Window w, int button, int dx, int dy) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(d, w, &a)) return;
  const unsigned int held = button == Button1 ? Button1Mask : Button3Mask;
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xbutton.display = d;
  e.xbutton.window = w;
  e.xbutton.root = DefaultRootWindow(d);
  e.xbutton.time = CurrentTime;
  e.xbutton.x = a.width / 2;
  e.xbutton.y = a.height / 2;
  e.xbutton.same_screen = True;
  e.xbutton.button = static_cast<unsigned int>(button);
  e.type = ButtonPress;
  XSendEvent(d, w, True, ButtonPressMask, &e);
  for (int i = 1; i <= 10; ++i) {
    XEvent m;
    std::memset(&m, 0, sizeof m);
    m.xmotion.type = MotionNotify;
    m.xmotion.display = d;
    m.xmotion.window = w;
    m.xmotion.root = DefaultRootWindow(d);
    m.xmotion.time = CurrentTime;
    m.xmotion.x = a.width / 2 + dx * i / 10;
    m.xmotion.y = a.height / 2 + dy * i / 10;
    m.xmotion.state = held;
    m.xmotion.same_screen = True;
    XSendEvent(d, w, True, PointerMotionMask | ButtonMotionMask, &m);
  }
  e.type = ButtonRelease;
  e.xbutton.x = a.width / 2 + dx;
  e.xbutton.y = a.height / 2 + dy;
  e.xbutton.state = held;
  XSendEvent(d, w, True, ButtonReleaseMask, &e);
  XFlush(d);
}

// What a window manager sends when the user closes the window.
void closeWindow(Display* d, Window w) {
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, w, False, NoEventMask, &e);
  XFlush(d);
}

bool parseNumbers(const char* text, double* out, int count) {
  const char* p = text;
  for (int i = 0; i < count; ++i) {
    char* end = nullptr;
    out[i] = std::strtod(p, &end);
    if (end == p) return false;
    p = end;
    if (i + 1 < count) {
      if (*p != ',') return false;
      ++p;
    }
  }
  return *p == '\0';
}

struct Step {
  enum Kind { kKey, kDrag, kWait, kSame, kDiffers, kEscape, kClose } kind = kWait;
  KeySym key = NoSymbol;
  int count = 1;
  int button = Button1;
  int dx = 0, dy = 0;
  double seconds = 0.0;
};

bool parseInt(const std::string& text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') return false;
  value = static_cast<int>(v);
  return true;
}

bool parseStep(const std::string& text, Step& step) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (size_t colon; (colon = text.find(':', begin)) != std::string::npos; begin = colon + 1) {
    parts.push_back(text.substr(begin, colon - begin));
  }
  parts.push_back(text.substr(begin));
  const std::string& word = parts[0];
  if (word == "key" && (parts.size() == 2 || parts.size() == 3)) {
    step.kind = Step::kKey;
    step.key = XStringToKeysym(parts[1].c_str());
    return step.key != NoSymbol && (parts.size() == 2 || (parseInt(parts[2], step.count) && step.count > 0));
  }
  if (word == "drag" && parts.size() == 4 && (parts[1] == "left" || parts[1] == "right")) {
    step.kind = Step::kDrag;
    step.button = parts[1] == "left" ? Button1 : Button3;
    return parseInt(parts[2], step.dx) && parseInt(parts[3], step.dy);
  }
  if (word == "wait" && parts.size() == 2) {
    step.kind = Step::kWait;
    return parseNumbers(parts[1].c_str(), &step.seconds, 1) && step.seconds >= 0.0;
  }
  if (parts.size() != 1) return false;
  if (word == "same") {
    step.kind = Step::kSame;
  } else if (word == "differs") {
    step.kind = Step::kDiffers;
  } else if (word == "escape") {
    step.kind = Step::kEscape;
  } else if (word == "close") {
    step.kind = Step::kClose;
  } else {
    return false;
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: windowProbe [--title T] [--timeout S] [--settle S] [--size W,H]\n"
               "                   [--position X,Y] [--screenshot FILE] [--exact R,G,B,MIN]...\n"
               "                   [--hue H0,H1,S0,S1,MIN]... [STEP]...\n"
               "steps: key:NAME[:COUNT] drag:left|right:DX:DY wait:S same differs escape close\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Real-time Animation v1.0";
  double timeout = 60.0;
  double settle = 0.0;
  int size[2] = {0, 0};
  int position[2] = {0, 0};
  bool check_size = false, check_position = false;
  const char* screenshot = nullptr;
  std::vector<ExactCheck> exact;
  std::vector<HueCheck> hues;
  std::vector<Step> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    double v[5];
    if (arg == "--title" && has_value) {
      title = argv[++i];
    } else if (arg == "--timeout" && has_value && parseNumbers(argv[i + 1], v, 1)) {
      timeout = v[0];
      ++i;
    } else if (arg == "--settle" && has_value && parseNumbers(argv[i + 1], v, 1)) {
      settle = v[0];
      ++i;
    } else if (arg == "--size" && has_value && parseNumbers(argv[i + 1], v, 2)) {
      size[0] = static_cast<int>(v[0]);
      size[1] = static_cast<int>(v[1]);
      check_size = true;
      ++i;
    } else if (arg == "--position" && has_value && parseNumbers(argv[i + 1], v, 2)) {
      position[0] = static_cast<int>(v[0]);
      position[1] = static_cast<int>(v[1]);
      check_position = true;
      ++i;
    } else if (arg == "--screenshot" && has_value) {
      screenshot = argv[++i];
    } else if (arg == "--exact" && has_value && parseNumbers(argv[i + 1], v, 4)) {
      exact.push_back({{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2])},
                       static_cast<long>(v[3])});
      ++i;
    } else if (arg == "--hue" && has_value && parseNumbers(argv[i + 1], v, 5)) {
      hues.push_back({v[0], v[1], v[2], v[3], static_cast<long>(v[4])});
      ++i;
    } else {
      Step step;
      if (!parseStep(arg, step)) return usage();
      steps.push_back(step);
    }
  }

  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "windowProbe: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(onXError);
  const auto start = std::chrono::steady_clock::now();
  Window w = 0;
  while ((w = findWindow(d, DefaultRootWindow(d), title)) == 0) {
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    if (waited.count() > timeout) {
      std::fprintf(stderr, "windowProbe: no window \"%s\" after %g s\n", title.c_str(), timeout);
      XCloseDisplay(d);
      return 2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  int status = 0;
  auto fail = [&status](int s) {
    if (status == 0) status = s;
  };
  {
    // With no window manager the window stands where the program put it.
    XWindowAttributes a;
    int x = 0, y = 0;
    Window child;
    if (!XGetWindowAttributes(d, w, &a) ||
        !XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child)) {
      std::fprintf(stderr, "windowProbe: cannot read the window's geometry\n");
      fail(2);
    } else {
      const bool size_ok = !check_size || (a.width == size[0] && a.height == size[1]);
      const bool position_ok = !check_position || (x == position[0] && y == position[1]);
      std::printf("window \"%s\": %dx%d at %d,%d %s\n", title.c_str(), a.width, a.height, x, y,
                  size_ok && position_ok ? "ok" : "FAILED");
      if (!size_ok || !position_ok) fail(1);
    }
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(settle));

  std::vector<Rgb> last;
  int width = 0, height = 0;
  auto read = [&](std::vector<Rgb>& pixels) {
    if (grab(d, w, pixels, width, height)) return true;
    std::fprintf(stderr, "windowProbe: cannot read the window's pixels\n");
    fail(2);
    return false;
  };
  if (screenshot != nullptr || !exact.empty() || !hues.empty()) {
    if (read(last)) {
      std::printf("window %dx%d on the screen\n", width, height);
      if (screenshot != nullptr && !writePpm(screenshot, last, width, height)) {
        std::fprintf(stderr, "windowProbe: cannot write %s\n", screenshot);
        fail(2);
      }
      if (!checkColours(last, exact, hues)) fail(1);
    }
  }

  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::kKey:
        for (int i = 0; i < step.count; ++i) pressKey(d, w, step.key);
        break;
      case Step::kDrag:
        dragPointer(d, w, step.button, step.dx, step.dy);
        break;
      case Step::kWait:
        std::this_thread::sleep_for(std::chrono::duration<double>(step.seconds));
        break;
      case Step::kSame: {
        // A loaded machine may still be working through the keys it was
        // sent: the picture must come to rest, within ten seconds.
        std::vector<Rgb> first;
        bool same = false;
        for (int i = 0; i < 10 && !same && read(first); ++i) {
          std::this_thread::sleep_for(std::chrono::seconds(1));
          if (!read(last)) break;
          same = first == last;
        }
        std::printf("same pixels one second apart: %s\n", same ? "ok" : "FAILED");
        if (!same) fail(1);
        break;
      }
      case Step::kDiffers: {
        // A slow machine may take a while to draw the next frame.
        std::vector<Rgb> now;
        bool differs = false;
        for (int i = 0; i < 50 && !differs && read(now); ++i) {
          differs = last.empty() || now != last;
          if (!differs) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::printf("pixels changed since last read: %s\n", differs ? "ok" : "FAILED");
        if (!differs) fail(1);
        last.swap(now);
        break;
      }
      case Step::kEscape:
        pressKey(d, w, XK_Escape);
        break;
      case Step::kClose:
        closeWindow(d, w);
        break;
    }
  }
  XSync(d, False);
  if (g_x_error) fail(2);
  XCloseDisplay(d);
  return status;
}
