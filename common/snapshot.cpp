#include "snapshot.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <ostream>

#include "chamber.h"
#include "runRecord.h"
#include "safeFile.h"
#include "shot.h"

namespace {

// A double with the 17 significant digits that carry it exactly.
void put(std::ostream& os, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  os << text;
}

// Attribute text: the characters XML gives a meaning are escaped.
std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A path without trailing slashes.
std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The last component of a path without trailing slashes.
std::string baseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A data array of a PolyData file: count values (tuples times components),
// each given by a function of its index, so that the shot's arrays are
// written without a copy.
struct DataArray {
  std::string name;
  int components = 1;
  std::size_t count = 0;
  std::function<double(std::size_t)> real;           // a Float64 array, or
  std::function<std::int64_t(std::size_t)> integer;  // an Int64 one
};

DataArray reals(const char* name, int components, std::size_t count,
                std::function<double(std::size_t)> value) {
  DataArray a;
  a.name = name;
  a.components = components;
  a.count = count;
  a.real = std::move(value);
  return a;
}

DataArray integers(const char* name, std::size_t count,
                   std::function<std::int64_t(std::size_t)> value) {
  DataArray a;
  a.name = name;
  a.count = count;
  a.integer = std::move(value);
  return a;
}

// One piece of PolyData: its points, their data, and vertex or polygon
// cells (connectivity and offsets) with their data.
struct Piece {
  std::size_t points = 0;
  std::size_t verts = 0;
  std::size_t polys = 0;
  const char* scalars = nullptr;  // the point arrays viewers take first
  const char* vectors = nullptr;
  std::vector<DataArray> point_data;
  std::vector<DataArray> cell_data;
  DataArray coordinates;
  std::vector<DataArray> cells;  // connectivity, offsets
};

// Field arrays, one tuple each, always ASCII.
using FieldData = std::vector<std::pair<const char*, std::vector<double>>>;

bool littleEndian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// Writes a PolyData file. In the binary encoding every array is a block of
// the appended data: a 64-bit count of its bytes, then its values.
class PolyDataWriter {
 public:
  PolyDataWriter(std::ostream& os, VtkEncoding encoding) : os_(os), encoding_(encoding) {}

  void write(const FieldData& field, const Piece& piece) {
    os_ << "<?xml version=\"1.0\"?>\n"
        << "<VTKFile type=\"PolyData\" version=\"1.0\" byte_order=\""
        << (littleEndian() ? "LittleEndian" : "BigEndian") << "\" header_type=\"UInt64\">\n"
        << "  <PolyData>\n"
        << "    <FieldData>\n";
    for (const auto& entry : field) {
      os_ << "      <DataArray type=\"Float64\" Name=\"" << entry.first
          << "\" NumberOfTuples=\"1\"";
      if (entry.second.size() > 1) os_ << " NumberOfComponents=\"" << entry.second.size() << '"';
      os_ << " format=\"ascii\">";
      for (std::size_t k = 0; k < entry.second.size(); ++k) {
        if (k > 0) os_ << ' ';
        put(os_, entry.second[k]);
      }
      os_ << "</DataArray>\n";
    }
    os_ << "    </FieldData>\n"
        << "    <Piece NumberOfPoints=\"" << piece.points << "\" NumberOfVerts=\"" << piece.verts
        << "\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"" << piece.polys
        << "\">\n";
    os_ << "      <PointData";
    if (piece.scalars != nullptr) os_ << " Scalars=\"" << piece.scalars << '"';
    if (piece.vectors != nullptr) os_ << " Vectors=\"" << piece.vectors << '"';
    os_ << ">\n";
    for (const DataArray& a : piece.point_data) array(a);
    os_ << "      </PointData>\n";
    if (!piece.cell_data.empty()) {
      os_ << "      <CellData Scalars=\"" << piece.cell_data.front().name << "\">\n";
      for (const DataArray& a : piece.cell_data) array(a);
      os_ << "      </CellData>\n";
    }
    os_ << "      <Points>\n";
    array(piece.coordinates);
    os_ << "      </Points>\n";
    const char* kind = piece.polys > 0 ? "Polys" : "Verts";
    os_ << "      <" << kind << ">\n";
    for (const DataArray& a : piece.cells) array(a);
    os_ << "      </" << kind << ">\n"
        << "    </Piece>\n"
        << "  </PolyData>\n";
    if (encoding_ == VtkEncoding::kBinary) appendedData();
    os_ << "</VTKFile>\n";
  }

