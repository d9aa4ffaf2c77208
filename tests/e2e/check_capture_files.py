#!/usr/bin/env python3
"""Checks torva-host's C3D and OpenSim motion files against its CSV, as analysis tools read them.

Usage: check_capture_files.py CSV C3D [MOT]

The C3D file is read with the independent reader (tests/host/c3d_reader.py) and its force
platforms are computed as the C3D format describes TYPE-2 plates: plate axes from CORNERS, the
measuring origin from ORIGIN, the CoP on the surface from the six channels. For every loaded sample
the lab CoP must be the CSV's CoP turned and moved by the layout in the CSV's comment lines
(within 1 mm), and the lab Fz the CSV's Fz (within 0.1 N). The motion file must have a row per
CSV row, its stated columns, no NaN, and vy = -Fz of the CSV. Prints what it checked; exits 1 on
the first fault.
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'host'))
from c3d_reader import C3dFile  # noqa: E402

COP_TOLERANCE_MM = 1.0
FZ_TOLERANCE_N = 0.1
MOT_TOLERANCE = 1e-3
VALUES_PER_PLATE = 9


def fail(message):
    print('FAIL: ' + message)
    sys.exit(1)


def read_csv(path):
    layout, header, rows = {}, None, []
    with open(path) as csv:
        for line in csv:
            line = line.rstrip('\n')
            if line.startswith('# layout: '):
                name, *pairs = line[len('# layout: '):].split()
                values = dict(pair.split('=') for pair in pairs)
                layout[name] = [float(values[key])
                                for key in ('x_mm', 'y_mm', 'z_mm', 'rotation_deg')]
            elif line.startswith('#'):
                continue
            elif header is None:
                header = line.split(',')
            else:
                rows.append(line.split(','))
    plates = [column.split('.')[0] for column in header[2::VALUES_PER_PLATE]]
    return layout, plates, rows


def sub(a, b):
    return [x - y for x, y in zip(a, b)]


def unit(v):
    length = math.sqrt(sum(x * x for x in v))
    return [x / length for x in v]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def turn(axes, v):
    """axes: the plate's x, y, z in the lab; v in plate coordinates."""
    return [sum(axes[k][i] * v[k] for k in range(3)) for i in range(3)]


def csv_lab_cop(place, cx, cy):
    x, y, z, rotation = place
    t = math.radians(rotation)
    hx, hy = 1000 * cx, 1000 * cy
    return [x + math.cos(t) * hx - math.sin(t) * hy, y + math.sin(t) * hx + math.cos(t) * hy, z]


def check_c3d(path, layout, plates, rows):
    with open(path, 'rb') as file:
        c3d = C3dFile(file.read())
    if c3d.parameter('POINT', 'USED') != 0:
        fail('POINT:USED is not 0')
    if c3d.parameter('FORCE_PLATFORM', 'USED') != len(plates):
        fail('FORCE_PLATFORM:USED is not %d' % len(plates))
    if c3d.parameter('MANUFACTURER', 'SOFTWARE') != 'torva-host':
        fail('MANUFACTURER:SOFTWARE does not name torva-host')
    labels = c3d.joined('ANALOG', 'LABELS')
    frames = c3d.analog()
    first = int(rows[0][0])
    if len(frames) != int(rows[-1][0]) - first + 1:
        fail('%d C3D frames for CSV frames %s to %s' % (len(frames), rows[0][0], rows[-1][0]))
    corners_all = c3d.parameter('FORCE_PLATFORM', 'CORNERS')
    origins = c3d.parameter('FORCE_PLATFORM', 'ORIGIN')
    channels = c3d.parameter('FORCE_PLATFORM', 'CHANNEL')
    types = c3d.parameter('FORCE_PLATFORM', 'TYPE')
    loaded = 0
    for p, name in enumerate(plates):
        if (types[p] if isinstance(types, list) else types) != 2:
            fail('plate %s is not TYPE 2' % name)
        numbers = channels[p]
        if not labels[numbers[0] - 1].startswith(name):
            fail('channel %d of plate %s is labelled %s' % (numbers[0], name, labels[numbers[0] - 1]))
        corners = corners_all[p]
        centre = [sum(c[i] for c in corners) / 4 for i in range(3)]
        axes = [unit(sub(corners[0], corners[1])), unit(sub(corners[0], corners[3]))]
        axes.append(cross(axes[0], axes[1]))
        origin = origins[p]
        measuring_origin = sub(centre, turn(axes, origin))
        for row in rows:
            cells = row[2 + p * VALUES_PER_PLATE:2 + (p + 1) * VALUES_PER_PLATE]
            if cells[0] == '' or float(cells[2]) == 0:
                continue
            fx, fy, fz, mx, my, mz = (frames[int(row[0]) - first][n - 1] for n in numbers)
            h = origin[2]
            cop_plate = [(h * fx - my) / fz, (mx + h * fy) / fz, h]
            cop = [a + b for a, b in zip(measuring_origin, turn(axes, cop_plate))]
            expected = csv_lab_cop(layout[name], float(cells[6]), float(cells[7]))
            if math.dist(cop, expected) > COP_TOLERANCE_MM:
                fail('frame %s plate %s: C3D CoP %s, CSV and layout %s' % (row[0], name, cop,
                                                                            expected))
            lab_fz = turn(axes, [fx, fy, fz])[2]
            if abs(lab_fz - float(cells[2])) > FZ_TOLERANCE_N:
                fail('frame %s plate %s: C3D Fz %g, CSV %s' % (row[0], name, lab_fz, cells[2]))
            loaded += 1
    return loaded


def check_mot(path, plates, rows):
    with open(path) as mot:
        lines = mot.read().split('\n')
    end = lines.index('endheader')
    header = dict(line.split('=', 1) for line in lines[1:end] if '=' in line)
    columns = lines[end + 1].split('\t')
    data = [line.split('\t') for line in lines[end + 2:] if line]
    if int(header['nRows']) != len(data) or len(data) != len(rows):
        fail('nRows %s, %d motion rows, %d CSV rows' % (header['nRows'], len(data), len(rows)))
    if int(header['nColumns']) != len(columns) or len(columns) != 1 + 9 * len(plates):
        fail('nColumns %s, %d columns' % (header['nColumns'], len(columns)))
    for row, cells in zip(rows, data):
        values = [float(cell) for cell in cells]
        if any(math.isnan(value) for value in values):
            fail('NaN in the motion row at time %s' % cells[0])
        for p in range(len(plates)):
            fz = row[2 + p * VALUES_PER_PLATE + 2]
            vy = values[columns.index('%d_ground_force_vy' % (p + 1))]
            if abs(vy + (float(fz) if fz else 0.0)) > MOT_TOLERANCE:
                fail('time %s plate %d: vy %g, CSV Fz %s' % (cells[0], p + 1, vy, fz))
    return len(data)


def main():
    csv, c3d = sys.argv[1:3]
    mot = sys.argv[3] if len(sys.argv) > 3 else None
    layout, plates, rows = read_csv(csv)
    if not rows:
        fail('the CSV has no rows')
    loaded = check_c3d(c3d, layout, plates, rows)
    motion_rows = check_mot(mot, plates, rows) if mot else 0
    print('ok: %d loaded samples, %d motion rows' % (loaded, motion_rows))


if __name__ == '__main__':
    main()
