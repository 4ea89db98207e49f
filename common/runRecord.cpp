#include "runRecord.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <type_traits>

namespace {

constexpr int kFormat = 1;

// --------------------------------------------------------------- writing

std::string text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

template <class Int, class = std::enable_if_t<std::is_integral<Int>::value>>
std::string text(Int value) {
  return std::to_string(value);
}
std::string text(const std::string& value) { return value; }

std::string hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08" PRIx32, value);
  return buffer;
}

// One line: the key and its values separated by single spaces.
class Lines {
 public:
  explicit Lines(std::ostream& os) : os_(os) {}
  template <class... Values>
  void put(const char* key, const Values&... values) {
    os_ << key;
    using expand = int[];
    (void)expand{0, (os_ << ' ' << text(values), 0)...};
    os_ << '\n';
  }

 private:
  std::ostream& os_;
};

void putHistogram(Lines& out, const char* key, const char* cell_key, const HistogramSums& h) {
  out.put(key, h.cells, h.hits);
  for (const HistogramSums::Cell& c : h.used) out.put(cell_key, c.index, c.hits, c.pressure, c.energy);
}

// --------------------------------------------------------------- reading

// The lines of a record by key, each line its values as written.
class Fields {
 public:
  explicit Fields(std::string& why) : why_(why) {}

  void add(const std::string& key, std::vector<std::string> values) {
    lines_[key].push_back(std::move(values));
  }
  bool ok() const { return why_.empty(); }
  bool has(const char* key) const { return lines_.count(key) != 0; }
  bool fail(const std::string& reason) {
    if (why_.empty()) why_ = reason;
    return false;
  }

  // The values of the one line of a key, of which there must be count.
  const std::vector<std::string>* line(const char* key, std::size_t count) {
    const auto it = lines_.find(key);
    if (it == lines_.end()) {
      fail(std::string("no ") + key);
      return nullptr;
    }
    if (it->second.size() != 1 || it->second[0].size() != count) {
      fail(std::string("a malformed ") + key);
      return nullptr;
    }
    return &it->second[0];
  }
  // Every line of a key (none when it is missing), count values each.
  const std::vector<std::vector<std::string>>& lines(const char* key, std::size_t count) {
    static const std::vector<std::vector<std::string>> none;
    const auto it = lines_.find(key);
    if (it == lines_.end()) return none;
    for (const auto& values : it->second) {
      if (values.size() != count) fail(std::string("a malformed ") + key);
    }
    return it->second;
  }

  template <class T>
  void get(const char* key, T& value) {
    const std::vector<std::string>* values = line(key, 1);
    if (values != nullptr) parse((*values)[0], value, key);
  }

  // Numbers as written: the whole text one value.
  void parse(const std::string& s, double& value, const char* key) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || errno == ERANGE) {
      fail(std::string("a malformed ") + key);
      return;
    }
    value = v;
  }
  // An integer of any width (bool: 0 or 1), within the range of its type.
  template <class Int, class = std::enable_if_t<std::is_integral<Int>::value>>
  void parse(const std::string& s, Int& value, const char* key) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    const long long lowest = std::is_same<Int, bool>::value ? 0 : std::numeric_limits<Int>::min();
    const long long highest = std::is_same<Int, bool>::value ? 1 : std::numeric_limits<Int>::max();
    const bool unsigned_wide = !std::is_signed<Int>::value && sizeof(Int) >= sizeof(long long);
    if (s.empty() || *end != '\0' || errno != 0 || v < lowest ||
        (!unsigned_wide && v > highest)) {
      fail(std::string("a malformed ") + key);
      return;
    }
    value = static_cast<Int>(v);
  }
  void parse(const std::string& s, std::string& value, const char*) { value = s; }
  void parseHex(const char* key, std::uint32_t& value) {
    const std::vector<std::string>* values = line(key, 1);
    if (values == nullptr) return;
    const std::string& s = (*values)[0];
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, 16);
    if (s.size() != 8 || *end != '\0') {
      fail(std::string("a malformed ") + key);
      return;
    }
    value = static_cast<std::uint32_t>(v);
  }

 private:
  std::map<std::string, std::vector<std::vector<std::string>>> lines_;
  std::string& why_;
};

void getHistogram(Fields& f, const char* key, const char* cell_key, HistogramSums& h) {
  const std::vector<std::string>* head = f.line(key, 2);
  if (head == nullptr) return;
  f.parse((*head)[0], h.cells, key);
  f.parse((*head)[1], h.hits, key);
  int previous = -1;
  for (const std::vector<std::string>& values : f.lines(cell_key, 4)) {
    if (!f.ok()) return;
    HistogramSums::Cell c{};
    f.parse(values[0], c.index, cell_key);
    f.parse(values[1], c.hits, cell_key);
    f.parse(values[2], c.pressure, cell_key);
    f.parse(values[3], c.energy, cell_key);
    if (c.index <= previous || c.index >= h.cells) f.fail(std::string("a misplaced ") + cell_key);
    previous = c.index;
    h.used.push_back(c);
  }
}

}  // namespace

