#include "sphereMeshFGL.h"

#include <GL/gl.h>

#include <cmath>
#include <utility>

namespace {

const double kPi = 3.14159265358979323846;

// sin and cos of n steps of `angle` round a circle, in single precision as
// the toolkit computes them (the angle is a float, each value a double
// rounded to float), so that the vertices come out bit for bit the same.
void circleTable(float angle, int n, std::vector<float>& sin_table, std::vector<float>& cos_table) {
  sin_table.assign(n + 1, 0.0f);
  cos_table.assign(n + 1, 1.0f);
  for (int i = 1; i < n; ++i) {
    const double a = static_cast<double>(angle * static_cast<float>(i));
    sin_table[i] = static_cast<float>(std::sin(a));
    cos_table[i] = static_cast<float>(std::cos(a));
  }
}

}  // namespace

SphereMeshFGL::SphereMeshFGL(double radius, int slices, int stacks)
    : list_(0) {
  const float pi = static_cast<float>(kPi);
  const float r = static_cast<float>(radius);
  // Round the axis clockwise seen from above, from the pole down.
  std::vector<float> sin1, cos1, sin2, cos2;
  circleTable(2.0f * pi / static_cast<float>(-slices), slices, sin1, cos1);
  circleTable(pi / static_cast<float>(stacks), stacks, sin2, cos2);

  // The top pole, the rings of stacks 1 .. stacks - 1, the bottom pole.
  const int count = slices * (stacks - 1) + 2;
  vertices_.reserve(3 * count);
  normals_.reserve(3 * count);
  auto add = [this, r](float x, float y, float z) {
    vertices_.insert(vertices_.end(), {x * r, y * r, z * r});
    normals_.insert(normals_.end(), {x, y, z});
  };
  add(0.0f, 0.0f, 1.0f);
  for (int i = 1; i < stacks; ++i) {
    for (int j = 0; j < slices; ++j) add(cos1[j] * sin2[i], sin1[j] * sin2[i], cos2[i]);
  }
  add(0.0f, 0.0f, -1.0f);

  // A strip per stack, each closed by repeating its first pair: the top
  // fan, the bands between two rings, the bottom fan.
  const unsigned n = static_cast<unsigned>(slices);
  const unsigned bottom = static_cast<unsigned>(count - 1);
  const int strip_length = (slices + 1) * 2;
  std::vector<unsigned> strips;
  strips.reserve(static_cast<size_t>(strip_length) * stacks);
  for (unsigned j = 0; j <= n; ++j) strips.insert(strips.end(), {1 + j % n, 0});
  for (unsigned i = 0; i + 2 < static_cast<unsigned>(stacks); ++i) {
    const unsigned ring = 1 + i * n;
    for (unsigned j = 0; j <= n; ++j) strips.insert(strips.end(), {ring + n + j % n, ring + j % n});
  }
  const unsigned last_ring = 1 + (static_cast<unsigned>(stacks) - 2) * n;
  for (unsigned j = 0; j <= n; ++j) strips.insert(strips.end(), {bottom, last_ring + j % n});

  // The strips' triangles, each turned as the strip turns it (every second
  // one of a strip has its first two corners swapped); those with two
  // corners alike cover no pixel and are left out. One list of triangles is
  // one draw per sphere instead of one per stack.
  for (size_t first = 0; first < strips.size(); first += strip_length) {
    for (int t = 0; t + 2 < strip_length; ++t) {
      unsigned a = strips[first + t], b = strips[first + t + 1];
      const unsigned c = strips[first + t + 2];
      if (a == b || b == c || a == c) continue;
      if (t % 2 == 1) std::swap(a, b);
      triangles_.insert(triangles_.end(), {a, b, c});
    }
  }
}

void SphereMeshFGL::draw() const {
  if (list_ == 0) compile();
  glCallList(list_);
}

void SphereMeshFGL::compile() const {
  list_ = glGenLists(1);
  glNewList(list_, GL_COMPILE);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, vertices_.data());
  glNormalPointer(GL_FLOAT, 0, normals_.data());
  // The arrays are read now and copied into the list; the client state is
  // not part of the list (the window draws no other vertex arrays).
  glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(triangles_.size()), GL_UNSIGNED_INT,
                 triangles_.data());
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glEndList();
}
