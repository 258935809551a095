#!/usr/bin/env python3
# trim_beidou.py SOURCE TARGET: the header of a RINEX 3 mixed navigation file and its
# BeiDou records of 21:00 to 23:59 on 2018-06-19, each line as it was.
import sys

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
        system, day, hour = line[:1], line[12:14], int(line[15:17])
        keep = day == b'19' and system == b'C' and 21 <= hour < 24
    if keep:
        out.append(line)
out.append(b'')
open(sys.argv[2], 'wb').write(b'\n'.join(out))
