// The drawable shot and cylinder: the colour of each sphere, the height of
// the drawn wall, and (with a display) the picture of the sphere meshes.

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cylinderFGL.h"
#include "program.h"
#include "shotFGL.h"
#include "testSupport.h"
#include "windowRig.h"

using testing_support::ScopedTempDir;

namespace {

void expectColour(const ShotFGL& shot, int i, float r, float g, float b) {
  float rgb[3];
  shot.sphereColour(i, rgb);
  EXPECT_NEAR(rgb[0], r, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[1], g, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[2], b, 1e-6) << "sphere " << i;
}

TEST(ShotWindow, ColourFollowsTheHeightAndSphereZeroIsMarked) {
  ScopedTempDir dir;  // the shot writes its state file there
  ShotDef def;
  def.count = 5;
  // Detail 8, colour height 4, blue-green at the floor, orange at the top,
  // grey marker.
  const ShotDrawDef draw{8, 4.0, {0, 0.2, 1}, {1, 0.6, 0}, {0.5, 0.5, 0.5}};
  ShotFGL shot(def, draw);
  EXPECT_EQ(shot.detail(), 8);
  EXPECT_EQ(shot.slices(), 16);
  // Heights: 9 (the marked sphere, above the scale), half the colour
  // height, exactly the colour height, above it, and below the floor.
  std::istringstream state(
      "0 0 9 0 0 0\n"
      "1 0 2 0 0 0\n"
      "2 0 4 0 0 0\n"
      "3 0 10 0 0 0\n"
      "-1 0 -2 0 0 0\n");
  testing::internal::CaptureStdout();
  shot.readState(state);
  ASSERT_TRUE(state);
  expectColour(shot, 0, 0.5f, 0.5f, 0.5f);
  expectColour(shot, 1, 0.5f, 0.4f, 0.5f);
  expectColour(shot, 2, 1.0f, 0.6f, 0.0f);
  expectColour(shot, 3, 1.0f, 0.6f, 0.0f);
  // No clamp below the floor: the line goes on past the bottom colour.
  expectColour(shot, 4, -0.5f, 0.0f, 1.5f);

  // The marker goes with sphere 0 wherever it is.
  std::istringstream low("0 0 0 0 0 0\n1 0 0 0 0 0\n2 0 0 0 0 0\n3 0 0 0 0 0\n4 0 0 0 0 0\n");
  shot.readState(low);
  testing::internal::GetCapturedStdout();
  expectColour(shot, 0, 0.5f, 0.5f, 0.5f);
  expectColour(shot, 1, 0.0f, 0.2f, 1.0f);
}

// A closed cylinder is drawn to its inner height whatever the bands; an
// open one (no top) has bands a fifth of the radius high.
TEST(CylinderWindow, TheDrawnWallReachesTheTopOrFiveBandsPerRadius) {
  ScopedTempDir dir;  // the cylinder writes its histograms there
  struct Case {
    double radius, height;
    int bands;
    double wall;
  };
  const Case cases[] = {{5.5, 20, 1, 20.0}, {5.5, 20, 3, 20.0}, {5.5, 20, 7, 20.0},
                        {5.5, 20, 20, 20.0}, {5, 0, 3, 3.0}};
  for (const Case& c : cases) {
    CylinderDef def;
    def.radius = c.radius;
    def.chamber.height = c.height;
    def.chamber.maps = 0;
    CylinderDrawDef draw;
    draw.facets = 16;
    draw.bands = c.bands;
    testing::internal::CaptureStdout();
    {
      CylinderFGL cylinder(def, draw);
      EXPECT_NEAR(cylinder.wallHeight(), c.wall, 1e-12) << c.bands << " bands";
      EXPECT_EQ(cylinder.detail(), 16);
    }
    testing::internal::GetCapturedStdout();
  }
}

// The window's picture of a layer of 49 spheres, drawn by the shot from its
// prepared meshes and, for comparison, sphere by sphere with the toolkit's
// own solid sphere at the file's detail, in the same colours. Seen from
// near, every sphere is large on the screen and takes the file's detail:
// the two pictures must be the same. Seen from far, the spheres are a few
// pixels across and take coarser meshes: only a few pixels on their
// outlines may change. Needs a display (the window_sphere_meshes test).
TEST(ShotWindowOnDisplay, PreparedMeshesDrawTheToolkitsSpheres) {
  if (std::getenv("SHOTSIM_WINDOW_DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  ViewDef view;
  view.nearest = 10.0;
  view.farthest = 90.0;
  view.target_height = 0.0;
  window_test::Rig rig(cratesim(), view);
  ShotDef def;
  def.count = 49;
  def.packing = 0.3;
  const ShotDrawDef draw{8, 4.0, {0.1, 0.25, 0.9}, {0.95, 0.2, 0.1}, {1, 0.9, 0}};
  ShotFGL shot(def, draw);
  std::ostringstream layer;
  for (int i = 0; i < 49; ++i) layer << 1.2 * (i % 7 - 3) << " " << 1.2 * (i / 7 - 3) << " " << 0.1 * i << " 0 0 0\n";
  std::istringstream state(layer.str());
  testing::internal::CaptureStdout();
  shot.readState(state);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(state);

  char name[] = "drawingTest";
  char* argv[] = {name, nullptr};
  rig.experiment.initFGL(1, argv);
  rig.experiment.reshapeCallback(800, 800);
  auto picture = [&](double distance, bool toolkit) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    gluLookAt(distance, 0.0, 0.4 * distance, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0);
    if (toolkit) {
      for (int i = 0; i < shot.n(); ++i) {
        float rgb[3];
        shot.sphereColour(i, rgb);
        glColor4f(rgb[0], rgb[1], rgb[2], 1.0f);
        const double* r = shot.r_chunk() + 3 * i;
        glPushMatrix();
        glTranslatef(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2] + 0.5));
        glutSolidSphere(0.5, shot.slices(), shot.detail());
        glPopMatrix();
      }
    } else {
      shot.draw();
    }
    std::vector<unsigned char> pixels(800 * 800 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 800, 800, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
  };
  struct View {
    double distance;
    double most_changed;  // share of the spheres' pixels that may differ by more than 32
  };
  for (const View& seen : {View{12.0, 0.0}, View{60.0, 0.05}}) {
    const std::vector<unsigned char> ours = picture(seen.distance, false);
    const std::vector<unsigned char> theirs = picture(seen.distance, true);
    long covered = 0, changed = 0;
    for (size_t p = 0; p < ours.size(); p += 3) {
      const bool background = theirs[p] == 204 && theirs[p + 1] == 204 && theirs[p + 2] == 204;
      if (!background) ++covered;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(ours[p + c] - theirs[p + c]) > 32) {
          ++changed;
          break;
        }
      }
    }
    std::printf("distance %g: %ld pixels of spheres, %ld changed\n", seen.distance, covered, changed);
    EXPECT_GT(covered, 2000) << "distance " << seen.distance;
    EXPECT_LE(changed, seen.most_changed * covered) << "distance " << seen.distance;
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  glutDestroyWindow(glutGetWindow());
}

}  // namespace
