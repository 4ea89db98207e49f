// The drawable shot: its drawing file and the colour of each sphere.

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "shotFGL.h"
#include "testSupport.h"
#include "windowRig.h"

using testing_support::ScopedTempDir;
using testing_support::writeFile;

namespace {

void writeShotFiles(const char* shotGL) {
  writeFile("ini/shot.ini", "5 1\n0.3 1 0\n0.9 1\n0.001\n");
  writeFile("ini/shotGL.ini", shotGL);
}

// Detail 8, colour height 4, blue-green at the floor, orange at the top,
// grey marker.
const char* const kShotGL =
    "8 detail\n4 height\n0 0.2 1 bottom\n1 0.6 0 top\n0.5 0.5 0.5 marker\n";

void expectColour(const ShotFGL& shot, int i, float r, float g, float b) {
  float rgb[3];
  shot.sphereColour(i, rgb);
  EXPECT_NEAR(rgb[0], r, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[1], g, 1e-6) << "sphere " << i;
  EXPECT_NEAR(rgb[2], b, 1e-6) << "sphere " << i;
}

TEST(ShotWindow, ColourFollowsTheHeightAndSphereZeroIsMarked) {
  ScopedTempDir dir;
  writeShotFiles(kShotGL);
  ShotFGL shot("ini/shot.ini", "ini/shotGL.ini");
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
  expectColour(shot, 0, 0.5f, 0.5f, 0.5f);
  expectColour(shot, 1, 0.0f, 0.2f, 1.0f);
}

TEST(ShotWindowDeathTest, ABadDrawingFileEndsStartUp) {
  ScopedTempDir dir;
  // The marker colour line is missing.
  writeShotFiles("8\n4\n0 0.2 1\n1 0.6 0\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
  // A colour height of 0 gives no colour scale.
  writeShotFiles("8\n0\n0 0.2 1\n1 0.6 0\n0.5 0.5 0.5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
  // Spheres of no detail.
  writeShotFiles("0\n4\n0 0.2 1\n1 0.6 0\n0.5 0.5 0.5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/shotGL.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shotGL.ini");
}

TEST(ShotWindowDeathTest, TheShotFileIsReadFirst) {
  ScopedTempDir dir;
  writeFile("ini/shot.ini", "5\n");
  EXPECT_EXIT(ShotFGL("ini/shot.ini", "ini/missing.ini"), testing::ExitedWithCode(1),
              "Error reading ini/shot.ini");
}

// The window's picture of a layer of 49 spheres, drawn by the shot from its
// prepared meshes and, for comparison, sphere by sphere with the toolkit's
// own solid sphere at the file's detail, in the same colours. Seen from
// near, every sphere is large on the screen and takes the file's detail:
// the two pictures must be the same. Seen from far, the spheres are a few
// pixels across and take coarser meshes: only a few pixels on their
// outlines may change. Needs a display (the window_projection tests).
TEST(ShotWindowOnDisplay, PreparedMeshesDrawTheToolkitsSpheres) {
  if (std::getenv("SHOTSIM_WINDOW_DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  window_test::Rig rig("10 90\n0\n0 0\n");
  writeFile("ini/shot.ini", "49 1\n0.3 1 0\n0.9 1\n0.001\n");
  writeFile("ini/shotGL.ini", "8\n4\n0.1 0.25 0.9\n0.95 0.2 0.1\n1 0.9 0\n");
  ShotFGL shot("ini/shot.ini", "ini/shotGL.ini");
  std::ostringstream layer;
  for (int i = 0; i < 49; ++i) layer << 1.2 * (i % 7 - 3) << " " << 1.2 * (i / 7 - 3) << " " << 0.1 * i << " 0 0 0\n";
  std::istringstream state(layer.str());
  shot.readState(state);
  ASSERT_TRUE(state);

  char name[] = "shotFGLTest";
  char* argv[] = {name, nullptr};
  rig.experiment->initFGL(1, argv);
  rig.experiment->reshapeCallback(800, 800);
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
  for (const View& view : {View{12.0, 0.0}, View{60.0, 0.05}}) {
    const std::vector<unsigned char> ours = picture(view.distance, false);
    const std::vector<unsigned char> theirs = picture(view.distance, true);
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
    std::printf("distance %g: %ld pixels of spheres, %ld changed\n", view.distance, covered, changed);
    EXPECT_GT(covered, 2000) << "distance " << view.distance;
    EXPECT_LE(changed, view.most_changed * covered) << "distance " << view.distance;
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  glutDestroyWindow(glutGetWindow());
}

}  // namespace
