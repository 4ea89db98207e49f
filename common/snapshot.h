#ifndef SNAPSHOT_H
#define SNAPSHOT_H

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

class Shot;

// Snapshots of the shot for 3-D viewers, in the XML formats of VTK, written
// without the VTK library.
//
// A snapshot is a PolyData file (".vtp"): one point per sphere at its centre
// (the state holds the height of a sphere's lowest point, so the centre is
// one radius higher), a vertex cell per point so that viewers draw them,
// and two point-data arrays: "radius" (one value) and "velocity" (three).
// The simulated time is kept in the field array "TimeValue". Numbers are
// ASCII with 17 significant digits.
//
// A collection file (".pvd") lists the snapshots of a run with their times;
// ParaView opens it as one data set with a time axis.

// Writes one snapshot of n spheres: r and v hold x y z per sphere, z the
// height of the lowest point.
void writeVtp(std::ostream& os, int n, const double* r, const double* v, double radius,
              double time);

// Writes a collection file: one data set per (time, file name) pair, the file
// names relative to the collection file.
void writePvd(std::ostream& os, const std::vector<std::pair<double, std::string>>& entries);

// The snapshots of one run: "<directory>/shot_NNNNNN.vtp" (numbered from 0)
// and the collection "<directory>.pvd" beside the directory, rewritten after
// every snapshot so that it always lists each file written. Every file goes
// through a temporary and a rename (SafeFile), so no file is ever left half
// written. Files of an earlier run in the directory are not removed; the
// collection lists only this run's.
//
// Schedule: a snapshot at the start (write), then one after the first step
// at or past each multiple of the interval (afterStep), and one at the end
// of the run unless the last snapshot has its time (atEnd).
class SnapshotSeries {
 public:
  SnapshotSeries(const Shot& shot, const std::string& directory, double interval);
  SnapshotSeries(const SnapshotSeries&) = delete;
  SnapshotSeries& operator=(const SnapshotSeries&) = delete;

  // Creates the directory when it is missing. False, reported on standard
  // error, when there is no directory to write into.
  bool prepare();
  // Writes a snapshot of the shot at time t and rewrites the collection.
  // False, with "Error writing <file>" on standard error, when a file could
  // not be put in place.
  bool write(double t);
  // The snapshot of the schedule after a step that ended at time t.
  bool afterStep(double t);
  bool atEnd(double t);

  int count() const { return static_cast<int>(entries_.size()); }
  const std::string& collectionFile() const { return collection_; }

 private:
  const Shot& shot_;
  std::string directory_;
  std::string collection_;
  double interval_;
  double due_;  // time from which the next scheduled snapshot is written
  std::vector<std::pair<double, std::string>> entries_;  // time, path in the collection
};

#endif
