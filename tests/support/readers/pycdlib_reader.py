#!/usr/bin/python3
"""Lists or extracts an image through pycdlib, for the round-trip tests.

  pycdlib_reader.py list IMAGE            one line per entry: NS TAB D|F TAB SIZE TAB PATH
  pycdlib_reader.py extract IMAGE NS DIR  writes every file of namespace NS (iso or joliet)
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


def decode_iso(raw):
    out = []
    for b in raw:
        try:
            out.append(bytes([b]).decode('cp1252'))
        except UnicodeDecodeError:
            out.append(chr(b))
    return ''.join(out)


def walk(record, joliet, base, out):
    for child in record.children:
        if child is None or child.is_dot() or child.is_dotdot():
            continue
        raw = child.file_identifier()
        name = raw.decode('utf-16_be') if joliet else decode_iso(raw)
        path = base + '/' + name
        out.append((path, child))
        if child.is_dir():
            walk(child, joliet, path, out)


def entries(iso, ns):
    joliet = ns == 'joliet'
    if joliet:
        if iso.joliet_vd is None:
            raise SystemExit('no Joliet volume')
        root = iso.joliet_vd.root_directory_record()
    else:
        root = iso.pvd.root_directory_record()
    out = []
    walk(root, joliet, '', out)
    return out


def main():
    command, image = sys.argv[1], sys.argv[2]
    iso = pycdlib.PyCdlib()
    iso.open(image)
    try:
        if command == 'list':
            lines = []
            for ns in ('iso', 'joliet'):
                if ns == 'joliet' and iso.joliet_vd is None:
                    continue
                for path, rec in entries(iso, ns):
                    kind = 'D' if rec.is_dir() else 'F'
                    size = 0 if rec.is_dir() else rec.get_data_length()
                    lines.append('%s\t%s\t%d\t%s' % (ns, kind, size, path))
            sys.stdout.buffer.write(('\n'.join(lines) + '\n').encode('utf-8'))
        elif command == 'extract':
            ns, folder = sys.argv[3], sys.argv[4]
            for path, rec in entries(iso, ns):
                target = os.path.join(folder, path.lstrip('/'))
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
                        if ns == 'joliet':
                            iso.get_file_from_iso_fp(out, joliet_path=path)
                        else:
                            iso.get_file_from_iso_fp(out, iso_path=path)
                    except pycdlib.pycdlibexception.PyCdlibException as e:
                        raise SystemExit('%s: %s' % (path, e))
        elif command == 'ids':
            lines = []
            for ns, vd in (('iso', iso.pvd), ('joliet', iso.joliet_vd)):
                if vd is None:
                    continue
                fields = (('volume', vd.volume_identifier), ('system', vd.system_identifier),
                          ('publisher', vd.publisher_identifier.text),
                          ('preparer', vd.preparer_identifier.text),
                          ('application', vd.application_identifier.text),
                          ('volume_set', vd.volume_set_identifier))
                for field, raw in fields:
                    if ns == 'joliet':
                        value = raw[:len(raw) // 2 * 2].decode('utf-16_be')
                    else:
                        value = decode_iso(raw)
                    lines.append('%s\t%s\t%s' % (ns, field, value.rstrip('\x00 ')))
                d = vd.volume_creation_date
                lines.append('%s\tcreation\t%04d%02d%02d%02d%02d%02d %d' % (
                    ns, d.year, d.month, d.dayofmonth, d.hour, d.minute, d.second,
                    d.gmtoffset * 15))
                for path, rec in entries(iso, ns):
                    r = rec.date
                    lines.append('%s\tdate:%s\t%04d%02d%02d%02d%02d%02d %d' % (
                        ns, path, 1900 + r.years_since_1900, r.month, r.day_of_month, r.hour,
                        r.minute, r.second, r.gmtoffset * 15))
            sys.stdout.buffer.write(('\n'.join(lines) + '\n').encode('utf-8'))
        else:
            raise SystemExit('unknown command ' + command)
    finally:
        iso.close()


if __name__ == '__main__':
    main()
