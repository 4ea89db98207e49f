#ifndef INTERFACEFGL_H
#define INTERFACEFGL_H

// An object that can draw itself in the animation window. The drawable shot
// and chambers derive from their simulation class first and from this one
// second; the window reaches their drawing through a cross-cast from the
// simulation reference it holds.
class InterfaceFGL {
 public:
  virtual ~InterfaceFGL() {}
  // Draws the object with OpenGL in the current model coordinates.
  virtual void draw() const = 0;
  // Console counterpart of draw; nothing calls it.
  virtual void console() = 0;
};

#endif
