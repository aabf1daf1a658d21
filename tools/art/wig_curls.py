#!/usr/bin/python3
"""Writes assets/wear/wig_curls.svg: a mop of soft, overlapping curls.

The curls are laid along the crown and down both sides to an uneven lower edge, the higher ones drawn over
the lower ones; a darker mass behind them fills the gaps. The face shows through a clear opening below the
curly fringe, open at the bottom. The top curl touches the picture's top edge (the wig's top is the
picture's top); about a tenth of the width is left clear on either side, so the mop reads as hair around a
real face rather than a helmet. Run it again after changing it: the SVG is what the build renders."""
import math
import os
import random

W, H = 1000, 720
random.seed(7)

# The face opening: hairline at y 238 on the middle column, widening to the temples, open at the bottom.
OPENING = ("M500 238 C 590 238, 652 276, 664 352 C 676 430, 676 560, 660 720 L 340 720 "
           "C 324 560, 324 430, 336 352 C 348 276, 410 238, 500 238 Z")


def opening_half_width(y):
    """Half the opening's width at row y (0 above its top), a close fit of OPENING."""
    if y < 238:
        return 0.0
    if y < 352:
        t = (y - 238) / 114
        return 164 * math.sqrt(max(0.0, 1 - (1 - t) ** 2))
    return 164 + 8 * min(1.0, (y - 352) / 120)


def outer_half_width(y):
    """Half the mop's width at row y: round over the crown, then falling with a bulge past the ears."""
    if y < 300:
        t = (300 - y) / 290
        return 340 * math.sqrt(max(0.0, 1 - t * t))
    s = (y - 300) / 380
    return 340 + 30 * math.sin(math.pi * min(1.0, s * 1.2)) - 60 * s * s


def lower_edge(x):
    """The lowest row of hair at column x: the outside hangs longest, the part by the face is shorter."""
    d = abs(x - 500)
    return 560 + 130 * min(1.0, max(0.0, (d - 170) / 170)) + 14 * math.sin(x * 0.05)


def place(spacing, radius, shift, inset):
    """Curls on a jittered staggered grid over the left half, mirrored (with their own jitter) to the right."""
    out = []
    for row in range(0, 18):
        y = 30 + shift + row * spacing * 0.8
        for col in range(0, 12):
            x = 500 - col * spacing - (spacing / 2 if row % 2 else 0) - shift
            for side in (-1, 1):
                if side == 1 and x >= 500 - 1:
                    continue  # the middle column once
                xx = (x if side < 0 else 1000 - x) + random.uniform(-6, 6)
                yy = y + random.uniform(-6, 6)
                r = radius * random.uniform(0.88, 1.08)
                d = abs(xx - 500)
                if d > outer_half_width(yy) - inset * r:
                    continue
                if yy + 0.4 * r > 238 and d < opening_half_width(yy + 0.4 * r) + 0.35 * r:
                    continue
                if yy > lower_edge(xx) - 0.3 * r:
                    continue
                out.append((xx, yy, r))
    return out


back = place(46, 34, 22, 0.6)    # darker curls behind, filling the gaps
front = place(50, 38, 0, 0.35)
top = min(c[1] - c[2] for c in front + back)
# Higher curls are drawn last: each lies over the ones below it, like hair falling.
back = sorted(((x, y - top - 3, r) for x, y, r in back), key=lambda c: -c[1])
curls = sorted(((x, y - top - 3, r) for x, y, r in front), key=lambda c: -c[1])


def curl(x, y, r, k, shade="curl"):
    turn = random.uniform(0, 2 * math.pi)
    # The curl's twist: a dark spiral from its middle out toward the rim, and a soft light on its upper left.
    pts = []
    for step in range(0, 13):
        a = turn + step * 0.5
        rr = r * (0.1 + 0.055 * step)
        pts.append((x + rr * math.cos(a), y + rr * math.sin(a)))
    d = "M" + " L".join(f"{px:.1f} {py:.1f}" for px, py in pts)
    return (f'    <circle cx="{x + 0.08 * r:.1f}" cy="{y + 0.2 * r:.1f}" r="{r:.1f}" fill="#3a1604" opacity="0.3"/>\n'
            f'    <circle cx="{x:.1f}" cy="{y:.1f}" r="{r:.1f}" fill="url(#{shade}{k % 3})"/>\n'
            f'    <path d="{d}" fill="none" stroke="#6e2c0a" stroke-width="{0.08 * r:.1f}" '
            f'stroke-linecap="round" opacity="0.5"/>\n'
            f'    <ellipse cx="{x - 0.3 * r:.1f}" cy="{y - 0.36 * r:.1f}" rx="{0.3 * r:.1f}" ry="{0.18 * r:.1f}" '
            f'fill="#ffd6b0" opacity="0.22" transform="rotate(-30 {x - 0.3 * r:.1f} {y - 0.36 * r:.1f})"/>\n')


out = [f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Curly mop, written by tools/art/wig_curls.py: soft overlapping curls over the crown and down the sides
     to an uneven lower edge; the face shows through the opening below the fringe (its top at y 238 on the
     middle column). The top curl is the picture's top edge. -->
<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" viewBox="0 0 {W} {H}">
  <defs>
"""]
shades = [("curl", k, c) for k, c in enumerate([("#df8f52", "#bd6428", "#8e4216"), ("#d98a4c", "#b45c22", "#863c12"),
                                               ("#e49a5e", "#c56d2e", "#964818")])]
shades += [("back", k, c) for k, c in enumerate([("#a85426", "#864018", "#5e280a")] * 3)]
for name, k, (light, mid, dark) in shades:
    out.append(f"""    <radialGradient id="{name}{k}" cx="0.4" cy="0.36" r="0.7">
      <stop offset="0" stop-color="{light}"/>
      <stop offset="0.6" stop-color="{mid}"/>
      <stop offset="1" stop-color="{dark}"/>
    </radialGradient>
""")
out.append(f"""    <mask id="face" maskUnits="userSpaceOnUse" x="0" y="0" width="{W}" height="{H}">
      <rect width="{W}" height="{H}" fill="#ffffff"/>
      <path d="{OPENING}" fill="#000000"/>
    </mask>
  </defs>
""")
out.append('  <g mask="url(#face)">\n')
for k, (x, y, r) in enumerate(back):
    out.append(curl(x, y, r, k, "back"))
for k, (x, y, r) in enumerate(curls):
    out.append(curl(x, y, r, k))
out.append("  </g>\n</svg>\n")
path = os.path.join(os.path.dirname(__file__), "..", "..", "assets", "wear", "wig_curls.svg")
with open(path, "w") as f:
    f.write("".join(out))