 private:
  static constexpr std::size_t kBuffer = 4096;  // values written at a time

  void array(const DataArray& a) {
    os_ << "        <DataArray type=\"" << (a.integer ? "Int64" : "Float64") << "\" Name=\""
        << a.name << '"';
    if (a.components > 1) os_ << " NumberOfComponents=\"" << a.components << '"';
    if (encoding_ == VtkEncoding::kBinary) {
      os_ << " format=\"appended\" offset=\"" << offset_ << "\"/>\n";
      offset_ += sizeof(std::uint64_t) + 8 * a.count;
      appended_.push_back(&a);
      return;
    }
    os_ << " format=\"ascii\">\n";
    for (std::size_t k = 0; k < a.count; ++k) {
      os_ << (k % a.components == 0 ? "          " : " ");
      if (a.integer) {
        os_ << a.integer(k);
      } else {
        put(os_, a.real(k));
      }
      if ((k + 1) % a.components == 0) os_ << '\n';
    }
    os_ << "        </DataArray>\n";
  }

  void appendedData() {
    os_ << "  <AppendedData encoding=\"raw\">\n   _";
    for (const DataArray* a : appended_) {
      const std::uint64_t bytes = 8 * a->count;
      os_.write(reinterpret_cast<const char*>(&bytes), sizeof bytes);
      for (std::size_t k = 0; k < a->count; k += kBuffer) {
        const std::size_t end = std::min(a->count, k + kBuffer);
        if (a->integer) {
          for (std::size_t j = k; j < end; ++j) whole_[j - k] = a->integer(j);
          os_.write(reinterpret_cast<const char*>(whole_), 8 * (end - k));
        } else {
          for (std::size_t j = k; j < end; ++j) real_[j - k] = a->real(j);
          os_.write(reinterpret_cast<const char*>(real_), 8 * (end - k));
        }
      }
    }
    os_ << "\n  </AppendedData>\n";
  }

  std::ostream& os_;
  VtkEncoding encoding_;
  std::uint64_t offset_ = 0;
  std::vector<const DataArray*> appended_;
  double real_[kBuffer];
  std::int64_t whole_[kBuffer];
};

void addChamberSize(FieldData& field, const ChamberOutline& outline) {
  if (outline.shape == ChamberOutline::Shape::kBox) {
    field.emplace_back("ChamberHalfWidths", std::vector<double>{outline.half_x, outline.half_y});
  } else {
    field.emplace_back("ChamberRadius", std::vector<double>{outline.half_x});
  }
  field.emplace_back("ChamberHeight", std::vector<double>{outline.height});
}

// Corners around the chamber's wall: the box's four, the cylinder's circle
// as a polygon this fine.
constexpr int kFacets = 72;

}  // namespace

