#!/usr/bin/env python3
# trim_beidou.py SOURCE TARGET DAY FIRST_HOUR END_HOUR: the header of a RINEX 3 mixed
# navigation file and its BeiDou records of FIRST_HOUR:00 up to END_HOUR:00 on day DAY
# of the month, each line as it was.
import sys

day = sys.argv[3].encode()
first = int(sys.argv[4])
end = int(sys.argv[5])
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
        keep = record_day == day and system == b'C' and first <= hour < end
    if keep:
        out.append(line)
out.append(b'')
open(sys.argv[2], 'wb').write(b'\n'.join(out))
