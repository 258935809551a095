# Writes a synthetic YUMA almanac: 31 healthy satellites in six planes 60 degrees apart.
import math, random, sys
week = int(sys.argv[1])
random.seed(19)
planes = "ABCDEF"
slots = [5, 5, 5, 5, 6, 5]
prn = 1
out = []
for p, count in enumerate(slots):
    for s in range(count):
        if prn > 31: break
        raan = -math.pi + p * math.pi / 3 + random.uniform(-0.02, 0.02)
        mean = -math.pi + (s * 2 * math.pi / count) + p * 0.35 + random.uniform(-0.1, 0.1)
        mean = (mean + math.pi) % (2 * math.pi) - math.pi
        fields = [
            ("ID:", f"{prn:02d}"),
            ("Health:", "000"),
            ("Eccentricity:", f"{random.uniform(0.002, 0.015):.10E}"),
            ("Time of Applicability(s):", "405504.0000"),
            ("Orbital Inclination(rad):", f"{0.958 + random.uniform(-0.02, 0.02):.10f}"),
            ("Rate of Right Ascen(r/s):", f"{-7.9e-9 - random.uniform(0, 0.4e-9):.10E}"),
            ("SQRT(A)  (m 1/2):", f"{5153.6 + random.uniform(-0.5, 0.5):.6f}"),
            ("Right Ascen at Week(rad):", f"{raan:.10E}"),
            ("Argument of Perigee(rad):", f"{random.uniform(-math.pi, math.pi):.9f}"),
            ("Mean Anom(rad):", f"{mean:.10E}"),
            ("Af0(s):", f"{random.uniform(-3e-4, 3e-4):.10E}"),
            ("Af1(s/s):", f"{random.uniform(-1e-11, 1e-11):.10E}"),
            ("week:", f"{week}"),
        ]
        out.append(f"******** Week {week} almanac for PRN-{prn:02d} ********")
        for label, value in fields:
            # The value column begins at character 29 (the week line is read there).
            out.append(f"{label:<27} {value}" if label != "week:" else f"{label:<28}{value}")
        out.append("")
        prn += 1
sys.stdout.write("\n".join(out) + "\n")
