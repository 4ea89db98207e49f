"""Readers and writers of a run directory's files, shared by the tools.

Standard library only. A run directory holds the parameter files in ini/ and
the result files the programs write (see README.md).
"""

import math
import os
import re
import zlib


def param_values(path, line_no):
    """The leading numbers of line line_no (from 1) of a parameter file, as
    written (strings): the values of the line; the rest is comment."""
    with open(path) as f:
        lines = f.read().split("\n")
    if line_no < 1 or line_no > len(lines):
        raise ValueError("%s has no line %d" % (path, line_no))
    values = []
    for token in lines[line_no - 1].split():
        if not is_number(token):
            break
        values.append(token)
    return values


def is_number(text):
    try:
        float(text)
    except ValueError:
        return False
    return True


def read_values(path, count):
    """The first count values of a parameter file, read as the programs do:
    a value missing from its line is taken from the next one."""
    values = []
    with open(path) as f:
        for line in f:
            for token in line.split():
                if len(values) == count:
                    break
                values.append(float(token))
            if len(values) == count:
                return values
    raise ValueError("%s holds fewer than %d values" % (path, count))


def diameter(run_dir):
    """The sphere diameter of ini/shot.ini (the second value of its first line)."""
    return read_values(os.path.join(run_dir, "ini", "shot.ini"), 2)[1]


def chamber_kind(run_dir):
    """"box" or "cylinder" from the result files of a run ("top.zone" and the
    header of the cylinder's histograms), None when they do not tell."""
    if os.path.exists(os.path.join(run_dir, "top.zone")):
        return "box"
    for name in ("top.hist", "bot.hist"):
        path = os.path.join(run_dir, name)
        if os.path.exists(path):
            with open(path) as f:
                first = f.readline()
            if first.startswith("#"):
                return "cylinder"
            if first.strip():
                return "box"
    return None


def chamber_size(run_dir, kind):
    """The inner size of the chamber from its parameter file: (half-width x,
    half-width y, height) for the box, (radius, height) for the cylinder;
    None when the file cannot be read."""
    try:
        if kind == "box":
            return tuple(read_values(os.path.join(run_dir, "ini", "box.ini"), 3))
        if kind == "cylinder":
            return tuple(read_values(os.path.join(run_dir, "ini", "cyl.ini"), 2))
    except (OSError, ValueError):
        return None
    return None


def base_motion(run_dir, kind):
    """(amplitude, period) of the base from the second line of the chamber's
    parameter file; None when the file cannot be read."""
    name = {"box": "box.ini", "cylinder": "cyl.ini"}.get(kind)
    try:
        values = param_values(os.path.join(run_dir, "ini", name), 2) if name else []
        return (float(values[0]), float(values[1])) if len(values) >= 2 else None
    except (OSError, ValueError):
        return None


def to_float(text):
    """A number of a result file; "nan", "-nan", "inf" read as non-finite."""
    try:
        return float(text)
    except ValueError:
        return math.nan


def read_table(path):
    """Rows of numbers of a whitespace-separated file, in blocks split by
    empty lines; lines starting with "#" are skipped, as are lines too short
    to be rows of the first one's width (a line being written)."""
    blocks = [[]]
    width = None
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.split()
            if not fields:
                if blocks[-1]:
                    blocks.append([])
                continue
            if width is None:
                width = len(fields)
            if len(fields) < width:
                continue
            blocks[-1].append([to_float(x) for x in fields[:width]])
    return [b for b in blocks if b]


def read_observables(path):
    """(column names, rows) of an observables.dat."""
    with open(path) as f:
        header = f.readline()
        if not header.startswith("#"):
            raise ValueError("%s: no header line" % path)
        columns = header[1:].split()
        rows = []
        for line in f:
            fields = line.split()
            if len(fields) == len(columns):
                rows.append([to_float(x) for x in fields])
    return columns, rows