void writeShotVtp(std::ostream& os, int n, const double* r, const double* v, double radius,
                  double time, double base_height, const ChamberOutline& outline,
                  VtkEncoding encoding) {
  FieldData field{{"TimeValue", {time}}, {"BaseHeight", {base_height}}};
  addChamberSize(field, outline);
  const std::size_t count = n > 0 ? static_cast<std::size_t>(n) : 0;
  Piece piece;
  piece.points = count;
  piece.verts = count;
  piece.scalars = "radius";
  piece.vectors = "velocity";
  piece.point_data.push_back(reals("radius", 1, count, [radius](std::size_t) { return radius; }));
  piece.point_data.push_back(reals("velocity", 3, 3 * count, [v](std::size_t k) { return v[k]; }));
  piece.coordinates = reals("centre", 3, 3 * count, [r, radius](std::size_t k) {
    return k % 3 == 2 ? r[k] + radius : r[k];
  });
  piece.cells.push_back(integers("connectivity", count, [](std::size_t i) {
    return static_cast<std::int64_t>(i);
  }));
  piece.cells.push_back(integers("offsets", count, [](std::size_t i) {
    return static_cast<std::int64_t>(i + 1);
  }));
  PolyDataWriter(os, encoding).write(field, piece);
}

void writeChamberVtp(std::ostream& os, const ChamberOutline& outline, double base_height,
                     double time, VtkEncoding encoding) {
  // The corners around the wall at the base's height, then the same at the
  // top's; the base, each facet of the wall and the top are polygons.
  std::vector<double> xy;
  if (outline.shape == ChamberOutline::Shape::kBox) {
    xy = {-outline.half_x, -outline.half_y, outline.half_x, -outline.half_y,
          outline.half_x, outline.half_y,   -outline.half_x, outline.half_y};
  } else {
    const double pi = std::acos(-1.0);
    for (int k = 0; k < kFacets; ++k) {
      xy.push_back(outline.half_x * std::cos(2.0 * pi * k / kFacets));
      xy.push_back(outline.half_x * std::sin(2.0 * pi * k / kFacets));
    }
  }
  const std::int64_t m = static_cast<std::int64_t>(xy.size() / 2);
  std::vector<double> points;
  for (const double z : {base_height, outline.height}) {
    for (std::int64_t k = 0; k < m; ++k) {
      points.insert(points.end(), {xy[2 * k], xy[2 * k + 1], z});
    }
  }
  std::vector<std::int64_t> connectivity, offsets, surface;
  const auto polygon = [&](std::initializer_list<std::int64_t> corners, int kind) {
    connectivity.insert(connectivity.end(), corners);
    offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
    surface.push_back(kind);
  };
  const auto ring = [&](std::int64_t first, int kind) {
    for (std::int64_t k = 0; k < m; ++k) connectivity.push_back(first + k);
    offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
    surface.push_back(kind);
  };
  ring(0, 0);
  if (outline.height > base_height) {
    for (std::int64_t k = 0; k < m; ++k) polygon({k, (k + 1) % m, m + (k + 1) % m, m + k}, 1);
  }
  if (outline.has_top) ring(m, 2);

  FieldData field{{"TimeValue", {time}}, {"BaseHeight", {base_height}}};
  Piece piece;
  piece.points = points.size() / 3;
  piece.polys = offsets.size();
  piece.cell_data.push_back(integers("surface", surface.size(), [&surface](std::size_t i) {
    return surface[i];
  }));
  piece.coordinates = reals("corner", 3, points.size(), [&points](std::size_t k) {
    return points[k];
  });
  piece.cells.push_back(integers("connectivity", connectivity.size(),
                                 [&connectivity](std::size_t i) { return connectivity[i]; }));
  piece.cells.push_back(integers("offsets", offsets.size(), [&offsets](std::size_t i) {
    return offsets[i];
  }));
  PolyDataWriter(os, encoding).write(field, piece);
}

void writePvd(std::ostream& os, const std::vector<std::pair<double, std::string>>& entries) {
  os << "<?xml version=\"1.0\"?>\n"
     << "<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
     << "  <Collection>\n";
  for (const auto& entry : entries) {
    os << "    <DataSet timestep=\"";
    put(os, entry.first);
    os << "\" group=\"\" part=\"0\" file=\"" << escaped(entry.second) << "\"/>\n";
  }
  os << "  </Collection>\n"
     << "</VTKFile>\n";
}