void writeRunRecord(std::ostream& os, const RunRecord& r) {
  os << "# Run record of " << r.program << ": what " << "state.out"
     << " holds and what it takes to continue\n"
     << "# the run from it; see docs/FILES.md.\n";
  Lines out(os);
  out.put("format", kFormat);
  out.put("program", r.program);
  out.put("spheres", r.spheres);
  out.put("resumable", r.resumable ? 1 : 0);
  out.put("engine", r.engine);
  out.put("seed", r.seed);
  out.put("time", r.time);
  out.put("steps", r.steps);
  out.put("step_left", r.step_left);
  out.put("step_origin", r.step_origin);
  out.put("events", r.events);
  out.put("stalled_events", r.stalled_events);
  out.put("base_height", r.base_height);
  out.put("base_direction", r.base_direction);
  out.put("pending_impact", r.pending_impact);
  out.put("collisions", r.collisions);
  out.put("base_impacts", r.base_impacts);
  out.put("wall_impacts", r.wall_impacts[0], r.wall_impacts[1]);
  out.put("top_impacts", r.top_impacts);
  out.put("impulse_base", r.impulse_base);
  out.put("impulse_top", r.impulse_top);
  out.put("energy_base", r.energy_base);
  out.put("energy_wall", r.energy_wall);
  out.put("energy_top", r.energy_top);
  out.put("energy_lost", r.energy_lost);
  if (r.top_map_bytes >= 0) out.put("top_map_bytes", r.top_map_bytes);
  if (r.bot_map_bytes >= 0) out.put("bot_map_bytes", r.bot_map_bytes);
  putHistogram(out, "top_hist", "top_hist_cell", r.top_hist);
  putHistogram(out, "bot_hist", "bot_hist_cell", r.bot_hist);
  if (r.has_predictions) {
    const LoopPredictions& p = r.predictions;
    out.put("next_event", p.next_event, p.chosen, p.best_time, p.chamber_impact);
    for (std::size_t i = 0; i < p.times.size(); ++i) out.put("prediction", p.times[i], p.partners[i]);
  }
  if (r.observing) {
    out.put("observe_every", r.observe_every);
    out.put("observe_due", r.observe_due);
    out.put("observe_last", r.observe_last);
    out.put("observe_bytes", r.observe_bytes);
    out.put("observe_crc32", hex(r.observe_crc32));
  }
  if (r.snapshot_every > 0.0) {
    out.put("snapshot_every", r.snapshot_every);
    out.put("snapshot_format", r.snapshot_format);
    out.put("snapshot_due", r.snapshot_due);
    for (double t : r.snapshot_times) out.put("snapshot", t);
  }
  if (r.profiles_after >= 0.0) {
    const ProfileSums& s = r.profile_sums;
    out.put("profiles", r.profiles_after);
    out.put("profile_bin", r.profile_bin);
    out.put("profile_phases", r.profile_phases);
    out.put("profile_bins", s.bins);
    for (std::size_t p = 0; p < s.samples.size(); ++p) {
      out.put("profile_samples", static_cast<long>(p), s.samples[p], s.spheres[p]);
    }
    for (const ProfileSums::Bin& b : s.used) {
      out.put("profile_sums", b.index, b.count, b.v[0], b.v[1], b.v[2], b.v2[0], b.v2[1],
              b.v2[2]);
    }
  }
  for (const auto& [key, value] : r.settings) out.put("set", key, value);
  for (const auto& [key, value] : r.parameters) os << key << ' ' << value << '\n';
}

std::string stateLines(std::uint64_t bytes, std::uint32_t crc32) {
  return "state_bytes " + text(bytes) + "\nstate_crc32 " + hex(crc32) + "\n";
}

