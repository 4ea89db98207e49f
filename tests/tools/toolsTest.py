#!/usr/bin/env python3
"""Tests of the tools in tools/ on run directories the batch programs make.

  toolsTest.py runs        makes the run directories (the CTest fixture)
  toolsTest.py CLASS       runs one test class on them (Plot, Snapshots, ...)

Environment: SHOTSIM_SOURCE_DIR (the source tree), SHOTSIM_CRATE and
SHOTSIM_DRUM (the batch programs), TOOLS_WORK (a directory of this build).
"""

import math
import operator
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import types
import unittest
import xml.etree.ElementTree as ET
import zlib

SOURCE = os.environ.get("SHOTSIM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
TOOLS = os.path.join(SOURCE, "tools")
CRATE = os.environ.get("SHOTSIM_CRATE", "")
DRUM = os.environ.get("SHOTSIM_DRUM", "")
WORK = os.environ.get("TOOLS_WORK", os.path.join(tempfile.gettempdir(), "shotsim-tools-test"))
BOX_RUN = os.path.join(WORK, "box")
CYL_RUN = os.path.join(WORK, "cylinder")

N = 60            # spheres of the test runs
RADIUS = 0.5
STEP = 0.02       # time step of the test runs [cycles]
SNAP_EVERY = 0.3  # snapshot interval [cycles]: the base is away from 0 at most

PAR = """0          restart
%s       time step [cycles]
0          event limit
%s          time limit [cycles]
"""
SHOT = """%d 1          number of spheres, diameter
0.35 1 0       packing fraction, temperature, angular velocity
0.9 1          sphere-sphere restitution, threshold speed
0.001          overlap tolerance
"""
# A low box, so that the top is hit; a tall cylinder, whose top is not: its
# top histogram is all "nan" and its top map empty.
BOX = """4 4 5          half-widths along x and y, inner height
1 1            base amplitude, period
3.924          gravity
0.9 1          base restitution, threshold speed
0.9 1          walls restitution, threshold speed
0.9 1          top restitution, threshold speed
0.001          position tolerance
0 1            base start height, direction
1              impact maps on
6 6            histogram cells along x and y
"""
CYL = """4.5 20         radius, inner height
1 1            base amplitude, period
3.924          gravity
0.9 1          base restitution, threshold speed
0.9 1          side wall restitution, threshold speed
0.9 1          top restitution, threshold speed
0.05           minimum radial speed at the wall
0.001          position tolerance
0 1            base start height, direction
1              impact maps on
8              rings
"""


def write_ini(run_dir, chamber_file, chamber_text, cycles, spheres=N):
    os.makedirs(os.path.join(run_dir, "ini"), exist_ok=True)
    files = {"par.ini": PAR % (STEP, cycles), "shot.ini": SHOT % spheres, chamber_file: chamber_text}
    for name, text in files.items():
        with open(os.path.join(run_dir, "ini", name), "w") as f:
            f.write(text)


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          universal_newlines=True, **kwargs)


def make_runs():
    """The fixture: a box run and a cylinder run of 3 cycles with snapshots,
    the box's as text, the cylinder's binary, and profiles from cycle 1, the
    cylinder's in three parts of the base's cycle."""
    shutil.rmtree(WORK, ignore_errors=True)
    for run_dir, program, chamber, options in (
            (BOX_RUN, CRATE, ("box.ini", BOX), ["ascii", "--profiles", "1"]),
            (CYL_RUN, DRUM, ("cyl.ini", CYL), ["binary", "--profiles", "1", "--profile-phases", "3"])):
        write_ini(run_dir, chamber[0], chamber[1], 3)
        result = run([program, "--seed", "7", "--observe-every", "0.1", "--snapshot-every",
                      str(SNAP_EVERY), "--snapshot-format"] + options + [run_dir])
        if result.returncode != 0:
            sys.exit("%s failed:\n%s" % (program, result.stderr))


# ------------------------------------------------------------------ helpers

