#include "snapshot.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <ostream>

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

}  // namespace

void writeVtp(std::ostream& os, int n, const double* r, const double* v, double radius,
              double time) {
  os << "<?xml version=\"1.0\"?>\n"
     << "<VTKFile type=\"PolyData\" version=\"1.0\" byte_order=\"LittleEndian\""
        " header_type=\"UInt64\">\n"
     << "  <PolyData>\n"
     << "    <FieldData>\n"
     << "      <DataArray type=\"Float64\" Name=\"TimeValue\" NumberOfTuples=\"1\""
        " format=\"ascii\">";
  put(os, time);
  os << "</DataArray>\n"
     << "    </FieldData>\n"
     << "    <Piece NumberOfPoints=\"" << n << "\" NumberOfVerts=\"" << n
     << "\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"0\">\n"
     << "      <PointData Scalars=\"radius\" Vectors=\"velocity\">\n"
     << "        <DataArray type=\"Float64\" Name=\"radius\" format=\"ascii\">\n";
  for (int i = 0; i < n; ++i) {
    os << "          ";
    put(os, radius);
    os << '\n';
  }
  os << "        </DataArray>\n"
     << "        <DataArray type=\"Float64\" Name=\"velocity\" NumberOfComponents=\"3\""
        " format=\"ascii\">\n";
  for (int k = 0; k < 3 * n; k += 3) {
    os << "          ";
    put(os, v[k]);
    os << ' ';
    put(os, v[k + 1]);
    os << ' ';
    put(os, v[k + 2]);
    os << '\n';
  }
  os << "        </DataArray>\n"
     << "      </PointData>\n"
     << "      <Points>\n"
     << "        <DataArray type=\"Float64\" Name=\"centre\" NumberOfComponents=\"3\""
        " format=\"ascii\">\n";
  for (int k = 0; k < 3 * n; k += 3) {
    os << "          ";
    put(os, r[k]);
    os << ' ';
    put(os, r[k + 1]);
    os << ' ';
    put(os, r[k + 2] + radius);
    os << '\n';
  }
  os << "        </DataArray>\n"
     << "      </Points>\n"
     << "      <Verts>\n"
     << "        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n";
  for (int i = 0; i < n; ++i) os << "          " << i << '\n';
  os << "        </DataArray>\n"
     << "        <DataArray type=\"Int64\" Name=\"offsets\" format=\"ascii\">\n";
  for (int i = 1; i <= n; ++i) os << "          " << i << '\n';
  os << "        </DataArray>\n"
     << "      </Verts>\n"
     << "    </Piece>\n"
     << "  </PolyData>\n"
     << "</VTKFile>\n";
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

SnapshotSeries::SnapshotSeries(const Shot& shot, const std::string& directory,
                               double interval)
    : shot_(shot),
      directory_(trimmed(directory)),
      collection_(directory_ + ".pvd"),
      interval_(interval),
      due_(interval) {}

bool SnapshotSeries::prepare() {
  if (mkdir(directory_.c_str(), 0777) != 0 && errno != EEXIST) {
    std::cerr << "Cannot make directory " << directory_ << ": " << std::strerror(errno)
              << std::endl;
    return false;
  }
  struct stat info;
  if (stat(directory_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    std::cerr << "Cannot make directory " << directory_ << ": not a directory" << std::endl;
    return false;
  }
  return true;
}

bool SnapshotSeries::write(double t) {
  char name[32];
  std::snprintf(name, sizeof name, "shot_%06d.vtp", count());
  const std::string path = directory_ + "/" + name;
  {
    SafeFile file(path.c_str());
    if (file.isOpen()) {
      writeVtp(file.stream(), shot_.n(), shot_.r_chunk(), shot_.v_chunk(), 0.5 * shot_.diam(),
               t);
    }
    if (!file.commit()) {
      std::cerr << "Error writing " << path << std::endl;
      return false;
    }
  }
  entries_.emplace_back(t, baseName(directory_) + "/" + name);
  SafeFile file(collection_.c_str());
  if (file.isOpen()) writePvd(file.stream(), entries_);
  if (!file.commit()) {
    std::cerr << "Error writing " << collection_ << std::endl;
    return false;
  }
  return true;
}

bool SnapshotSeries::afterStep(double t) {
  // Steps add up to a multiple of the interval only to rounding.
  const double slack = 1e-9 * interval_;
  if (t < due_ - slack) return true;
  due_ = (std::floor((t + slack) / interval_) + 1.0) * interval_;
  return write(t);
}

bool SnapshotSeries::atEnd(double t) {
  if (!entries_.empty() && entries_.back().first == t) return true;
  return write(t);
}