def read_state(path):
    """(positions, velocities) of a state file, x y z vx vy vz per line."""
    positions, velocities = [], []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            fields = line.split()
            if not fields:
                continue
            if len(fields) != 6:
                raise ValueError("%s:%d: expected 6 numbers" % (path, number))
            values = [float(x) for x in fields]
            positions.append(values[:3])
            velocities.append(values[3:])
    return positions, velocities


def _g17(x):
    # The shortest text that reads back as the same double.
    return repr(float(x))


def record_time(state_path):
    """The simulated time of a state file from the run record beside it
    (run.record), when the record belongs to it: its last two lines give
    the state's size and CRC-32. None when there is no such record."""
    record_path = os.path.join(os.path.dirname(state_path) or ".", "run.record")
    try:
        with open(record_path) as f:
            fields = dict(line.split(None, 1) for line in f
                          if line.strip() and not line.startswith("#"))
        with open(state_path, "rb") as f:
            data = f.read()
        if (int(fields["state_bytes"]) != len(data)
                or int(fields["state_crc32"], 16) != zlib.crc32(data)):
            return None
        return float(fields["time"])
    except (OSError, KeyError, ValueError):
        return None


def write_vtp(f, centres, velocities, radius, time=0.0):
    """A VTK XML PolyData file of the sphere centres, as the batch programs
    write the spheres of their snapshots as text (common/snapshot.cpp), but
    without the base's height and the chamber's size, which a state file
    does not give."""
    n = len(centres)
    w = f.write
    w('<?xml version="1.0"?>\n')
    w('<VTKFile type="PolyData" version="1.0" byte_order="LittleEndian"'
      ' header_type="UInt64">\n')
    w("  <PolyData>\n    <FieldData>\n")
    w('      <DataArray type="Float64" Name="TimeValue" NumberOfTuples="1"'
      ' format="ascii">%s</DataArray>\n' % _g17(time))
    w("    </FieldData>\n")
    w('    <Piece NumberOfPoints="%d" NumberOfVerts="%d" NumberOfLines="0"'
      ' NumberOfStrips="0" NumberOfPolys="0">\n' % (n, n))
    w('      <PointData Scalars="radius" Vectors="velocity">\n')
    w('        <DataArray type="Float64" Name="radius" format="ascii">\n')
    for _ in range(n):
        w("          %s\n" % _g17(radius))
    w("        </DataArray>\n")
    w('        <DataArray type="Float64" Name="velocity" NumberOfComponents="3"'
      ' format="ascii">\n')
    for v in velocities:
        w("          %s %s %s\n" % tuple(_g17(x) for x in v))
    w("        </DataArray>\n      </PointData>\n      <Points>\n")
    w('        <DataArray type="Float64" Name="centre" NumberOfComponents="3"'
      ' format="ascii">\n')
    for c in centres:
        w("          %s %s %s\n" % tuple(_g17(x) for x in c))
    w("        </DataArray>\n      </Points>\n      <Verts>\n")
    w('        <DataArray type="Int64" Name="connectivity" format="ascii">\n')
    for i in range(n):
        w("          %d\n" % i)
    w("        </DataArray>\n")
    w('        <DataArray type="Int64" Name="offsets" format="ascii">\n')
    for i in range(1, n + 1):
        w("          %d\n" % i)
    w("        </DataArray>\n      </Verts>\n    </Piece>\n  </PolyData>\n</VTKFile>\n")


def write_atomically(path, write):
    """Calls write(file) on a temporary file beside path and renames it onto
    path once complete, so that no half-written file is ever left."""
    temp = "%s.%d.tmp" % (path, os.getpid())
    try:
        with open(temp, "w") as f:
            write(f)
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise


_NAME_RE = re.compile(r"^[A-Za-z0-9._+-]+$")


def is_plain_name(text):
    """True for a name usable as a directory name in a command line."""
    return bool(_NAME_RE.match(text)) and text not in (".", "..")


def state_source(source):
    """(state file, run directory) for a command-line argument naming a run
    directory (its state.out) or a state file (its directory)."""
    if os.path.isdir(source):
        return os.path.join(source, "state.out"), source
    return source, os.path.dirname(source) or "."
