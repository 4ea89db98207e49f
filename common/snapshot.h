#ifndef SNAPSHOT_H
#define SNAPSHOT_H

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

class Chamber;
class Shot;
struct RunRecord;

// Snapshots of the shot for 3-D viewers, in the XML formats of VTK, written
// without the VTK library.
//
// A snapshot is a PolyData file (".vtp"): one point per sphere at its centre
// (the state holds the height of a sphere's lowest point, so the centre is
// one radius higher), a vertex cell per point so that viewers draw them,
// and two point-data arrays: "radius" (one value) and "velocity" (three).
// Its field data hold the simulated time ("TimeValue"), the base's height
// at that time ("BaseHeight") and the chamber's size ("ChamberHalfWidths"
// of a box or "ChamberRadius" of a cylinder, and "ChamberHeight").
// Beside it, a chamber file draws the chamber at that time: the base at its
// height, the walls and the top as polygons, with the cell array "surface"
// (0 base, 1 wall, 2 top).
//
// Numbers are ASCII with 17 significant digits, or, in the binary encoding,
// the arrays' raw bytes in the file's appended data (each block after a
// 64-bit count of its bytes, in the machine's byte order, which the file
// names); field data stay ASCII in both.
//
// A collection file (".pvd") lists the snapshots of a run with their times;
// ParaView opens it as one data set with a time axis.

// The chamber as a viewer draws it around the spheres. Heights count from
// the base's mean position, as the spheres' do.
struct ChamberOutline {
  enum class Shape { kBox, kCylinder };
  Shape shape = Shape::kBox;
  double half_x = 0.0;   // box: half inner width along x; cylinder: the radius
  double half_y = 0.0;   // box: half inner width along y; cylinder: the radius
  double height = 0.0;   // the top's height
  bool has_top = true;   // false: a chamber too low for one sphere has no top
};

enum class VtkEncoding { kAscii, kBinary };

// Writes one snapshot of n spheres: r and v hold x y z per sphere, z the
// height of the lowest point.
void writeShotVtp(std::ostream& os, int n, const double* r, const double* v, double radius,
                  double time, double base_height, const ChamberOutline& outline,
                  VtkEncoding encoding);

// Writes the chamber with its base at base_height.
void writeChamberVtp(std::ostream& os, const ChamberOutline& outline, double base_height,
                     double time, VtkEncoding encoding);

// Writes a collection file: one data set per (time, file name) pair, the file
// names relative to the collection file.
void writePvd(std::ostream& os, const std::vector<std::pair<double, std::string>>& entries);

// The snapshots of one run: "<directory>/shot_NNNNNN.vtp" (numbered from 0)
// with the collection "<directory>.pvd" beside the directory, and
// "<directory>/chamber_NNNNNN.vtp" with the collection "chamber.pvd" beside
// it; both collections are rewritten after every snapshot so that they
// always list each file written. Every file goes through a temporary and a
// rename (SafeFile), so no file is ever left half written. Files of an
// earlier run in the directory are not removed; the collections list only
// this run's.
//
// Schedule: a snapshot at the start (write), then one after the first step
// at or past each multiple of the interval (afterStep), and one at the end
// of the run unless the last snapshot has its time (atEnd). A run record
// keeps the schedule without the snapshot at the end, which a continued run
// does not have: it writes its next snapshot in that one's place.
class SnapshotSeries {
 public:
  SnapshotSeries(const Shot& shot, const Chamber& chamber, const ChamberOutline& outline,
                 const std::string& directory, double interval, VtkEncoding encoding);
  SnapshotSeries(const SnapshotSeries&) = delete;
  SnapshotSeries& operator=(const SnapshotSeries&) = delete;

  // Creates the directory when it is missing. False, reported on standard
  // error, when there is no directory to write into.
  bool prepare();
  // prepare() for a directory of that name, before any series exists (the
  // batch program checks it before it touches a file).
  static bool makeDirectory(const std::string& directory);
  // Writes a snapshot of the shot and the chamber at time t and rewrites the
  // collections. False, with "Error writing <file>" on standard error, when
  // a file could not be put in place.
  bool write(double t);
  // The snapshot of the schedule after a step that ended at time t.
  bool afterStep(double t);
  bool atEnd(double t);

  // The schedule for a run record, and back (after prepare).
  void capture(RunRecord& record) const;
  void resume(const RunRecord& record);

  int count() const { return static_cast<int>(shots_.size()); }
  const std::string& collectionFile() const { return collection_; }

 private:
  // Writes a file through SafeFile; reports a failure.
  template <class Write>
  static bool writeFile(const std::string& path, Write write);
  // The names of the index-th snapshot and chamber file.
  static std::string shotName(int index);
  static std::string chamberName(int index);

  const Shot& shot_;
  const Chamber& chamber_;
  ChamberOutline outline_;
  std::string directory_;
  std::string collection_;          // "<directory>.pvd"
  std::string chamber_collection_;  // "chamber.pvd" beside it
  double interval_;
  VtkEncoding encoding_;
  double due_;  // time from which the next scheduled snapshot is written
  std::size_t scheduled_;  // snapshots written on the schedule (all but one at the end)
  std::vector<std::pair<double, std::string>> shots_;     // time, path in the collection
  std::vector<std::pair<double, std::string>> chambers_;  // time, path in its collection
};

#endif
