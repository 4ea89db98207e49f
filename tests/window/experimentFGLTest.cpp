// Window state of ExperimentFGL: camera, speed and keys, driven through the
// input callbacks without a display.

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "testSupport.h"
#include "windowRig.h"

using window_test::Rig;

namespace {

const int kPressed = GLUT_DOWN;
const int kReleased = GLUT_UP;

// Distances 15..45, looking at height 8, turned by 10 degrees, untilted.
ViewDef view(int turn = 10, int tilt = 0) {
  ViewDef v;
  v.nearest = 15.0;
  v.farthest = 45.0;
  v.target_height = 8.0;
  v.turn = turn;
  v.tilt = tilt;
  return v;
}

class ExperimentWindow : public ::testing::TestWithParam<const Program*> {};
using ExperimentWindowDeathTest = ExperimentWindow;
using ExperimentWindowOnDisplay = ExperimentWindow;

TEST_P(ExperimentWindow, StartsFarAtSpeedTenWithTheRunStep) {
  Rig rig(*GetParam(), view());
  const ExperimentFGL& e = rig.experiment;
  EXPECT_EQ(e.distanceMin(), 15.0);
  EXPECT_EQ(e.distanceMax(), 45.0);
  EXPECT_EQ(e.distance(), 45.0);
  EXPECT_EQ(e.zTarget(), 8.0);
  EXPECT_EQ(e.speed(), 10);
  EXPECT_DOUBLE_EQ(e.animationStep(), 0.02);
  EXPECT_EQ(e.phi(), 10);
  EXPECT_EQ(e.theta(), 0);
}

TEST_P(ExperimentWindow, LeftDragTurnsOneDegreePerPixelWithinZeroTo359) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  e.mouseCallback(GLUT_LEFT_BUTTON, kPressed, 0, 0);
  const int x = 0, y = 0;  // the pointer from here on
  e.motionCallback(x, y);
  ASSERT_EQ(e.phi(), 10);
  ASSERT_EQ(e.theta(), 0);
  // 30 pixels to the left from 10 degrees.
  e.motionCallback(x - 30, y);
  EXPECT_EQ(e.phi(), 340);
  EXPECT_EQ(e.theta(), 0);
  // 400 pixels down from 0 degrees.
  e.motionCallback(x - 30, y + 400);
  EXPECT_EQ(e.phi(), 340);
  EXPECT_EQ(e.theta(), 40);
  // Large jumps: 340 + 725 = 1065 -> 345; 40 - 1000 = -960 -> 120.
  e.motionCallback(x - 30 + 725, y + 400 - 1000);
  EXPECT_EQ(e.phi(), 345);
  EXPECT_EQ(e.theta(), 120);
  // Exactly one turn comes back to 0; -1 is 359.
  e.motionCallback(x - 30 + 725 + 15, y + 400 - 1000 - 121);
  EXPECT_EQ(e.phi(), 0);
  EXPECT_EQ(e.theta(), 359);
  EXPECT_EQ(e.distance(), 45.0);  // the left button does not zoom
  // Released: motion does nothing.
  e.mouseCallback(GLUT_LEFT_BUTTON, kReleased, 0, 0);
  e.motionCallback(500, 500);
  EXPECT_EQ(e.phi(), 0);
  EXPECT_EQ(e.theta(), 359);
}

TEST_P(ExperimentWindow, RightDragZoomsWithinTheDistanceLimits) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  const int phi = e.phi(), theta = e.theta();
  e.mouseCallback(GLUT_RIGHT_BUTTON, kPressed, 300, 100);
  e.motionCallback(300, 90);  // up 10: nearer
  EXPECT_EQ(e.distance(), 35.0);
  e.motionCallback(999, 500);  // far down: stops at the farthest
  EXPECT_EQ(e.distance(), 45.0);
  e.motionCallback(0, 0);  // far up: stops at the nearest
  EXPECT_EQ(e.distance(), 15.0);
  // The clamped overshoot is forgotten: 5 pixels down from here is 5 farther.
  e.motionCallback(0, 5);
  EXPECT_EQ(e.distance(), 20.0);
  EXPECT_EQ(e.phi(), phi);  // the right button does not turn
  EXPECT_EQ(e.theta(), theta);
}