def read_png(path):
    """(width, height, pixels with colour) of an 8-bit RGB or RGBA PNG;
    a pixel has colour when its red and blue differ (text, axes and the
    background are grey)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError("%s is not a PNG" % path)
    pos, idat, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise AssertionError("%s: unexpected PNG kind %s" % (path, header))
    n = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = width * n
    prev = bytes(stride)
    coloured = 0
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        if kind == 1:
            for i in range(n, stride):
                line[i] = (line[i] + line[i - n]) & 255
        elif kind == 2:
            line = bytearray(map(lambda a, b: (a + b) & 255, line, prev))
        elif kind == 3:
            for i in range(stride):
                line[i] = (line[i] + (((line[i - n] if i >= n else 0) + prev[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(n):
                line[i] = (line[i] + prev[i]) & 255
            for i in range(n, stride):
                a, b, c = line[i - n], prev[i], prev[i - n]
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - c - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else (b if pb <= pc else c))) & 255
        coloured += sum(map(operator.ne, line[0::n], line[2::n]))
        prev = line
    return width, height, coloured


def parse_vtp(path):
    """The arrays of a PolyData file, as lists of numbers, by name; ASCII or
    with its arrays' raw bytes appended."""
    with open(path, "rb") as f:
        data = f.read()
    cut = data.find(b"<AppendedData")
    raw = b""
    if cut >= 0:
        raw = data[data.index(b"_", cut) + 1:]
        data = data[:cut] + b"</VTKFile>"
    root = ET.fromstring(data)
    assert root.tag == "VTKFile" and root.get("type") == "PolyData", path
    assert root.get("byte_order") == ("LittleEndian" if sys.byteorder == "little" else "BigEndian")

    def values(array):
        kind = {"Float64": "d", "Int64": "q"}[array.get("type")]
        cast = float if kind == "d" else int
        if array.get("format") == "ascii":
            return [cast(x) for x in array.text.split()]
        assert array.get("format") == "appended", path
        offset = int(array.get("offset"))
        size, = struct.unpack("=Q", raw[offset:offset + 8])
        return list(struct.unpack("=%d%s" % (size // 8, kind), raw[offset + 8:offset + 8 + size]))

    poly = root.find("PolyData")
    piece = poly.find("Piece")
    out = {"points": int(piece.get("NumberOfPoints")), "verts": int(piece.get("NumberOfVerts")),
           "polys": int(piece.get("NumberOfPolys"))}
    for array in poly.find("FieldData"):
        out[array.get("Name")] = values(array)
    out["time"] = out["TimeValue"][0]
    for section in ("PointData", "CellData", "Verts", "Polys"):
        for array in piece.find(section) if piece.find(section) is not None else ():
            out[array.get("Name")] = values(array)
    out["centres"] = values(piece.find("Points/DataArray"))
    return out


def read_state(path):
    with open(path) as f:
        return [[float(x) for x in line.split()] for line in f if line.strip()]


def read_observables(path):
    with open(path) as f:
        columns = f.readline()[1:].split()
        return columns, [[float(x) for x in line.split()] for line in f]


def load_tool(name):
    """A tool of tools/ as a module, to test its functions."""
    path = os.path.join(TOOLS, name)
    module = types.ModuleType(name)
    module.__file__ = path
    with open(path) as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


def close(a, b, tol=2e-5):
    return abs(a - b) <= tol * max(1.0, abs(a), abs(b))


def no_snapshot_temporaries(test, run_dir):
    left = [f for f in os.listdir(os.path.join(run_dir, "snapshots")) if f.endswith(".tmp")]
    left += [f for f in os.listdir(run_dir) if f.startswith(("snapshots.pvd.", "chamber.pvd."))]
    test.assertEqual(left, [])


# -------------------------------------------------------------------- tests

class Plot(unittest.TestCase):
    SIZES = {"top-hist.png": (1500, 480), "bot-hist.png": (1500, 480), "top-zone.png": (1500, 480),
             "top-map.png": (700, 620), "bot-map.png": (700, 620), "observables.png": (900, 1000),
             "profiles.png": (1350, 560)}

    def plot(self, run_dir, expected, coloured_share, skipped=(), out=None, options=()):
        command = [os.path.join(TOOLS, "plot"), run_dir] + list(options)
        if out is None:
            out = os.path.join(run_dir, "plots")
        else:
            command += ["-o", out]
        result = run(command)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(out)), sorted(expected))
        for name in expected:
            width, height, coloured = read_png(os.path.join(out, name))
            size = self.SIZES[name]
            if run_dir == CYL_RUN:
                size = {"top-hist.png": (800, 600), "bot-hist.png": (800, 600),
                        "profiles.png": (1800, 560)}.get(name, size)
            self.assertEqual((width, height), size, name)
            # Drawn data (maps, lines, colour boxes) have colour; a blank
            # image or one with only the axes has none.
            self.assertGreater(coloured, coloured_share.get(name, 0.01) * width * height, name)
        for name in skipped:
            self.assertIn(name, result.stderr)
        return result

    def test_box(self):
        # Lines only: the profiles colour fewer pixels than the maps.
        self.plot(BOX_RUN, self.SIZES.keys(), {"profiles.png": 0.004}, out=os.path.join(WORK, "plots-box"),
                  options=["--common-scale"])

    def test_map_bins_cover_the_reach_of_the_centres(self):
        # Impacts at the corners and on the edges of the area the sphere
        # centres reach, and one just outside it (a tolerance): each lands in
        # a bin that holds it, the bins cover the area exactly (no image past
        # the outline, no gap inside it), and no bin is a sliver.
        plot = load_tool("plot")
        rim = [(5 * math.cos(a), 5 * math.sin(a)) for a in (0, math.pi / 4, math.pi / 2, 2.4, 4.0)]
        cases = [  # shape, bins across, impacts, area covered, impacts outside
            (("box", 4.5, 4.5), 61, [(4.5, 4.5), (-4.5, -4.5), (4.5, -4.5), (4.5, 0), (0, 4.5),
                                     (0, 0), (4.5005, 1)], 81.0, 0),
            (("box", 2.0, 0.3), 10, [(2, 0.3), (-2, 0), (0.2, -0.3), (3, 0)], 2.4, 1),
            (("disc", 5.0), 61, rim + [(0, 0), (5.0004, 0), (0, -6)], math.pi * 25, 1),
            (("disc", 0.5), 10, [(0.5, 0), (0, 0)], math.pi / 4, 0),
        ]
        for shape, across, points, area, outside in cases:
            bins, found_outside = plot.map_bins(points, shape, across)
            self.assertEqual(found_outside, outside, shape)
            self.assertEqual(sum(b.count for b in bins), len(points), shape)
            self.assertAlmostEqual(sum(b.area for b in bins) / area, 1.0, delta=1e-5, msg=shape)
            vertices = [p for b in bins for polygon in b.polygons for p in polygon]
            if shape[0] == "box":
                self.assertEqual((min(p[0] for p in vertices), max(p[0] for p in vertices)),
                                 (-shape[1], shape[1]))
                self.assertEqual((min(p[1] for p in vertices), max(p[1] for p in vertices)),
                                 (-shape[2], shape[2]))
                square = (2 * shape[1] / across) ** 2
            else:
                self.assertLessEqual(max(math.hypot(*p) for p in vertices), shape[1] * (1 + 1e-12))
                square = (2 * shape[1] / across) ** 2
            self.assertGreaterEqual(min(b.area for b in bins), 0.5 * square * (1 - 1e-9), shape)
            for x, y in points:
                if far_outside(shape, (x, y)):
                    continue
                holder = [b for b in bins if b.count and any(
                    inside(polygon, (x, y), shape) for polygon in b.polygons)]
                self.assertTrue(holder, (shape, x, y))

    def test_cylinder_with_an_empty_top(self):
        # top.hist is all "-nan" and top.map empty: the profile is an empty
        # frame that says so, the map is skipped with a note.
        with open(os.path.join(CYL_RUN, "top.hist")) as f:
            self.assertIn("nan", f.read())
        out = os.path.join(WORK, "plots-cylinder")
        self.plot(CYL_RUN, ["top-hist.png", "bot-hist.png", "bot-map.png", "observables.png",
                            "profiles.png"],
                  {"top-hist.png": -1, "profiles.png": 0.004}, skipped=["top.map: empty"], out=out)
        _, _, coloured = read_png(os.path.join(out, "top-hist.png"))
        self.assertEqual(coloured, 0)

    def test_missing_files_are_skipped(self):
        run_dir = os.path.join(WORK, "only-observables")
        os.makedirs(run_dir, exist_ok=True)
        shutil.copy(os.path.join(BOX_RUN, "observables.dat"), run_dir)
        result = self.plot(run_dir, ["observables.png"], {})
        for name in ("top.map", "bot.map"):
            self.assertIn("%s: missing" % name, result.stderr)


def far_outside(shape, point):
    x, y = point
    if shape[0] == "box":
        return abs(x) > shape[1] + 0.01 or abs(y) > shape[2] + 0.01
    return math.hypot(x, y) > shape[1] + 0.01


def inside(polygon, point, shape):
    """A point in a convex polygon; a point that a tolerance put past the
    edge of the shape is taken at the nearest point of the edge."""
    x, y = point
    if shape[0] == "disc" and math.hypot(x, y) > shape[1]:
        x, y = x * shape[1] / math.hypot(x, y), y * shape[1] / math.hypot(x, y)
    elif shape[0] == "box":
        x, y = max(-shape[1], min(shape[1], x)), max(-shape[2], min(shape[2], y))
    # Signed distances from the edges; the circle is a polygon of many
    # sides, whose chords pass within 1e-4 of it.
    signs = [((b[0] - a[0]) * (y - a[1]) - (b[1] - a[1]) * (x - a[0])) / math.dist(a, b)
             for a, b in zip(polygon, polygon[1:] + polygon[:1]) if a != b]
    return all(s >= -1e-4 for s in signs) or all(s <= 1e-4 for s in signs)


def collection(path):
    root = ET.parse(path).getroot()
    assert (root.tag, root.get("type")) == ("VTKFile", "Collection"), path
    return [(float(d.get("timestep")), d.get("file")) for d in root.find("Collection")]


def base_height(t):
    """The base of the test runs (amplitude 1, period 1, from 0 rising) at t."""
    phase = t % 1.0
    return 4 * phase if phase < 0.25 else (2 - 4 * phase if phase < 0.75 else 4 * phase - 4)


class Snapshots(unittest.TestCase):
    def check_run(self, run_dir, size, height):
        """size: the box's half-widths or the cylinder's radius (one value)."""
        entries = collection(os.path.join(run_dir, "snapshots.pvd"))
        chambers = collection(os.path.join(run_dir, "chamber.pvd"))
        _, rows = read_observables(os.path.join(run_dir, "observables.dat"))
        t_end = rows[-1][0]
        # At the start, after the first step at or past each multiple of the
        # interval, and at the end of the run.
        times = [t for t, _ in entries]
        self.assertEqual(times[0], 0.0)
        self.assertEqual(times[-1], t_end)
        self.assertEqual(times, sorted(set(times)))
        multiples = int(t_end / SNAP_EVERY + 1e-9)
        scheduled = times[1:-1]
        if len(scheduled) < multiples:  # the end came with the last multiple
            scheduled.append(times[-1])
        self.assertEqual(len(scheduled), multiples, times)
        for k, t in enumerate(scheduled, 1):
            self.assertTrue(k * SNAP_EVERY - 1e-9 <= t < k * SNAP_EVERY + STEP, (k, t))
        self.assertEqual([t for t, _ in chambers], times)
        files = sorted(os.listdir(os.path.join(run_dir, "snapshots")))
        self.assertEqual(files, sorted(os.path.basename(f) for _, f in entries + chambers))
        for (t, name), (_, chamber_name) in zip(entries, chambers):
            vtp = parse_vtp(os.path.join(run_dir, name))
            self.assertEqual((vtp["points"], vtp["verts"]), (N, N))
            self.assertEqual(vtp["time"], t)
            self.assertEqual(vtp["radius"], [RADIUS] * N)
            self.assertEqual(len(vtp["velocity"]), 3 * N)
            self.assertEqual(len(vtp["centres"]), 3 * N)
            self.assertEqual(vtp["connectivity"], list(range(N)))
            self.assertEqual(vtp["offsets"], list(range(1, N + 1)))
            # The base follows its triangle wave, and no sphere reaches below
            # it or through a wall.
            base = vtp["BaseHeight"][0]
            self.assertAlmostEqual(base, base_height(t), delta=1e-9)
            self.assertEqual(vtp.get("ChamberHalfWidths", vtp.get("ChamberRadius")), size)
            self.assertEqual(vtp["ChamberHeight"], [height])
            centres = [vtp["centres"][3 * i:3 * i + 3] for i in range(N)]
            self.assertGreaterEqual(min(z for _, _, z in centres) - RADIUS, base - 1e-6, t)
            reach = max(max(abs(x), abs(y)) if len(size) == 2 else math.hypot(x, y)
                        for x, y, _ in centres)
            self.assertLessEqual(reach, size[0] - RADIUS + 1e-6, t)
            # The chamber file: the base polygon at the base's height, the
            # wall's facets up to the top, the top.
            walls = parse_vtp(os.path.join(run_dir, chamber_name))
            self.assertEqual(walls["BaseHeight"], [base])
            corners = [walls["centres"][3 * i:3 * i + 3] for i in range(walls["points"])]
            facets = walls["points"] // 2
            self.assertEqual(walls["surface"], [0] + [1] * facets + [2])
            self.assertEqual(walls["offsets"][0], facets)
            base_corners = [corners[k] for k in walls["connectivity"][:facets]]
            self.assertEqual({z for _, _, z in base_corners}, {base})
            top_corners = [corners[k] for k in walls["connectivity"][-facets:]]
            self.assertEqual({z for _, _, z in top_corners}, {height})
            for x, y, _ in corners:
                self.assertAlmostEqual(max(abs(x), abs(y)) if len(size) == 2 else math.hypot(x, y),
                                       size[0], delta=1e-12)
        # The last snapshot is the final state, centres a radius above the
        # lowest points of state.out.
        state = read_state(os.path.join(run_dir, "state.out"))
        self.assertEqual(len(state), N)
        for i, s in enumerate(state):
            expected = (s[0], s[1], s[2] + RADIUS)
            self.assertTrue(all(close(a, b) for a, b in zip(vtp["centres"][3 * i:3 * i + 3], expected)), i)
            self.assertTrue(all(close(a, b) for a, b in zip(vtp["velocity"][3 * i:3 * i + 3], s[3:])), i)
        no_snapshot_temporaries(self, run_dir)

    def test_box_as_text(self):
        self.check_run(BOX_RUN, [4.0, 4.0], 5.0)

    def test_cylinder_binary(self):
        self.check_run(CYL_RUN, [4.5], 20.0)

    def test_a_directory_that_cannot_be_made_fails_at_start_up(self):
        run_dir = os.path.join(WORK, "blocked")
        write_ini(run_dir, "box.ini", BOX, 1)
        with open(os.path.join(run_dir, "snapshots"), "w") as f:
            f.write("in the way\n")
        result = run([CRATE, "--seed", "1", "--snapshot-every", "0.5", run_dir])
        self.assertEqual(result.returncode, 1)
        self.assertIn("Cannot make directory snapshots", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(run_dir, "snapshots.pvd")))
        self.assertFalse(os.path.exists(os.path.join(run_dir, "chamber.pvd")))
        self.assertFalse(os.path.exists(os.path.join(run_dir, "state.out")))


