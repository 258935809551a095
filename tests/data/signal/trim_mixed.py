#!/usr/bin/env python3
# trim_mixed.py SOURCE TARGET DAY SYSTEM:FIRST-END...: the header of a RINEX 3 mixed
# navigation file and, of day DAY of the month, the records of each SYSTEM letter named
# whose hour is FIRST up to (not including) END, each line as it was, in the original
# order. For example `trim_mixed.py SOURCE TARGET 19 G:3-11 E:5-9`.
import sys

day = sys.argv[3].encode()
hours = {}
for choice in sys.argv[4:]:
    system, span = choice.split(':')
    first, end = span.split('-')
    hours[system.encode()] = (int(first), int(end))
lines = open(sys.argv[1], 'rb').read().split(b'\n')
out = []
i = 0
while b'END OF HEADER' not in lines[i]:
    out.append(lines[i])
    i += 1
out.append(lines[i])
keep = False
for line in lines[i + 1:]:
    if line[:1].isalpha():
        system, record_day, hour = line[:1], line[12:14], int(line[15:17])
        first, end = hours.get(system, (0, 0))
        keep = record_day == day and first <= hour < end
    if keep:
        out.append(line)
out.append(b'')
open(sys.argv[2], 'wb').write(b'\n'.join(out))