TEST_P(ExperimentWindow, WithBothButtonsOnlyTheTurnActsUntilOneIsReleased) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  e.mouseCallback(GLUT_LEFT_BUTTON, kPressed, 0, 0);
  e.mouseCallback(GLUT_RIGHT_BUTTON, kPressed, 0, 0);
  e.motionCallback(0, 0);  // bring the start angles into range
  const int phi = e.phi(), theta = e.theta();
  e.motionCallback(5, 12);
  EXPECT_EQ(e.phi(), (phi + 5) % 360);
  EXPECT_EQ(e.theta(), (theta + 12) % 360);
  EXPECT_EQ(e.distance(), 45.0);
  // Left released, right still held: zoom only.
  e.mouseCallback(GLUT_LEFT_BUTTON, kReleased, 5, 12);
  e.motionCallback(40, 2);
  EXPECT_EQ(e.distance(), 35.0);
  EXPECT_EQ(e.phi(), (phi + 5) % 360);
  EXPECT_EQ(e.theta(), (theta + 12) % 360);
  // Left pressed again, right released: turn only.
  e.mouseCallback(GLUT_LEFT_BUTTON, kPressed, 40, 2);
  e.mouseCallback(GLUT_RIGHT_BUTTON, kReleased, 40, 2);
  e.motionCallback(41, 4);
  EXPECT_EQ(e.distance(), 35.0);
  EXPECT_EQ(e.phi(), (phi + 6) % 360);
  EXPECT_EQ(e.theta(), (theta + 14) % 360);
}

TEST_P(ExperimentWindow, MiddleButtonAndPlainMotionChangeNothing) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  const int phi = e.phi(), theta = e.theta();
  e.motionCallback(100, 100);
  e.mouseCallback(GLUT_MIDDLE_BUTTON, kPressed, 0, 0);
  e.motionCallback(200, 300);
  e.mouseCallback(GLUT_MIDDLE_BUTTON, kReleased, 200, 300);
  EXPECT_EQ(e.phi(), phi);
  EXPECT_EQ(e.theta(), theta);
  EXPECT_EQ(e.distance(), 45.0);
}

TEST_P(ExperimentWindow, ArrowsSetTheSpeedAndTheAnimationStep) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  e.specialCallback(GLUT_KEY_UP, 0, 0);
  EXPECT_EQ(e.speed(), 11);
  EXPECT_NEAR(e.animationStep(), 11 * 0.1 * 0.02, 1e-15);
  for (int i = 0; i < 20; ++i) e.specialCallback(GLUT_KEY_DOWN, 0, 0);
  EXPECT_EQ(e.speed(), 0);
  EXPECT_EQ(e.animationStep(), 0.0);
  e.specialCallback(GLUT_KEY_DOWN, 0, 0);  // at 0 it stays 0
  EXPECT_EQ(e.speed(), 0);
  EXPECT_EQ(e.animationStep(), 0.0);
  for (int i = 0; i < 3; ++i) e.specialCallback(GLUT_KEY_UP, 0, 0);
  EXPECT_EQ(e.speed(), 3);
  EXPECT_NEAR(e.animationStep(), 0.006, 1e-15);
  // Other special keys leave the speed alone.
  e.specialCallback(GLUT_KEY_LEFT, 0, 0);
  e.specialCallback(GLUT_KEY_RIGHT, 0, 0);
  e.specialCallback(GLUT_KEY_F1, 0, 0);
  EXPECT_EQ(e.speed(), 3);
  // No upper bound.
  for (int i = 0; i < 1000; ++i) e.specialCallback(GLUT_KEY_UP, 0, 0);
  EXPECT_EQ(e.speed(), 1003);
  EXPECT_NEAR(e.animationStep(), 1003 * 0.1 * 0.02, 1e-12);
}

TEST_P(ExperimentWindow, SpaceRestartsTheRunAndKeepsCameraAndSpeed) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  e.specialCallback(GLUT_KEY_UP, 0, 0);
  e.mouseCallback(GLUT_RIGHT_BUTTON, kPressed, 0, 0);
  e.motionCallback(0, -7);
  e.mouseCallback(GLUT_RIGHT_BUTTON, kReleased, 0, -7);
  const int phi = e.phi(), theta = e.theta();
  for (int i = 0; i < 60; ++i) e.makeStep(e.animationStep());
  ASSERT_GT(e.eventCount(), 0);
  ASSERT_GT(e.tFull(), 1.0);
  e.keyboardCallback('a', 0, 0);  // any other key: nothing
  EXPECT_GT(e.tFull(), 1.0);
  e.keyboardCallback(' ', 0, 0);
  EXPECT_EQ(e.eventCount(), 0);
  EXPECT_EQ(e.tFull(), 0.0);
  EXPECT_EQ(e.speed(), 11);
  EXPECT_EQ(e.distance(), 38.0);
  EXPECT_EQ(e.phi(), phi);
  EXPECT_EQ(e.theta(), theta);
}