class Convert(unittest.TestCase):
    def test_state2vtk_matches_the_last_snapshot(self):
        result = run([os.path.join(TOOLS, "state2vtk"), CYL_RUN])
        self.assertEqual(result.returncode, 0, result.stderr)
        converted = parse_vtp(os.path.join(CYL_RUN, "state.vtp"))
        root = ET.parse(os.path.join(CYL_RUN, "snapshots.pvd")).getroot()
        last = parse_vtp(os.path.join(CYL_RUN, root.find("Collection")[-1].get("file")))
        self.assertEqual((converted["points"], converted["verts"]), (N, N))
        for key in ("radius", "velocity", "centres"):
            self.assertEqual(len(converted[key]), len(last[key]))
            self.assertTrue(all(close(a, b) for a, b in zip(converted[key], last[key])), key)
        self.assertEqual(converted["offsets"], last["offsets"])

    def test_state2xyz(self):
        state_file = os.path.join(BOX_RUN, "state.out")
        out = os.path.join(WORK, "state.xyz")
        # A state file, a diameter (radius 1) and a time given; the box's
        # inner space, from the base's lowest reach to the top, is the cell.
        result = run([os.path.join(TOOLS, "state2xyz"), "--diameter", "2", "--time", "3", "-o", out,
                      state_file])
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(out) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], str(N))
        self.assertEqual(lines[1], 'Properties=species:S:1:pos:R:3:velo:R:3:radius:R:1 pbc="F F F" '
                         'Lattice="8.0 0 0 0 8.0 0 0 0 6.0" Origin="-4.0 -4.0 -1.0" Time=3.0')
        # A cylinder has no box to give.
        result = run([os.path.join(TOOLS, "state2xyz"), "-o", "-", CYL_RUN])
        self.assertEqual(result.stdout.splitlines()[1],
                         'Properties=species:S:1:pos:R:3:velo:R:3:radius:R:1 pbc="F F F"')
        state = read_state(state_file)
        self.assertEqual(len(lines), N + 2)
        for s, line in zip(state, lines[2:]):
            fields = line.split()
            self.assertEqual(fields[0], "S")
            values = [float(x) for x in fields[1:]]
            self.assertEqual(values, [s[0], s[1], s[2] + 1.0] + s[3:] + [1.0])

    def test_without_a_diameter(self):
        bare = os.path.join(WORK, "bare")
        os.makedirs(bare, exist_ok=True)
        shutil.copy(os.path.join(BOX_RUN, "state.out"), bare)
        result = run([os.path.join(TOOLS, "state2vtk"), bare])
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("shot.ini", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(bare, "state.vtp")))


