// Drives a program's animation window from outside, as a user would, for the
// end-to-end tests: waits for the window with the given title to be shown,
// lets the animation run, optionally saves the window's pixels and checks
// what colours it shows, then presses Escape in it or closes it the way a
// window manager does.
//
// Usage: windowProbe [options] escape|close
//   --title TEXT        window title (default "Real-time Animation v1.0")
//   --timeout SECONDS   how long to wait for the window (default 60)
//   --settle SECONDS    how long to let it run once shown (default 2)
//   --screenshot FILE   write the window's pixels as a binary PPM image
//   --exact R,G,B,MIN   at least MIN pixels of exactly this colour (0..255)
//   --hue H0,H1,S,MIN   at least MIN pixels whose hue lies from H0 to H1
//                       degrees (through 0 when H0 > H1) with a saturation
//                       of at least S (0..1)
// Exit status: 0 on success, 1 when a colour check fails, 2 on any other
// failure (no display, no window, bad arguments).

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

struct ExactCheck {
  Rgb colour;
  long min;
};

struct HueCheck {
  double h0, h1, s;
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
      if (saturation >= h.s && in_range) ++count;
    }
    const bool pass = count >= h.min;
    std::printf("hue %g..%g, saturation >= %g: %ld pixels (at least %ld) %s\n", h.h0, h.h1, h.s,
                count, h.min, pass ? "ok" : "FAILED");
    ok = ok && pass;
  }
  return ok;
}

void pressEscape(Display* d, Window w) {
  XEvent e;
  std::memset(&e, 0, sizeof e);
  e.xkey.display = d;
  e.xkey.window = w;
  e.xkey.root = DefaultRootWindow(d);
  e.xkey.subwindow = None;
  e.xkey.time = CurrentTime;
  e.xkey.x = e.xkey.y = e.xkey.x_root = e.xkey.y_root = 1;
  e.xkey.same_screen = True;
  e.xkey.keycode = XKeysymToKeycode(d, XK_Escape);
  e.type = KeyPress;
  XSendEvent(d, w, True, KeyPressMask, &e);
  e.type = KeyRelease;
  XSendEvent(d, w, True, KeyReleaseMask, &e);
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

int usage() {
  std::fprintf(stderr,
               "usage: windowProbe [--title T] [--timeout S] [--settle S] [--screenshot FILE]\n"
               "                   [--exact R,G,B,MIN]... [--hue H0,H1,S,MIN]... escape|close\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "Real-time Animation v1.0";
  double timeout = 60.0;
  double settle = 2.0;
  const char* screenshot = nullptr;
  std::vector<ExactCheck> exact;
  std::vector<HueCheck> hues;
  std::string action;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    double v[4];
    if (arg == "--title" && has_value) {
      title = argv[++i];
    } else if (arg == "--timeout" && has_value && parseNumbers(argv[i + 1], v, 1)) {
      timeout = v[0];
      ++i;
    } else if (arg == "--settle" && has_value && parseNumbers(argv[i + 1], v, 1)) {
      settle = v[0];
      ++i;
    } else if (arg == "--screenshot" && has_value) {
      screenshot = argv[++i];
    } else if (arg == "--exact" && has_value && parseNumbers(argv[i + 1], v, 4)) {
      exact.push_back({{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2])},
                       static_cast<long>(v[3])});
      ++i;
    } else if (arg == "--hue" && has_value && parseNumbers(argv[i + 1], v, 4)) {
      hues.push_back({v[0], v[1], v[2], static_cast<long>(v[3])});
      ++i;
    } else if ((arg == "escape" || arg == "close") && action.empty()) {
      action = arg;
    } else {
      return usage();
    }
  }
  if (action.empty()) return usage();

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
  std::this_thread::sleep_for(std::chrono::duration<double>(settle));

  int status = 0;
  if (screenshot != nullptr || !exact.empty() || !hues.empty()) {
    std::vector<Rgb> pixels;
    int width = 0, height = 0;
    if (!grab(d, w, pixels, width, height)) {
      std::fprintf(stderr, "windowProbe: cannot read the window's pixels\n");
      status = 2;
    } else {
      std::printf("window %dx%d on the screen\n", width, height);
      if (screenshot != nullptr && !writePpm(screenshot, pixels, width, height)) {
        std::fprintf(stderr, "windowProbe: cannot write %s\n", screenshot);
        status = 2;
      }
      if (!checkColours(pixels, exact, hues) && status == 0) status = 1;
    }
  }

  if (action == "escape") {
    pressEscape(d, w);
  } else {
    closeWindow(d, w);
  }
  XSync(d, False);
  if (g_x_error && status == 0) status = 2;
  XCloseDisplay(d);
  return status;
}
