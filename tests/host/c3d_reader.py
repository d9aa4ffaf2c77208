#!/usr/bin/env python3
"""An independent C3D reader for tests, written from the format description alone.

It reads the header block, walks the parameter section generically (groups, parameters of every
type, any dimensions) and reads the analog data, scaled as the format says:
(value - ANALOG:OFFSET) * ANALOG:SCALE * ANALOG:GEN_SCALE.

Usage:
  c3d_reader.py FILE                  prints a JSON summary: header, parameters (arrays of more than
                                      SUMMARY_MAX_VALUES values as their size only), frame count and
                                      its sources, the first and last frame's channels
  c3d_reader.py FILE --check K=JSON   ... and exits 1 unless each K has the value JSON; K is
                                      GROUP:PARAMETER, header:FIELD, frames, frame_sources:SOURCE,
                                      type:GROUP:PARAMETER ([element type, dimensions]) or
                                      frame:N (the channels of frame N, 0-based; -1 the last).
                                      Numbers match to float precision.
"""

import argparse
import json
import math
import struct
import sys

BLOCK = 512
C3D_KEY = 0x50
PROCESSOR_BASE = 83
INTEL, DEC, MIPS = 1, 2, 3
CHARACTER, BYTE, INTEGER, FLOAT = -1, 1, 2, 4
WORD_FRAMES_LIMIT = 65535
SUMMARY_MAX_VALUES = 512
FLOAT_TOLERANCE = 1e-6


class C3dError(Exception):
    pass


def fortran_shape(flat, dimensions):
    """Nests a flat list by its dimensions, the first dimension varying fastest."""
    if not dimensions:
        return flat[0] if flat else None
    if len(dimensions) == 1:
        return list(flat)
    inner = 1
    for dimension in dimensions[:-1]:
        inner *= dimension
    return [fortran_shape(flat[i * inner:(i + 1) * inner], dimensions[:-1])
            for i in range(dimensions[-1])]


def characters(data, dimensions):
    """A character array: the first dimension is each text's length, the rest shape the texts."""
    text = data.decode('latin-1')
    if not dimensions:
        return text
    width = dimensions[0]
    texts = [text[i:i + width].rstrip(' \0') for i in range(0, len(text), width) if width]
    if len(dimensions) == 1:
        return text.rstrip(' \0')
    return fortran_shape(texts, dimensions[1:])