# Four short runs; the table edits single values (by place and by key), a
# whole line and keeps the comments.
TABLE = """# four short runs
name    box.ini:2:1  shot.count    box.ini:1  par.ini:4
low     0.5          30            4,4,5      1
mid     1.0          30            4,4,5      1
high    1.5          30            4,4,5      1
narrow  1.0          20            3,3,5      1
"""
TABLE_ROWS = [("low", "0.5", "30", "4 4 5"), ("mid", "1.0", "30", "4 4 5"),
              ("high", "1.5", "30", "4 4 5"), ("narrow", "1.0", "20", "3 3 5")]


def sweep_template(tag):
    """A template run directory and the table file, for one test."""
    template = os.path.join(WORK, "template-" + tag)
    if not os.path.isdir(template):
        write_ini(template, "box.ini", BOX, 1)
    table = os.path.join(WORK, "table-%s.txt" % tag)
    with open(table, "w") as f:
        f.write(TABLE)
    return template, table


def check_sweep(test, out):
    """The run directories and the summary of a sweep of TABLE."""
    for name, amplitude, spheres, half_widths in TABLE_ROWS:
        run_dir = os.path.join(out, name)
        with open(os.path.join(run_dir, "ini", "box.ini")) as f:
            box = f.read().splitlines()
        with open(os.path.join(run_dir, "ini", "shot.ini")) as f:
            shot = f.read().splitlines()
        test.assertEqual(box[0], half_widths.ljust(15) + "half-widths along x and y, inner height")
        test.assertEqual(box[1], (amplitude + " 1").ljust(15) + "base amplitude, period")
        test.assertEqual(box[2:], BOX.splitlines()[2:])
        test.assertEqual(shot[0], (spheres + " 1").ljust(14) + "number of spheres, diameter")
        with open(os.path.join(run_dir, "exit-status")) as f:
            test.assertEqual(f.read().strip(), "0", name)
    with open(os.path.join(out, "summary.dat")) as f:
        lines = f.read().splitlines()
    header = lines[0][1:].split()
    test.assertEqual(header[:7], ["name", "seed", "status", "box.ini:2:1", "shot.count",
                                  "box.ini:1", "par.ini:4"])
    rows = [line.split() for line in lines[1:]]
    test.assertEqual([r[0] for r in rows], [r[0] for r in TABLE_ROWS])
    col = {c: i for i, c in enumerate(header)}
    for (name, amplitude, spheres, half_widths), row in zip(TABLE_ROWS, rows):
        test.assertEqual(row[col["status"]], "0")
        test.assertEqual(row[col["box.ini:2:1"]], amplitude)
        test.assertEqual(row[col["box.ini:1"]], half_widths.replace(" ", ","))
        # The summary agrees with the run's own observables.
        columns, obs = read_observables(os.path.join(out, name, "observables.dat"))
        o = {c: i for i, c in enumerate(columns)}
        t = obs[-1][o["t"]]
        test.assertGreaterEqual(t, 1.0 - 1e-9)
        test.assertTrue(close(float(row[col["t"]]), t, 1e-5))
        test.assertEqual(int(row[col["events"]]), int(obs[-1][o["events"]]))
        for counter, rate in (("base_impacts", "base_rate"), ("top_impacts", "top_rate")):
            test.assertTrue(close(float(row[col[rate]]), obs[-1][o[counter]] / t, 1e-5), rate)
        test.assertGreater(float(row[col["base_rate"]]), 0)
        test.assertGreater(float(row[col["ke"]]), 0)
        test.assertGreater(float(row[col["z_com"]]), 0)