bool readRunRecord(std::istream& is, RunRecord& r, std::string& why) {
  why.clear();
  Fields f(why);
  std::string line;
  while (std::getline(is, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::vector<std::string> values;
    for (std::string v; words >> v;) values.push_back(v);
    if (key.find('.') != std::string::npos) {
      // A parameter: its key and its one value.
      if (values.size() != 1) return f.fail("a malformed " + key);
      r.parameters.emplace_back(key, values[0]);
    } else {
      f.add(key, std::move(values));
    }
  }
  if (is.bad()) return f.fail("a file that cannot be read");
  int format = 0;
  f.get("format", format);
  if (f.ok() && format != kFormat) return f.fail("an unknown format");
  f.get("program", r.program);
  f.get("spheres", r.spheres);
  f.get("resumable", r.resumable);
  f.get("engine", r.engine);
  f.get("seed", r.seed);
  f.get("state_bytes", r.state_bytes);
  f.parseHex("state_crc32", r.state_crc32);
  f.get("time", r.time);
  f.get("steps", r.steps);
  f.get("step_left", r.step_left);
  f.get("step_origin", r.step_origin);
  f.get("events", r.events);
  f.get("stalled_events", r.stalled_events);
  f.get("base_height", r.base_height);
  f.get("base_direction", r.base_direction);
  f.get("pending_impact", r.pending_impact);
  f.get("collisions", r.collisions);
  f.get("base_impacts", r.base_impacts);
  if (const std::vector<std::string>* walls = f.line("wall_impacts", 2)) {
    f.parse((*walls)[0], r.wall_impacts[0], "wall_impacts");
    f.parse((*walls)[1], r.wall_impacts[1], "wall_impacts");
  }
  f.get("top_impacts", r.top_impacts);
  f.get("impulse_base", r.impulse_base);
  f.get("impulse_top", r.impulse_top);
  f.get("energy_base", r.energy_base);
  f.get("energy_wall", r.energy_wall);
  f.get("energy_top", r.energy_top);
  f.get("energy_lost", r.energy_lost);
  if (f.has("top_map_bytes") || f.has("bot_map_bytes")) {
    f.get("top_map_bytes", r.top_map_bytes);
    f.get("bot_map_bytes", r.bot_map_bytes);
  }
  getHistogram(f, "top_hist", "top_hist_cell", r.top_hist);
  getHistogram(f, "bot_hist", "bot_hist_cell", r.bot_hist);
  for (const std::vector<std::string>& values : f.lines("set", 2)) {
    if (f.ok()) r.settings.emplace_back(values[0], values[1]);
  }
  if (!f.ok()) return false;
  if (r.spheres < 1 || r.steps < 0 || r.events < 0 || r.collisions < 0 ||
      (r.base_direction != 1 && r.base_direction != -1)) {
    return f.fail("numbers that do not fit together");
  }

  r.has_predictions = f.has("next_event");
  if (r.has_predictions) {
    LoopPredictions& p = r.predictions;
    if (const std::vector<std::string>* head = f.line("next_event", 4)) {
      f.parse((*head)[0], p.next_event, "next_event");
      f.parse((*head)[1], p.chosen, "next_event");
      f.parse((*head)[2], p.best_time, "next_event");
      f.parse((*head)[3], p.chamber_impact, "next_event");
    }
    const auto& lines = f.lines("prediction", 2);
    if (static_cast<long>(lines.size()) != r.spheres) return f.fail("a prediction per sphere missing");
    for (const std::vector<std::string>& values : lines) {
      double t = 0.0;
      int partner = -1;
      f.parse(values[0], t, "prediction");
      f.parse(values[1], partner, "prediction");
      if (partner < -1 || partner >= r.spheres) f.fail("a prediction with no such partner");
      p.times.push_back(t);
      p.partners.push_back(partner);
    }
    if (p.chosen < -1 || p.chosen >= r.spheres) f.fail("a malformed next_event");
  }

  r.observing = f.has("observe_every");
  if (r.observing) {
    f.get("observe_every", r.observe_every);
    f.get("observe_due", r.observe_due);
    f.get("observe_last", r.observe_last);
    f.get("observe_bytes", r.observe_bytes);
    f.parseHex("observe_crc32", r.observe_crc32);
  }
  if (f.has("snapshot_every")) {
    f.get("snapshot_every", r.snapshot_every);
    f.get("snapshot_format", r.snapshot_format);
    f.get("snapshot_due", r.snapshot_due);
    for (const std::vector<std::string>& values : f.lines("snapshot", 1)) {
      double t = 0.0;
      f.parse(values[0], t, "snapshot");
      r.snapshot_times.push_back(t);
    }
    if (!(r.snapshot_every > 0.0)) f.fail("a malformed snapshot_every");
  }
  if (f.has("profiles")) {
    ProfileSums& s = r.profile_sums;
    f.get("profiles", r.profiles_after);
    f.get("profile_bin", r.profile_bin);
    f.get("profile_phases", r.profile_phases);
    f.get("profile_bins", s.bins);
    if (!f.ok()) return false;
    if (!(r.profiles_after >= 0.0) || r.profile_phases < 1 || s.bins < 1) {
      return f.fail("a malformed profiles");
    }
    s.samples.assign(static_cast<std::size_t>(r.profile_phases), 0);
    s.spheres.assign(static_cast<std::size_t>(r.profile_phases), 0.0);
    for (const std::vector<std::string>& values : f.lines("profile_samples", 3)) {
      int p = -1;
      f.parse(values[0], p, "profile_samples");
      if (p < 0 || p >= r.profile_phases) return f.fail("a misplaced profile_samples");
      f.parse(values[1], s.samples[p], "profile_samples");
      f.parse(values[2], s.spheres[p], "profile_samples");
    }
    long previous = -1;
    for (const std::vector<std::string>& values : f.lines("profile_sums", 8)) {
      ProfileSums::Bin b{};
      f.parse(values[0], b.index, "profile_sums");
      f.parse(values[1], b.count, "profile_sums");
      for (int a = 0; a < 3; ++a) {
        f.parse(values[2 + a], b.v[a], "profile_sums");
        f.parse(values[5 + a], b.v2[a], "profile_sums");
      }
      if (b.index <= previous || b.index >= s.bins) return f.fail("a misplaced profile_sums");
      previous = b.index;
      s.used.push_back(b);
    }
  }
  return f.ok();
}