class C3dFile:
    def __init__(self, raw):
        self.raw = raw
        if len(raw) < BLOCK or raw[1] != C3D_KEY:
            raise C3dError('not a C3D file (no 0x50 key in the first word)')
        self.parameter_start = (raw[0] - 1) * BLOCK
        processor = raw[self.parameter_start + 3] - PROCESSOR_BASE
        if processor == DEC:
            raise C3dError('DEC files are not read here')
        self.endian = '<' if processor == INTEL else '>' if processor == MIPS else None
        if self.endian is None:
            raise C3dError('unknown processor type %d' % (processor + PROCESSOR_BASE))
        self.processor = processor
        self.parameter_blocks = raw[self.parameter_start + 2]
        self.header = self._read_header()
        self.groups, self.types = self._read_parameters()

    def unpack(self, fmt, offset):
        return struct.unpack_from(self.endian + fmt, self.raw, offset)

    def _read_header(self):
        words = self.unpack('5H', 2)
        return {
            'parameter_block': self.raw[0],
            'key': self.raw[1],
            'points': words[0],
            'analog_per_frame': words[1],
            'first_frame': words[2],
            'last_frame': words[3],
            'max_gap': words[4],
            'scale': self.unpack('f', 12)[0],
            'data_start': self.unpack('H', 16)[0],
            'analog_samples_per_frame': self.unpack('H', 18)[0],
            'frame_rate': self.unpack('f', 20)[0],
            'event_labels_key': self.unpack('H', 298)[0],
        }

    def _read_parameters(self):
        """Walks the records from byte 5 of the section until a "next" offset of 0."""
        end = self.parameter_start + self.parameter_blocks * BLOCK
        position = self.parameter_start + 4
        names = {}       # group id -> group name
        parameters = []  # (group id, name, value, type, dimensions)
        while position < end:
            name_length = abs(struct.unpack_from('b', self.raw, position)[0])
            record_id = struct.unpack_from('b', self.raw, position + 1)[0]
            if name_length == 0:
                break
            name = self.raw[position + 2:position + 2 + name_length].decode('ascii').upper()
            next_field = position + 2 + name_length
            next_offset = self.unpack('h', next_field)[0]
            cursor = next_field + 2
            if record_id < 0:
                names[-record_id] = name
            else:
                element = struct.unpack_from('b', self.raw, cursor)[0]
                dimension_count = self.raw[cursor + 1]
                dimensions = list(self.raw[cursor + 2:cursor + 2 + dimension_count])
                cursor += 2 + dimension_count
                count = 1
                for dimension in dimensions:
                    count *= dimension
                size = abs(element) * count
                data = self.raw[cursor:cursor + size]
                if element == CHARACTER:
                    value = characters(data, dimensions)
                else:
                    code = {BYTE: 'b', INTEGER: 'h', FLOAT: 'f'}.get(element)
                    if code is None:
                        raise C3dError('%s has element type %d' % (name, element))
                    flat = list(struct.unpack_from(self.endian + code * count, data, 0))
                    value = fortran_shape(flat, dimensions)
                parameters.append((record_id, name, value, element, dimensions))
            if next_offset == 0:
                break
            position = next_field + next_offset
            if position > end:
                raise C3dError('a record points past the parameter section')
        groups, types = {}, {}
        for group_id, name, value, element, dimensions in parameters:
            if group_id not in names:
                raise C3dError('%s belongs to no group' % name)
            groups.setdefault(names[group_id], {})[name] = value
            types['%s:%s' % (names[group_id], name)] = {'type': element, 'dimensions': dimensions}
        for group_name in names.values():
            groups.setdefault(group_name, {})
        return groups, types

    def parameter(self, group, name, default=None):
        return self.groups.get(group, {}).get(name, default)

    def joined(self, group, name):
        """NAME, NAME2, NAME3, .. as one list (arrays longer than one parameter holds)."""
        values, index = [], 1
        while True:
            part = self.parameter(group, name if index == 1 else '%s%d' % (name, index))
            if part is None:
                return values
            values.extend(part if isinstance(part, list) else [part])
            index += 1

    def frame_sources(self):
        sources = {}
        frames = self.parameter('POINT', 'FRAMES')
        if frames is not None:
            is_integer = self.types['POINT:FRAMES']['type'] == INTEGER
            sources['POINT:FRAMES'] = frames & 0xFFFF if is_integer else int(frames)
        long_frames = self.parameter('POINT', 'LONG_FRAMES')
        if long_frames is not None:
            sources['POINT:LONG_FRAMES'] = int(long_frames)
        start = self.parameter('TRIAL', 'ACTUAL_START_FIELD')
        end = self.parameter('TRIAL', 'ACTUAL_END_FIELD')
        if start is not None and end is not None:
            # Each field is a 32-bit frame number in two unsigned 16-bit words, low word first.
            first = (start[0] & 0xFFFF) | (start[1] & 0xFFFF) << 16
            last = (end[0] & 0xFFFF) | (end[1] & 0xFFFF) << 16
            sources['TRIAL'] = last - first + 1
        sources['header'] = self.header['last_frame'] - self.header['first_frame'] + 1
        return sources

    def frame_count(self):
        """POINT:FRAMES, unless LONG_FRAMES or the TRIAL range give more than 65535."""
        sources = self.frame_sources()
        count = sources.get('POINT:FRAMES', sources['header'])
        for source in ('POINT:LONG_FRAMES', 'TRIAL'):
            if sources.get(source, 0) > WORD_FRAMES_LIMIT:
                return sources[source]
        return count

    def analog(self):
        """The analog samples, each a list of scaled channel values."""
        points = self.parameter('POINT', 'USED', 0)
        channels = self.parameter('ANALOG', 'USED', 0)
        point_rate = self.parameter('POINT', 'RATE')
        analog_rate = self.parameter('ANALOG', 'RATE', point_rate)
        per_frame = max(1, int(round(analog_rate / point_rate))) if point_rate else 1
        floats = self.parameter('POINT', 'SCALE', self.header['scale']) < 0
        size, code = (4, 'f') if floats else (2, 'h')
        scales = self.joined('ANALOG', 'SCALE') or [1.0] * channels
        offsets = self.joined('ANALOG', 'OFFSET') or [0] * channels
        general = self.parameter('ANALOG', 'GEN_SCALE', 1.0)
        frames = self.frame_count()
        start = (self.parameter('POINT', 'DATA_START', self.header['data_start']) - 1) * BLOCK
        frame_bytes = (points * 4 + per_frame * channels) * size
        if start + frames * frame_bytes > len(self.raw):
            raise C3dError('the file ends before its %d frames' % frames)
        samples = []
        for frame in range(frames):
            offset = start + frame * frame_bytes + points * 4 * size
            values = self.unpack(code * (per_frame * channels), offset)
            for sample in range(per_frame):
                row = values[sample * channels:(sample + 1) * channels]
                samples.append([(value - offsets[c]) * scales[c] * general
                                for c, value in enumerate(row)])
        return samples


