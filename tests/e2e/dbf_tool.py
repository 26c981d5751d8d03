#!/usr/bin/python3
"""The alarm server's side of a shared status table, for the whole-program tests: reading with
Debian's python3-dbfread (a reader independent of the gateway) and appending the ordinary
dBASE way.

  dbf_tool.py read TABLE
      First line: count=<record count in the header> records=<records in the file>
      deleted=<records marked deleted>; then one line per record that is not deleted:
      NAME=value fields separated by tabs (memo fields with their text, empty values empty).
      Exit code 1 when dbfread cannot read the table (or its memo file).

  dbf_tool.py append TABLE FIELD STOPFILE
      Appends records until STOPFILE exists, record i holding i in FIELD and blanks elsewhere:
      open the table, take the append lock, read the record count, write the record and the
      0x1A end byte after the counted records, write the count, close. Prints appended=<n>.
"""
import fcntl
import os
import struct
import sys
import time

import dbfread

# The FoxPro family's append lock for a table without a structural index (the gateway locks
# records in the same scheme).
APPEND_LOCK = 0x40000000


def read(path):
    table = dbfread.DBF(path, load=True)
    print('count={} records={} deleted={}'.format(
        table.header.numrecords, len(table.records) + len(table.deleted), len(table.deleted)))
    for record in table.records:
        print('\t'.join('{}={}'.format(k, '' if v is None else v) for k, v in record.items()))


def field_slot(header, name):
    """Offset and width of a field in a record, from the 32-byte descriptors."""
    offset = 1
    for at in range(32, len(header) - 1, 32):
        if header[at] == 0x0D:
            break
        width = header[at + 16]
        if header[at:at + 11].split(b'\0')[0].decode() == name:
            return offset, width
        offset += width
    raise SystemExit('no field ' + name)


def append(path, field, stop):
    appended = 0
    while not os.path.exists(stop) and appended < 200000:
        with open(path, 'r+b') as f:
            fcntl.lockf(f, fcntl.LOCK_EX, 1, APPEND_LOCK)
            head = f.read(32)
            count, header_length, record_length = struct.unpack('<IHH', head[4:12])
            f.seek(0)
            offset, width = field_slot(f.read(header_length), field)
            record = bytearray(b' ' * record_length)
            record[offset:offset + width] = str(appended).ljust(width)[:width].encode()
            f.seek(header_length + count * record_length)
            f.write(bytes(record) + b'\x1a')
            f.seek(4)
            f.write(struct.pack('<I', count + 1))
            f.flush()
            fcntl.lockf(f, fcntl.LOCK_UN, 1, APPEND_LOCK)
        appended += 1
        time.sleep(0.001)
    print('appended={}'.format(appended))


def main(argv):
    if len(argv) == 3 and argv[1] == 'read':
        try:
            read(argv[2])
        except Exception as e:  # any refusal of the reader is the answer
            print('dbfread: {}: {}'.format(type(e).__name__, e))
            return 1
        return 0
    if len(argv) == 5 and argv[1] == 'append':
        append(argv[2], argv[3], argv[4])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
