#!/usr/bin/python3
"""Lists or extracts an image through pycdlib, for the round-trip tests.

  pycdlib_reader.py list IMAGE            one line per entry: NS TAB D|F TAB SIZE TAB PATH
  pycdlib_reader.py extract IMAGE NS DIR  writes every file of namespace NS (iso or joliet)
  pycdlib_reader.py compare IMAGE NS PATH SOURCE...
                                          streams each file PATH of namespace NS against its
                                          SOURCE: "SIZE same" or "SIZE differs from OFFSET"
  pycdlib_reader.py ids IMAGE             NS TAB FIELD TAB VALUE for the descriptor identifiers
                                          and the creation date (digits and offset in minutes);
                                          and NS TAB date:PATH TAB the recording date of a file

The tree is walked through pycdlib's parsed directory records, so names are the identifiers as
recorded: ISO 9660 bytes decoded as Windows-1252 (undefined bytes keep their value), Joliet as
UCS-2 big-endian. Paths handed to get_file_from_iso_fp are these names joined by "/".
"""
import os
import sys

import pycdlib


def decode(raw, ns):
    if ns == 'joliet':
        return raw[:len(raw) // 2 * 2].decode('utf-16_be')
    return ''.join(bytes([b]).decode('cp1252', errors='ignore') or chr(b) for b in raw)


def entries(record, ns, base=''):
    for child in record.children:
        if child is None or child.is_dot() or child.is_dotdot():
            continue
        path = base + '/' + decode(child.file_identifier(), ns)
        yield path, child
        if child.is_dir():
            yield from entries(child, ns, path)


def date(d, year):
    return '%04d%02d%02d%02d%02d%02d %d' % (year, d.month, getattr(d, 'dayofmonth', None) or
                                            getattr(d, 'day_of_month', 0), d.hour, d.minute,
                                            d.second, d.gmtoffset * 15)


class Comparer:
    """A file object for get_file_from_iso_fp that holds what it is given against a source."""

    def __init__(self, source):
        self.source, self.size, self.differs = open(source, 'rb'), 0, None

    def write(self, data):
        if self.differs is None and self.source.read(len(data)) != data:
            self.differs = self.size  # somewhere in this piece
        self.size += len(data)


def main():
    command, image = sys.argv[1], sys.argv[2]
    iso = pycdlib.PyCdlib()
    iso.open(image)
    if command == 'compare':
        for path, source in zip(sys.argv[4::2], sys.argv[5::2]):
            comparer = Comparer(source)
            iso.get_file_from_iso_fp(comparer, blocksize=1 << 20, **{sys.argv[3] + '_path': path})
            print(comparer.size, 'same' if comparer.differs is None else
                  'differs from %d' % comparer.differs)
        iso.close()
        return
    volumes = [(ns, vd) for ns, vd in (('iso', iso.pvd), ('joliet', iso.joliet_vd)) if vd]
    lines = []
    try:
        for ns, vd in volumes:
            tree = entries(vd.root_directory_record(), ns)
            if command == 'list':
                for path, rec in tree:
                    size = 0 if rec.is_dir() else rec.get_data_length()
                    lines.append('%s\t%s\t%d\t%s' % (ns, 'D' if rec.is_dir() else 'F', size, path))
            elif command == 'ids':
                for field, raw in (('volume', vd.volume_identifier),
                                   ('system', vd.system_identifier),
                                   ('publisher', vd.publisher_identifier.text),
                                   ('preparer', vd.preparer_identifier.text),
                                   ('application', vd.application_identifier.text),
                                   ('volume_set', vd.volume_set_identifier)):
                    lines.append('%s\t%s\t%s' % (ns, field, decode(raw, ns).rstrip('\x00 ')))
                d = vd.volume_creation_date
                lines.append('%s\tcreation\t%s' % (ns, date(d, d.year)))
                for path, rec in tree:
                    r = rec.date
                    lines.append('%s\tdate:%s\t%s' % (ns, path, date(r, 1900 + r.years_since_1900)))
            elif command == 'extract' and ns == sys.argv[3]:
                for path, rec in tree:
                    target = os.path.join(sys.argv[4], path.lstrip('/'))
                    if rec.is_dir():
                        os.makedirs(target, exist_ok=True)
                        continue
                    if ns == 'iso' and any(ord(c) > 0x7F for c in path):
                        # pycdlib looks ISO 9660 paths up as UTF-8 text, which cannot name the
                        # Windows-1252 bytes above 0x7F: such files are reached through Joliet.
                        continue
                    os.makedirs(os.path.dirname(target), exist_ok=True)
                    with open(target, 'wb') as out:
                        try:
                            iso.get_file_from_iso_fp(out, **{ns + '_path': path})
                        except pycdlib.pycdlibexception.PyCdlibException as e:
                            raise SystemExit('%s: %s' % (path, e))
            elif command not in ('list', 'ids', 'extract'):
                raise SystemExit('unknown command ' + command)
        if command == 'extract' and sys.argv[3] not in dict(volumes):
            raise SystemExit('no %s volume' % sys.argv[3])
        sys.stdout.buffer.write(('\n'.join(lines) + '\n').encode('utf-8'))
    finally:
        iso.close()


if __name__ == '__main__':
    main()