def value_count(value):
    if isinstance(value, list):
        return sum(value_count(item) for item in value)
    return 1


def summary(c3d):
    samples = c3d.analog()
    groups = {}
    for group, parameters in c3d.groups.items():
        groups[group] = {name: (value if value_count(value) <= SUMMARY_MAX_VALUES
                                else {'values': value_count(value)})
                         for name, value in parameters.items()}
    return {
        'header': c3d.header,
        'processor': c3d.processor,
        'parameter_blocks': c3d.parameter_blocks,
        'groups': groups,
        'types': c3d.types,
        'frames': c3d.frame_count(),
        'frame_sources': c3d.frame_sources(),
        'first_frame': samples[0] if samples else None,
        'last_frame': samples[-1] if samples else None,
        'samples': samples,
    }


def matches(actual, expected):
    if isinstance(expected, list):
        return (isinstance(actual, list) and len(actual) == len(expected)
                and all(matches(a, e) for a, e in zip(actual, expected)))
    if isinstance(expected, (int, float)) and not isinstance(expected, bool):
        return (isinstance(actual, (int, float))
                and math.isclose(actual, expected, rel_tol=FLOAT_TOLERANCE,
                                 abs_tol=FLOAT_TOLERANCE))
    return actual == expected


def lookup(result, key):
    if key == 'frames':
        return result['frames']
    if key.startswith('frame:'):
        return result['samples'][int(key[len('frame:'):])]
    if key.startswith('header:'):
        return result['header'].get(key[len('header:'):])
    if key.startswith('frame_sources:'):
        return result['frame_sources'].get(key[len('frame_sources:'):])
    if key.startswith('type:'):
        found = result['types'].get(key[len('type:'):])
        return [found['type'], found['dimensions']] if found else None
    group, _, name = key.partition(':')
    return result['groups'].get(group, {}).get(name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('file')
    parser.add_argument('--check', action='append', default=[], metavar='KEY=JSON')
    arguments = parser.parse_args()
    try:
        with open(arguments.file, 'rb') as stream:
            c3d = C3dFile(stream.read())
        result = summary(c3d)
    except (C3dError, struct.error, OSError) as error:
        print('c3d_reader: %s' % error, file=sys.stderr)
        return 2
    printed = dict(result)
    del printed['samples']
    print(json.dumps(printed, indent=1))
    failures = 0
    for check in arguments.check:
        key, _, text = check.partition('=')
        expected = json.loads(text)
        actual = lookup(result, key)
        if not matches(actual, expected):
            print('mismatch %s: read %s, expected %s' % (key, json.dumps(actual), text),
                  file=sys.stderr)
            failures += 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