SnapshotSeries::SnapshotSeries(const Shot& shot, const Chamber& chamber,
                               const ChamberOutline& outline, const std::string& directory,
                               double interval, VtkEncoding encoding)
    : shot_(shot),
      chamber_(chamber),
      outline_(outline),
      directory_(trimmed(directory)),
      collection_(directory_ + ".pvd"),
      chamber_collection_(directory_.substr(0, directory_.size() - baseName(directory_).size()) +
                          "chamber.pvd"),
      interval_(interval),
      encoding_(encoding),
      due_(interval),
      scheduled_(0) {}

bool SnapshotSeries::prepare() { return makeDirectory(directory_); }

bool SnapshotSeries::makeDirectory(const std::string& directory) {
  if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    std::cerr << "Cannot make directory " << directory << ": " << std::strerror(errno)
              << std::endl;
    return false;
  }
  struct stat info;
  if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::cerr << "Cannot make directory " << directory << ": not a directory" << std::endl;
    return false;
  }
  return true;
}

template <class Write>
bool SnapshotSeries::writeFile(const std::string& path, Write write) {
  SafeFile file(path.c_str());
  if (file.isOpen()) write(file.stream());
  if (!file.commit()) {
    std::cerr << "Error writing " << path << std::endl;
    return false;
  }
  return true;
}

std::string SnapshotSeries::shotName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "shot_%06d.vtp", index);
  return name;
}

std::string SnapshotSeries::chamberName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "chamber_%06d.vtp", index);
  return name;
}

bool SnapshotSeries::write(double t) {
  const std::string shot_name = shotName(count());
  const std::string chamber_name = chamberName(count());
  const double base = chamber_.baseHeight();
  const bool written =
      writeFile(directory_ + "/" + shot_name,
                [&](std::ostream& os) {
                  writeShotVtp(os, shot_.n(), shot_.r_chunk(), shot_.v_chunk(),
                               0.5 * shot_.diam(), t, base, outline_, encoding_);
                }) &&
      writeFile(directory_ + "/" + chamber_name, [&](std::ostream& os) {
        writeChamberVtp(os, outline_, base, t, encoding_);
      });
  if (!written) return false;
  shots_.emplace_back(t, baseName(directory_) + "/" + shot_name);
  chambers_.emplace_back(t, baseName(directory_) + "/" + chamber_name);
  scheduled_ = shots_.size();
  return writeFile(collection_, [this](std::ostream& os) { writePvd(os, shots_); }) &&
         writeFile(chamber_collection_, [this](std::ostream& os) { writePvd(os, chambers_); });
}

bool SnapshotSeries::afterStep(double t) {
  // Steps add up to a multiple of the interval only to rounding.
  const double slack = 1e-9 * interval_;
  if (t < due_ - slack) return true;
  due_ = (std::floor((t + slack) / interval_) + 1.0) * interval_;
  return write(t);
}

bool SnapshotSeries::atEnd(double t) {
  if (!shots_.empty() && shots_.back().first == t) return true;
  const std::size_t scheduled = scheduled_;
  const bool written = write(t);
  scheduled_ = scheduled;
  return written;
}

void SnapshotSeries::capture(RunRecord& record) const {
  record.snapshot_every = interval_;
  record.snapshot_format = encoding_ == VtkEncoding::kBinary ? "binary" : "ascii";
  record.snapshot_due = due_;
  record.snapshot_times.clear();
  for (std::size_t k = 0; k < scheduled_; ++k) record.snapshot_times.push_back(shots_[k].first);
}

void SnapshotSeries::resume(const RunRecord& record) {
  due_ = record.snapshot_due;
  shots_.clear();
  chambers_.clear();
  for (std::size_t k = 0; k < record.snapshot_times.size(); ++k) {
    const double t = record.snapshot_times[k];
    const int index = static_cast<int>(k);
    shots_.emplace_back(t, baseName(directory_) + "/" + shotName(index));
    chambers_.emplace_back(t, baseName(directory_) + "/" + chamberName(index));
  }
  scheduled_ = shots_.size();
}