class Sweep(unittest.TestCase):
    def test_four_runs_under_gnu_parallel_two_at_a_time(self):
        template, table = sweep_template("parallel")
        out = os.path.join(WORK, "sweep-parallel")
        shutil.rmtree(out, ignore_errors=True)
        result = run([os.path.join(TOOLS, "sweep"), "--program", CRATE, "--sshlogin", "2/:",
                      "--seed", "3", template, table, out, "--", "--observe-every", "0.1"])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("4 runs on this machine (2 at a time)", result.stdout)
        check_sweep(self, out)
        with open(os.path.join(out, "joblog")) as f:
            jobs = [line.split("\t") for line in f.read().splitlines()[1:]]
        self.assertEqual(len(jobs), 4)
        self.assertEqual([j[6] for j in jobs], ["0"] * 4)

    def test_each_machine_takes_its_share_of_runs_at_a_time(self):
        # GNU parallel's count of the runs a machine takes at a time: --jobs
        # with the CPUs that "NCPUS/" gives (or this machine has).
        sweep = load_tool("sweep")
        cores = os.cpu_count()
        for jobs, login, expected in (("100%", "2/node1", ("node1", 2)),
                                      ("100%", "@rack1/8/node2", ("node2", 8)),
                                      ("50%", "3/node1", ("node1", 2)),
                                      ("3", "8/node1", ("node1", 3)),
                                      ("+1", ":", ("this machine", cores + 1)),
                                      ("-4", "2/node1", ("node1", -2)),  # refused
                                      ("100%", "node3", ("node3", "100% of its CPUs"))):
            self.assertEqual(sweep.host_slots(jobs, login), expected, (jobs, login))

    def test_bad_tables_are_refused(self):
        template, _ = sweep_template("bad")
        for text, message in (("box.ini:2:1\n0.5 1\n", "cells"),
                              ("box.ini:2:3\n0.5\n", "has 2 values"),
                              ("nothere.ini:1\n1\n", "no ini/nothere.ini")):
            table = os.path.join(WORK, "bad-table.txt")
            with open(table, "w") as f:
                f.write(text)
            out = os.path.join(WORK, "sweep-bad")
            shutil.rmtree(out, ignore_errors=True)
            result = run([os.path.join(TOOLS, "sweep"), "--program", CRATE, template, table, out])
            self.assertNotEqual(result.returncode, 0)
            self.assertIn(message, result.stderr)