// A tick without time to spare computes one piece of the animation step:
// the step then takes several ticks, and when it is done the bed has moved
// by exactly the animation step; the next tick begins the next step.
// Freezing the speed stops the bed, and space drops the rest of a step.
TEST_P(ExperimentWindow, AStepSpreadOverTicksAdvancesTheBedByTheAnimationStep) {
  Rig rig(*GetParam(), view());
  ExperimentFGL& e = rig.experiment;
  e.setTickBudget(0.0);
  const double step = e.animationStep();
  e.advance();
  EXPECT_GT(e.tFull(), 0.0);
  EXPECT_LT(e.tFull(), step);
  EXPECT_NEAR(e.tFull() + e.stepLeft(), step, 1e-15);
  for (int tick = 0; tick < 1000 && e.stepLeft() > 0.0; ++tick) e.advance();
  EXPECT_EQ(e.stepLeft(), 0.0);
  EXPECT_NEAR(e.tFull(), step, 1e-15);
  e.advance();
  EXPECT_GT(e.tFull(), step);

  for (int i = 0; i < 10; ++i) e.specialCallback(GLUT_KEY_DOWN, 0, 0);
  for (int tick = 0; tick < 1000 && e.stepLeft() > 0.0; ++tick) e.advance();
  const double frozen = e.tFull();
  e.advance();
  EXPECT_EQ(e.tFull(), frozen);

  e.specialCallback(GLUT_KEY_UP, 0, 0);
  e.advance();
  e.keyboardCallback(' ', 0, 0);
  EXPECT_EQ(e.stepLeft(), 0.0);
  EXPECT_EQ(e.tFull(), 0.0);
}

TEST_P(ExperimentWindowDeathTest, EscapeEndsTheProcessWithStatusZero) {
  Rig rig(*GetParam(), view());
  EXPECT_EXIT(rig.experiment.keyboardCallback(27, 0, 0), testing::ExitedWithCode(0), "");
}

TEST_P(ExperimentWindow, AnglesFromTheFileAreKeptAsReadUntilTheFirstLeftDrag) {
  Rig rig(*GetParam(), view(400, -30));
  ExperimentFGL& e = rig.experiment;
  EXPECT_EQ(e.phi(), 400);
  EXPECT_EQ(e.theta(), -30);
  // Zoom and speed leave them alone.
  e.mouseCallback(GLUT_RIGHT_BUTTON, kPressed, 0, 0);
  e.motionCallback(0, -3);
  e.mouseCallback(GLUT_RIGHT_BUTTON, kReleased, 0, -3);
  e.specialCallback(GLUT_KEY_UP, 0, 0);
  EXPECT_EQ(e.phi(), 400);
  EXPECT_EQ(e.theta(), -30);
  // A left drag that does not move still brings them into range.
  e.mouseCallback(GLUT_LEFT_BUTTON, kPressed, 7, 7);
  e.motionCallback(7, 7);
  EXPECT_EQ(e.phi(), 40);
  EXPECT_EQ(e.theta(), 330);
}

// The projection needs a window and its OpenGL context: this test runs under
// a virtual X server (the window_projection tests) and is skipped elsewhere.
TEST_P(ExperimentWindowOnDisplay, AWindowOfHeightZeroKeepsAFiniteProjection) {
  if (std::getenv("SHOTSIM_WINDOW_DISPLAY") == nullptr) GTEST_SKIP() << "needs a display";
  Rig rig(*GetParam(), view());
  char name[] = "experimentFGLTest";
  char* argv[] = {name, nullptr};
  rig.experiment.initFGL(1, argv);
  GLfloat m[16];
  // Element 0 of the frustum matrix is 2 near / (right - left) = 2 / aspect.
  rig.experiment.reshapeCallback(800, 400);
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_FLOAT_EQ(m[0], 1.0f);
  // A minimised window: no division by its height of 0.
  rig.experiment.reshapeCallback(800, 0);
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(m[i])) << "element " << i;
  EXPECT_FLOAT_EQ(m[0], 2.0f);
  EXPECT_FLOAT_EQ(m[5], 2.0f);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  glutDestroyWindow(glutGetWindow());
}

INSTANTIATE_TEST_SUITE_P(Programs, ExperimentWindow, testing_support::everyProgram(),
                         testing_support::programName);
INSTANTIATE_TEST_SUITE_P(Programs, ExperimentWindowDeathTest, testing_support::everyProgram(),
                         testing_support::programName);
INSTANTIATE_TEST_SUITE_P(Programs, ExperimentWindowOnDisplay, testing_support::everyProgram(),
                         testing_support::programName);

}  // namespace
