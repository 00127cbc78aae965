#!/bin/sh
# Makes the dBase fixtures.  people.dbf comes from shapelib's tools (Debian
# package "shapelib": dbfcreate, dbfadd, dbfdump; people.dump records
# dbfdump's view of it); kinds.dbf, with date, logical and memo fields and a
# record marked deleted, is written byte by byte with python3's struct
# module.  The bytes are committed, so the tests need none of these tools.
set -e
cd "$(dirname "$0")"
rm -f *.dbf *.dump

# Four people: a character, an integer and a two-decimal number field.
dbfcreate people -s NAME 12 -n AGE 3 0 -n HEIGHT 5 2
dbfadd people "Ann Lee" 34 1.65
dbfadd people Bob 7 1.2
dbfadd people "Cy" 101 0.5
dbfadd people "Dee Dee Ramone" 40 1.8
dbfdump people.dbf > people.dump

# Three records of C, D, L, M fields (version byte 0x83: memo), the
# middle one with the deletion byte '*'.
python3 - <<'PY'
import struct
fields = [(b"CODE", b"C", 4, 0), (b"WHEN", b"D", 8, 0), (b"OK", b"L", 1, 0),
          (b"NOTE", b"M", 10, 0)]
records = [b" ab  20260102T         7",
           b"*xyz 19991231F        12",
           b"     20001105?          "]
length = 1 + sum(f[2] for f in fields)
assert all(len(r) == length for r in records)
head = struct.pack("<BBBBIHH20x", 0x83, 126, 3, 4, len(records),
                   32 + 32 * len(fields) + 1, length)
for name, kind, size, decimals in fields:
    head += struct.pack("<11sc4xBB14x", name, kind, size, decimals)
with open("kinds.dbf", "wb") as out:
    out.write(head + b"\r" + b"".join(records) + b"\x1a")
PY

# Null numbers: shapelib's dbfadd writes an empty number as a field of
# asterisks (as GDAL does); the second record has real values.
dbfcreate nulls -n COUNT 6 0 -n SIZE 8 2 -s NAME 6
dbfadd nulls "" "" a
dbfadd nulls 5 2.5 b
dbfdump nulls.dbf > nulls.dump