def die_with_parent():
    # The daemons end when the test process ends, however it ends.
    import ctypes
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Slurm(unittest.TestCase):
    """The job-array script of a sweep, run by the single-node Slurm of
    tools/slurm-local, started on this machine and stopped afterwards."""

    def test_job_array(self):
        template, table = sweep_template("slurm")
        out = os.path.join(WORK, "sweep-slurm")
        shutil.rmtree(out, ignore_errors=True)
        result = run([os.path.join(TOOLS, "sweep"), "--slurm", "--program", CRATE, "--seed", "3",
                      template, table, out, "--", "--observe-every", "0.1"])
        self.assertEqual(result.returncode, 0, result.stderr)
        slurm = load_tool("slurm-local")
        d = tempfile.mkdtemp(prefix="slurm.", dir=WORK)
        daemons = []
        try:
            daemons = slurm.start(d, cpus=2, preexec_fn=die_with_parent)
            try:
                result = run(["sbatch", "--wait", os.path.join(out, "sweep.sbatch")],
                             env=slurm.environment(d), timeout=120)
            except subprocess.TimeoutExpired:
                self.fail("the job array did not end in 2 minutes:" + slurm.logs(d))
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr + slurm.logs(d))
            status = run([os.path.join(TOOLS, "slurm-local"), "status", d])
            self.assertEqual(status.returncode, 0, status.stdout + status.stderr)
            self.assertIn("node      idle", status.stdout)
        finally:
            stopped = slurm.stop(d)
            for daemon in daemons:
                daemon.wait()
        self.assertEqual(sorted(stopped), ["munged", "slurmctld", "slurmd"])
        self.assertEqual(slurm.running(d), [])
        result = run([os.path.join(TOOLS, "sweep"), "--gather", out])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        check_sweep(self, out)
        self.assertEqual(len([f for f in os.listdir(out) if f.startswith("slurm-")]), 4)


if __name__ == "__main__":
    if sys.argv[1:] == ["runs"]:
        make_runs()
    else:
        unittest.main(verbosity=2)
