#!/usr/bin/env python3
"""Makes the pictures of the README's tools section from the shipped
parameter files: docs/tool-*.png.

Usage: docs/pictures.py [BUILD_DIR]   (default: build; needs gnuplot)

Runs the box on ini/ as shipped (seed 1, snapshots every quarter cycle,
profiles from cycle 20 in quarters of the cycle),
then each tool on the run, the cylinder on ini/ as shipped for its impact
map, and a sweep of the base amplitude over four runs
of 50 cycles. Takes a few minutes.
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True
TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOLS = os.path.join(TOP, "tools")
DOCS = os.path.join(TOP, "docs")
sys.path.insert(0, TOOLS)
import runfiles  # noqa: E402

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build"))
HALF_X, HALF_Y, HEIGHT = runfiles.read_values(os.path.join(TOP, "ini", "box.ini"), 3)

STYLE = """set encoding utf8
set terminal pngcairo size %d,%d font "DejaVu Sans,10" noenhanced
set output "%s"
set palette defined (0 "#440154", 0.25 "#3b528b", 0.5 "#21918c", 0.75 "#5ec962", 1 "#fde725")
"""


def sh(*command):
    print("+ " + " ".join(command))
    subprocess.run(command, check=True)


def gnuplot(script):
    subprocess.run(["gnuplot"], input=script, universal_newlines=True, check=True)


def vtp_base(path):
    """The base's height in a snapshot's field data."""
    poly = ET.parse(path).getroot().find("PolyData")
    return float(poly.find("FieldData/DataArray[@Name='BaseHeight']").text)


def vtp_spheres(path):
    """(x, y, z, radius, speed) per sphere of a .vtp file."""
    piece = ET.parse(path).getroot().find("PolyData/Piece")
    arrays = {a.get("Name"): [float(x) for x in a.text.split()] for a in piece.find("PointData")}
    c = [float(x) for x in piece.find("Points/DataArray").text.split()]
    v = arrays["velocity"]
    return [(c[3 * i], c[3 * i + 1], c[3 * i + 2], arrays["radius"][i],
             math.sqrt(v[3 * i] ** 2 + v[3 * i + 1] ** 2 + v[3 * i + 2] ** 2))
            for i in range(len(arrays["radius"]))]


def side_view(spheres, data, title, base=None):
    """A gnuplot panel: the spheres seen from the side (x, z), their true
    size, coloured by speed; the base, when its height is given."""
    with open(data, "w") as f:
        for x, _, z, r, speed in sorted(spheres, key=lambda s: s[1]):
            f.write("%r %r %r %r\n" % (x, z, r, speed))
    floor = ""
    if base is not None:
        floor = ("set object 1 rect from %g,-1.5 to %g,%r behind fs solid 1.0 noborder "
                 "fc rgb \"#555555\"\n" % (-HALF_X, HALF_X, base))
    return floor + ("set title %s\nset size ratio -1\nset xrange [%g:%g]\nset yrange [-1.5:12]\n"
            "set xlabel \"x [diameters]\"\nset ylabel \"height z [diameters]\"\n"
            "set cblabel \"speed [diameters/cycle]\"\nset cbrange [0:4]\n"
            "plot \"%s\" using 1:2:3:4 with circles fill solid 0.9 border lc rgb \"#333333\""
            " lc palette notitle\n"
            % (runfiles_quote(title), -HALF_X, HALF_X, data))


def runfiles_quote(text):
    return '"' + text.replace('"', '\\"') + '"'


def main():
    work = tempfile.mkdtemp(prefix="shotsim-pictures.")
    run = os.path.join(work, "run")
    shutil.copytree(os.path.join(TOP, "ini"), os.path.join(run, "ini"))
    sh(os.path.join(BUILD, "source", "cratesim-batch"), "--seed", "1", "--observe-every", "0.5",
       "--snapshot-every", "0.25", "--profiles", "20", "--profile-phases", "4", run)

    # tools/plot: the impact histograms of the base; the base's impact map
    # of the cylinder run on ini/ as shipped.
    sh(os.path.join(TOOLS, "plot"), run)
    shutil.copy(os.path.join(run, "plots", "bot-hist.png"), os.path.join(DOCS, "tool-plot.png"))
    shutil.copy(os.path.join(run, "plots", "profiles.png"), os.path.join(DOCS, "tool-profiles.png"))
    drum = os.path.join(work, "drum")
    shutil.copytree(os.path.join(TOP, "ini"), os.path.join(drum, "ini"))
    sh(os.path.join(BUILD, "source", "drumsim-batch"), "--seed", "1", drum)
    sh(os.path.join(TOOLS, "plot"), drum)
    shutil.copy(os.path.join(drum, "plots", "bot-map.png"), os.path.join(DOCS, "tool-plot-map.png"))

    # --snapshot-every: four snapshots over one cycle, seen from the side.
    pvd = ET.parse(os.path.join(run, "snapshots.pvd")).getroot().find("Collection")
    entries = [(float(d.get("timestep")), d.get("file")) for d in pvd]
    chosen = [e for e in entries if 100.0 - 1e-6 <= e[0] < 101.0 - 1e-6][:4]
    script = STYLE % (1000, 380, os.path.join(DOCS, "tool-snapshots.png"))
    script += "set multiplot layout 1,4 title \"snapshots.pvd: the bed over one cycle (x-z side view, coloured by speed; grey: the base at BaseHeight)\"\nunset colorbox\n"
    for k, (t, name) in enumerate(chosen):
        path = os.path.join(run, name)
        script += side_view(vtp_spheres(path), os.path.join(work, "snap%d" % k),
                            "t = %.2f cycles" % t, vtp_base(path))
    gnuplot(script + "unset multiplot\n")

    # tools/state2vtk: the final state from state.vtp, from the side.
    sh(os.path.join(TOOLS, "state2vtk"), run)
    script = STYLE % (560, 560, os.path.join(DOCS, "tool-state2vtk.png"))
    script += side_view(vtp_spheres(os.path.join(run, "state.vtp")), os.path.join(work, "vtp"),
                        "state.vtp: final state, side view")
    gnuplot(script)

    # tools/state2xyz: the final state from state.xyz, from above,
    # coloured by the height of the centres.
    sh(os.path.join(TOOLS, "state2xyz"), run)
    with open(os.path.join(run, "state.xyz")) as f:
        lines = f.read().splitlines()[2:]
    with open(os.path.join(work, "xyz"), "w") as f:
        for line in sorted(lines, key=lambda l: float(l.split()[3])):
            s, x, y, z, vx, vy, vz, r = line.split()
            f.write("%s %s %s %s\n" % (x, y, r, z))
    script = STYLE % (560, 500, os.path.join(DOCS, "tool-state2xyz.png"))
    script += ("set title \"state.xyz: final state seen from above\"\nset size ratio -1\n"
               "set xrange [%g:%g]\nset yrange [%g:%g]\nset xlabel \"x [diameters]\"\n"
               "set ylabel \"y [diameters]\"\nset cblabel \"height of the centre [diameters]\"\n"
               "set object 1 rect from %g,%g to %g,%g fs empty border lc rgb \"black\" lw 2\n"
               "plot \"%s\" using 1:2:3:4 with circles fill solid 0.9 border lc rgb \"#333333\""
               " lc palette notitle\n"
               % (-HALF_X, HALF_X, -HALF_Y, HALF_Y, -HALF_X, -HALF_Y, HALF_X, HALF_Y,
                  os.path.join(work, "xyz")))
    gnuplot(script)

    # tools/sweep: the base amplitude from 1 to 2.5 diameters, 50 cycles each.
    table = os.path.join(work, "amplitude.table")
    with open(table, "w") as f:
        f.write("name  box.ini:2:1  par.ini:4\n"
                "a1.0  1.0          50\na1.5  1.5          50\n"
                "a2.0  2.0          50\na2.5  2.5          50\n")
    sweep = os.path.join(work, "sweep")
    sh(os.path.join(TOOLS, "sweep"), "--build", BUILD, "--skip", "10", run, table, sweep, "--",
       "--observe-every", "0.1")
    with open(os.path.join(sweep, "summary.dat")) as f:
        header = f.readline()[1:].split()
        rows = [line.split() for line in f]
    with open(os.path.join(work, "summary"), "w") as f:
        for row in rows:
            f.write(" ".join(row[header.index(c)] for c in ("box.ini:2:1", "ke", "z_com", "base_rate"))
                    + "\n")
    script = STYLE % (640, 400, os.path.join(DOCS, "tool-sweep.png"))
    script += ("set title \"summary.dat of a sweep of the base amplitude (means over cycles 10 to 50)\"\n"
               "set xlabel \"base amplitude [diameters]\"\nset xrange [0.8:2.7]\n"
               "set ylabel \"ke per sphere [diameters²/cycle²]\"\nset y2label \"z_com [diameters]\"\n"
               "set ytics nomirror\nset y2tics\nset yrange [0:*]\nset y2range [0:*]\n"
               "set key top left\nset grid\n"
               "plot \"%s\" using 1:2 with linespoints lw 2 pt 7 title \"ke\", "
               "\"\" using 1:3 axes x1y2 with linespoints lw 2 pt 5 title \"z_com (right axis)\"\n"
               % os.path.join(work, "summary"))
    gnuplot(script)
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
