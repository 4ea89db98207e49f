#ifndef SPHEREMESHFGL_H
#define SPHEREMESHFGL_H

#include <vector>

// One solid sphere prepared once and drawn many times: the mesh of the
// window toolkit's solid sphere (the same vertices and normals, the
// triangles of its strips turned the same way, so the same pixels) as one
// list of triangles, compiled into an OpenGL display list the first time it
// is drawn. Drawing a sphere is then one list call instead of building and
// sending the mesh again. Nothing beyond OpenGL 1.1 is used, so software
// renderers draw it too.
//
// The mesh has `stacks` bands between the poles and `slices` sectors around
// the z axis; it is centred on the origin. The toolkit numbers its
// slices * (stacks - 1) + 2 vertices in 16 bits, which is why the detail of
// a drawn sphere is bounded (ShotDrawDef::kMaxDetail).
class SphereMeshFGL {
 public:
  // Lays out the mesh (no OpenGL call): stacks >= 2, slices >= 3.
  SphereMeshFGL(double radius, int slices, int stacks);
  SphereMeshFGL(const SphereMeshFGL&) = delete;
  SphereMeshFGL& operator=(const SphereMeshFGL&) = delete;

  // Draws the sphere at the origin of the current model coordinates. The
  // first call compiles the display list in the current context, which must
  // be the window's for as long as the mesh is drawn (the list lives as long
  // as that context: the process).
  void draw() const;

  int vertexCount() const { return static_cast<int>(vertices_.size() / 3); }

 private:
  void compile() const;

  std::vector<float> vertices_;  // x, y, z per vertex
  std::vector<float> normals_;   // unit normal per vertex
  std::vector<unsigned> triangles_;  // three vertex numbers per triangle
  mutable unsigned list_;  // the display list, 0 until compiled
};

#endif
