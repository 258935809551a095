# Cuts a RINEX 2 or 3 navigation file down to its header and the GPS records whose
# epoch (toc) lies in [FROM, TO) hours of DATE, plus the first record of each other
# system (so a mixed file stays mixed). Records are copied line for line, unchanged.
#   python3 trim_rinex.py IN OUT YYYY-MM-DD FROM TO
import sys
source, target, date, first, last = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
lines = open(source).read().split("\n")
end = next(i for i, l in enumerate(lines) if l[60:].strip() == "END OF HEADER")
out = lines[: end + 1]
version = int(float(lines[0][:9]))
seen = set()
i = end + 1
while i < len(lines) and lines[i].strip():
    line = lines[i]
    system = line[0] if version == 3 else "G"
    count = 4 if system in "RS" else 8
    if version == 2:
        year, month, day, hour = 2000 + int(line[3:5]), int(line[6:8]), int(line[9:11]), int(line[12:14])
    else:
        year, month, day, hour = int(line[4:8]), int(line[9:11]), int(line[12:14]), int(line[15:17])
    keep = f"{year:04}-{month:02}-{day:02}" == date and first <= hour < last if system == "G" else system not in seen
    seen.add(system)
    if keep:
        out += lines[i : i + count]
    i += count
open(target, "w").write("\n".join(out) + "\n")
