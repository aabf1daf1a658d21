#!/usr/bin/python3
"""Draws the built-in room visitors: for each one a sprite sheet and its visitor file.

Each frame is a vector drawing (SVG) of the visitor at that moment; the sheet is rendered by rsvg-convert at
build time into the program's folder:
    make_visitors.py OUTPUT_FOLDER [RSVG_CONVERT]
writes visitor_NAME.json and visitor_NAME.png for every visitor.

Visitors that walk through the room are drawn on a 16:9 cell that stands for the whole picture, so their
feet are on its floor; a gliding one is drawn on a tall cell whose bottom is the floor; a window visitor
fills its cell, which is the window's area."""
import math
import os
import subprocess
import sys
import tempfile

COLS = 8
OUTLINE = 'stroke="#2b2330" stroke-width="3" stroke-linejoin="round" stroke-linecap="round"'


def ease(t):
    t = max(0.0, min(1.0, t))
    return t * t * (3 - 2 * t)


def lerp(a, b, t):
    return a + (b - a) * t


# --- The cat: walks through the room from left to right, tail up. -------------------------------------
CAT_W, CAT_H, CAT_FRAMES, CAT_FPS = 480, 270, 48, 12
CAT_FLOOR = 258


def cat_leg(hx, hy, angle, colour, paw="#fbf4ea"):
    """A leg hanging from (hx, hy), swung by angle degrees, with a paw."""
    return (f'<g transform="rotate({angle:.1f} {hx:.1f} {hy:.1f})">'
            f'<rect x="{hx - 5:.1f}" y="{hy - 4:.1f}" width="10" height="{CAT_FLOOR - hy:.1f}" rx="5" '
            f'fill="{colour}" {OUTLINE}/>'
            f'<ellipse cx="{hx + 2:.1f}" cy="{CAT_FLOOR - 3:.1f}" rx="8" ry="5" fill="{paw}" {OUTLINE}/></g>')


def cat(i):
    x = lerp(-70, CAT_W + 70, i / (CAT_FRAMES - 1))
    phase = i * 2 * math.pi / 8          # one stride every 8 frames
    bob = 1.5 * math.sin(2 * phase)
    y = 212 + bob
    fur, dark = "#f0a050", "#c8702c"
    swing = 22
    back = [cat_leg(x - 26, y + 6, swing * math.sin(phase + math.pi), dark),
            cat_leg(x + 22, y + 6, swing * math.sin(phase), dark)]
    front = [cat_leg(x - 20, y + 8, swing * math.sin(phase), fur),
             cat_leg(x + 28, y + 8, swing * math.sin(phase + math.pi), fur)]
    tail_sway = 10 * math.sin(phase / 2)
    tail = (f'<path d="M{x - 36:.1f} {y - 6:.1f} C{x - 70:.1f} {y - 20:.1f} {x - 62 + tail_sway:.1f} '
            f'{y - 70:.1f} {x - 50 + tail_sway:.1f} {y - 78:.1f}" fill="none" stroke="#2b2330" '
            f'stroke-width="15" stroke-linecap="round"/>'
            f'<path d="M{x - 36:.1f} {y - 6:.1f} C{x - 70:.1f} {y - 20:.1f} {x - 62 + tail_sway:.1f} '
            f'{y - 70:.1f} {x - 50 + tail_sway:.1f} {y - 78:.1f}" fill="none" stroke="{fur}" '
            f'stroke-width="9" stroke-linecap="round"/>')
    body = f'<ellipse cx="{x:.1f}" cy="{y:.1f}" rx="44" ry="24" fill="{fur}" {OUTLINE}/>'
    stripes = "".join(f'<path d="M{x + dx:.1f} {y - 23:.1f} q4 10 0 16" fill="none" stroke="{dark}" '
                      f'stroke-width="5" stroke-linecap="round"/>' for dx in (-22, -8, 6))
    belly = f'<ellipse cx="{x + 8:.1f}" cy="{y + 14:.1f}" rx="26" ry="8" fill="#fbf4ea"/>'
    hx, hy = x + 48, y - 24 + 0.8 * bob
    head = (f'<path d="M{hx - 20:.1f} {hy - 10:.1f} L{hx - 16:.1f} {hy - 34:.1f} L{hx - 2:.1f} {hy - 18:.1f} Z" '
            f'fill="{fur}" {OUTLINE}/>'
            f'<path d="M{hx + 6:.1f} {hy - 18:.1f} L{hx + 18:.1f} {hy - 34:.1f} L{hx + 22:.1f} {hy - 8:.1f} Z" '
            f'fill="{fur}" {OUTLINE}/>'
            f'<path d="M{hx - 15:.1f} {hy - 14:.1f} L{hx - 14:.1f} {hy - 27:.1f} L{hx - 6:.1f} {hy - 18:.1f} Z" '
            f'fill="#f6b8b0"/>'
            f'<ellipse cx="{hx:.1f}" cy="{hy:.1f}" rx="25" ry="21" fill="{fur}" {OUTLINE}/>'
            f'<ellipse cx="{hx + 6:.1f}" cy="{hy + 9:.1f}" rx="13" ry="8" fill="#fbf4ea"/>')
    blink = i % 24 in (10, 11)
    if blink:
        eyes = "".join(f'<path d="M{hx + ex - 4:.1f} {hy - 3:.1f} q4 3 8 0" fill="none" stroke="#2b2330" '
                       f'stroke-width="2.5" stroke-linecap="round"/>' for ex in (-6, 12))
    else:
        eyes = "".join(f'<ellipse cx="{hx + ex:.1f}" cy="{hy - 3:.1f}" rx="4.5" ry="6" fill="#3d8f4a"/>'
                       f'<ellipse cx="{hx + ex + 0.8:.1f}" cy="{hy - 3:.1f}" rx="1.8" ry="5" fill="#1b1b1b"/>'
                       f'<circle cx="{hx + ex + 2:.1f}" cy="{hy - 6:.1f}" r="1.4" fill="white"/>'
                       for ex in (-6, 12))
    face = (f'<path d="M{hx + 4:.1f} {hy + 5:.1f} l4 0 l-2 3 Z" fill="#e07a7a"/>'
            f'<path d="M{hx + 6:.1f} {hy + 8:.1f} q-4 5 -8 2 M{hx + 6:.1f} {hy + 8:.1f} q4 5 8 2" fill="none" '
            f'stroke="#2b2330" stroke-width="2" stroke-linecap="round"/>'
            + "".join(f'<path d="M{hx + 18:.1f} {hy + 5 + k * 3:.1f} l16 {k * 3 - 2}" stroke="#2b2330" '
                      f'stroke-width="1.3"/>' for k in (0, 1))
            + "".join(f'<path d="M{hx - 6:.1f} {hy + 5 + k * 3:.1f} l-16 {k * 3 - 2}" stroke="#2b2330" '
                      f'stroke-width="1.3"/>' for k in (0, 1)))
    svg = "".join(back) + tail + body + stripes + belly + "".join(front) + head + eyes + face
    inside = -40 < x < CAT_W + 40
    feet = [round(x + 4, 1), CAT_FLOOR, 104] if inside else None
    return svg, feet, 0


# --- The penguin: slides in on its belly, stands up and waves, then lies down and slides out. ---------
# Its box is the whole cell, so the glide (in cell pixels) carries it from beyond the left edge.
PEN_W, PEN_H, PEN_FRAMES, PEN_FPS = 300, 360, 14, 10
PEN_FLOOR = 350
PEN_FREEZE = 6


def penguin(i):
    # Frames 0..5 sliding, 6..8 getting up, 9..13 standing and waving.
    up = ease((i - 5) / 3)
    cx = 150
    parts = []
    if up < 1:
        # Lying on its belly, head first towards the way it travels (right), resting on the floor.
        angle = lerp(80, 0, up)
        parts.append(f'<g transform="translate(0 {lerp(14, 0, up):.1f}) rotate({angle:.1f} {cx} {PEN_FLOOR - 60})">')
    else:
        parts.append('<g>')
    base = PEN_FLOOR
    wave = math.sin((i - 9) * 1.6) * 40 if i >= 9 else 0
    parts.append(
        f'<ellipse cx="{cx - 16}" cy="{base - 4}" rx="14" ry="6" fill="#f4a11c" {OUTLINE}/>'
        f'<ellipse cx="{cx + 16}" cy="{base - 4}" rx="14" ry="6" fill="#f4a11c" {OUTLINE}/>'
        f'<path d="M{cx} {base - 124} C{cx + 46} {base - 124} {cx + 54} {base - 50} {cx + 44} {base - 18} '
        f'C{cx + 36} {base + 2} {cx - 36} {base + 2} {cx - 44} {base - 18} C{cx - 54} {base - 50} '
        f'{cx - 46} {base - 124} {cx} {base - 124} Z" fill="#27303f" {OUTLINE}/>'
        f'<path d="M{cx} {base - 98} C{cx + 30} {base - 98} {cx + 36} {base - 46} {cx + 30} {base - 22} '
        f'C{cx + 22} {base - 6} {cx - 22} {base - 6} {cx - 30} {base - 22} C{cx - 36} {base - 46} '
        f'{cx - 30} {base - 98} {cx} {base - 98} Z" fill="#fbf7ef"/>'
        f'<path d="M{cx - 42} {base - 80} q-22 26 -14 52" fill="none" stroke="#27303f" stroke-width="14" '
        f'stroke-linecap="round"/>'
        f'<g transform="rotate({-wave - 20 * up:.1f} {cx + 42} {base - 80})">'
        f'<path d="M{cx + 42} {base - 80} q22 26 14 52" fill="none" stroke="#27303f" stroke-width="14" '
        f'stroke-linecap="round"/></g>'
        f'<circle cx="{cx - 14}" cy="{base - 100}" r="6" fill="white"/>'
        f'<circle cx="{cx + 14}" cy="{base - 100}" r="6" fill="white"/>'
        f'<circle cx="{cx - 12}" cy="{base - 99}" r="3.4" fill="#1b1b1b"/>'
        f'<circle cx="{cx + 16}" cy="{base - 99}" r="3.4" fill="#1b1b1b"/>'
        f'<path d="M{cx - 9} {base - 90} L{cx + 9} {base - 90} L{cx} {base - 78} Z" fill="#f4a11c" {OUTLINE}/>'
        f'<ellipse cx="{cx - 26}" cy="{base - 84}" rx="6" ry="3.5" fill="#f7a3a3" opacity="0.8"/>'
        f'<ellipse cx="{cx + 26}" cy="{base - 84}" rx="6" ry="3.5" fill="#f7a3a3" opacity="0.8"/>'
        f'<path d="M{cx - 30} {base - 124} q30 -26 60 0 q-30 -10 -60 0 Z" fill="#d8343b" {OUTLINE}/>'
        f'<circle cx="{cx}" cy="{base - 140}" r="7" fill="#fbf7ef" {OUTLINE}/>')
    parts.append('</g>')
    if up < 1 and i < 6:
        # Snow puffs behind a sliding belly.
        parts.append("".join(f'<circle cx="{cx - 70 - 14 * k}" cy="{PEN_FLOOR - 6 - 5 * (k % 2)}" r="{7 - k}" '
                             f'fill="#eef5fb" opacity="0.85"/>' for k in range(4)))
    size = lerp(130, 70, up)
    return "".join(parts), [cx, PEN_FLOOR, round(size, 1)], 0


# --- The giraffe: rises into the window, looks around, blinks, chews and sinks away. -----------------
GIR_W, GIR_H, GIR_FRAMES, GIR_FPS = 320, 240, 40, 10


def giraffe(i):
    rise = ease(i / 10) if i < 30 else 1 - ease((i - 30) / 9)
    hy = lerp(330, 140, rise)
    look = 0
    if 12 <= i < 30:
        look = 16 * math.sin((i - 12) / 18 * 2 * math.pi)
    hx = 160 + look
    spots = "".join(f'<ellipse cx="{hx - 6 + dx:.1f}" cy="{hy + dy:.1f}" rx="{rx}" ry="{ry}" fill="#b5652a"/>'
                    for dx, dy, rx, ry in ((-8, 70, 9, 7), (14, 100, 8, 10), (-10, 130, 10, 8),
                                           (12, 160, 9, 7), (-6, 192, 8, 9), (10, 222, 10, 8)))
    neck = (f'<path d="M{hx - 30:.1f} {hy + 40:.1f} L{hx - 28:.1f} {hy + 260:.1f} L{hx + 26:.1f} {hy + 260:.1f} '
            f'L{hx + 16:.1f} {hy + 40:.1f} Z" fill="#f4c25a" {OUTLINE}/>' + spots
            + f'<path d="M{hx + 14:.1f} {hy + 30:.1f} L{hx + 22:.1f} {hy + 250:.1f}" stroke="#8a4a22" '
            f'stroke-width="8" stroke-linecap="round" stroke-dasharray="2 9"/>')
    blink = i in (18, 19, 26)
    chew = 2 * math.sin(i * 1.7) if 20 <= i < 30 else 0
    head = (f'<path d="M{hx - 22:.1f} {hy - 30:.1f} l-4 -22 M{hx + 8:.1f} {hy - 30:.1f} l4 -22" stroke="#c98a3a" '
            f'stroke-width="7" stroke-linecap="round"/>'
            f'<circle cx="{hx - 26:.1f}" cy="{hy - 54:.1f}" r="6" fill="#8a4a22" {OUTLINE}/>'
            f'<circle cx="{hx + 12:.1f}" cy="{hy - 54:.1f}" r="6" fill="#8a4a22" {OUTLINE}/>'
            f'<ellipse cx="{hx - 42:.1f}" cy="{hy - 20:.1f}" rx="16" ry="7" fill="#f4c25a" {OUTLINE} '
            f'transform="rotate(-20 {hx - 42:.1f} {hy - 20:.1f})"/>'
            f'<ellipse cx="{hx + 26:.1f}" cy="{hy - 20:.1f}" rx="16" ry="7" fill="#f4c25a" {OUTLINE} '
            f'transform="rotate(20 {hx + 26:.1f} {hy - 20:.1f})"/>'
            f'<ellipse cx="{hx - 7:.1f}" cy="{hy:.1f}" rx="32" ry="38" fill="#f4c25a" {OUTLINE}/>'
            f'<ellipse cx="{hx - 7:.1f}" cy="{hy + 30 + chew:.1f}" rx="26" ry="18" fill="#e8b070" {OUTLINE}/>'
            f'<ellipse cx="{hx - 16:.1f}" cy="{hy + 26 + chew:.1f}" rx="3" ry="4" fill="#5b3520"/>'
            f'<ellipse cx="{hx + 2:.1f}" cy="{hy + 26 + chew:.1f}" rx="3" ry="4" fill="#5b3520"/>'
            f'<path d="M{hx - 18:.1f} {hy + 38 + chew:.1f} q11 8 22 0" fill="none" stroke="#5b3520" '
            f'stroke-width="2.5" stroke-linecap="round"/>')
    if blink:
        eyes = "".join(f'<path d="M{hx + ex - 7:.1f} {hy - 6:.1f} q7 5 14 0" fill="none" stroke="#2b2330" '
                       f'stroke-width="3" stroke-linecap="round"/>' for ex in (-20, 6))
    else:
        eyes = "".join(f'<ellipse cx="{hx + ex:.1f}" cy="{hy - 6:.1f}" rx="8" ry="9" fill="white" {OUTLINE}/>'
                       f'<circle cx="{hx + ex + look / 5:.1f}" cy="{hy - 5:.1f}" r="4.5" fill="#1b1b1b"/>'
                       f'<circle cx="{hx + ex + look / 5 + 1.5:.1f}" cy="{hy - 7:.1f}" r="1.5" fill="white"/>'
                       f'<path d="M{hx + ex - 8:.1f} {hy - 16:.1f} l-3 -4 M{hx + ex:.1f} {hy - 17:.1f} l0 -5 '
                       f'M{hx + ex + 8:.1f} {hy - 16:.1f} l3 -4" stroke="#2b2330" stroke-width="2"/>'
                       for ex in (-20, 6))
    # Drawn half as large again about the middle of the window's sill.
    return (f'<g transform="translate(160 240) scale(1.5) translate(-160 -240)">{neck}{head}{eyes}</g>', None,
            0)


# --- The ghost: floats through the room from right to left, waving, best see-through. ----------------
GHO_W, GHO_H, GHO_FRAMES, GHO_FPS = 480, 270, 40, 10


def ghost(i):
    t = i / (GHO_FRAMES - 1)
    x = lerp(GHO_W + 70, -70, t)
    y = 120 + 14 * math.sin(i * 0.5)
    sway = 6 * math.sin(i * 0.5 + 1)
    hem = " ".join(f"q{6:.1f} {12 if k % 2 == 0 else -12} 12 0" for k in range(8))
    wob = 4 * math.sin(i * 0.9)
    body = (f'<path d="M{x - 48:.1f} {y + 60:.1f} L{x - 48:.1f} {y - 10:.1f} C{x - 48:.1f} {y - 80:.1f} '
            f'{x + 48:.1f} {y - 80:.1f} {x + 48:.1f} {y - 10:.1f} L{x + 48 + sway:.1f} {y + 60 + wob:.1f} '
            f'L{x - 48 + sway:.1f} {y + 60 + wob:.1f} Z" fill="#f7f7ff" {OUTLINE}/>'
            f'<path d="M{x - 48 + sway:.1f} {y + 60 + wob:.1f} {hem}" fill="#f7f7ff" {OUTLINE}/>'
            f'<rect x="{x - 45 + sway:.1f}" y="{y + 50 + wob:.1f}" width="90" height="10" fill="#f7f7ff"/>')
    arm = 16 * math.sin(i * 0.8)
    arms = (f'<path d="M{x - 46:.1f} {y + 10:.1f} q-26 {-10 + arm:.1f} -30 {-26 + arm:.1f}" fill="none" '
            f'stroke="#2b2330" stroke-width="15" stroke-linecap="round"/>'
            f'<path d="M{x - 46:.1f} {y + 10:.1f} q-26 {-10 + arm:.1f} -30 {-26 + arm:.1f}" fill="none" '
            f'stroke="#f7f7ff" stroke-width="9" stroke-linecap="round"/>')
    mouth = 6 + 4 * math.sin(i * 0.6)
    face = (f'<ellipse cx="{x - 16:.1f}" cy="{y - 18:.1f}" rx="8" ry="11" fill="#2b2330"/>'
            f'<ellipse cx="{x + 14:.1f}" cy="{y - 18:.1f}" rx="8" ry="11" fill="#2b2330"/>'
            f'<circle cx="{x - 18:.1f}" cy="{y - 22:.1f}" r="2.5" fill="white"/>'
            f'<circle cx="{x + 12:.1f}" cy="{y - 22:.1f}" r="2.5" fill="white"/>'
            f'<ellipse cx="{x - 1:.1f}" cy="{y + 8:.1f}" rx="8" ry="{mouth:.1f}" fill="#2b2330"/>'
            f'<ellipse cx="{x - 30:.1f}" cy="{y - 2:.1f}" rx="7" ry="4" fill="#f4b6c8"/>'
            f'<ellipse cx="{x + 28:.1f}" cy="{y - 2:.1f}" rx="7" ry="4" fill="#f4b6c8"/>')
    return arms + body + face, None, 0


# --- The balloon: a hot-air balloon drifts up through the room with a waving passenger. --------------
BAL_W, BAL_H, BAL_FRAMES, BAL_FPS = 480, 270, 48, 10
GORES = ["#e8483f", "#f6c23e", "#3fa0e8", "#f6c23e", "#e8483f", "#4fbf6a"]


def balloon(i):
    t = i / (BAL_FRAMES - 1)
    x = lerp(90, 400, t)
    y = lerp(330, -110, ease(t * 0.9 + 0.05))
    tilt = 4 * math.sin(i * 0.4)
    r = 62
    gores = []
    for k, colour in enumerate(GORES):
        a = lerp(-r, r, k / len(GORES))
        b = lerp(-r, r, (k + 1) / len(GORES))
        gores.append(f'<path d="M{a * 0.3:.1f} {r * 0.95:.1f} C{a * 1.25:.1f} {r * 0.3:.1f} {a * 1.25:.1f} '
                     f'{-r * 1.2:.1f} 0 {-r * 1.15:.1f} C{b * 1.25:.1f} {-r * 1.2:.1f} {b * 1.25:.1f} '
                     f'{r * 0.3:.1f} {b * 0.3:.1f} {r * 0.95:.1f} Z" fill="{colour}"/>')
    envelope = (f'<clipPath id="b{i}"><path d="M{-r * 0.3:.1f} {r * 0.95:.1f} C{-r * 1.3:.1f} {r * 0.3:.1f} '
                f'{-r * 1.3:.1f} {-r * 1.2:.1f} 0 {-r * 1.15:.1f} C{r * 1.3:.1f} {-r * 1.2:.1f} {r * 1.3:.1f} '
                f'{r * 0.3:.1f} {r * 0.3:.1f} {r * 0.95:.1f} Z"/></clipPath>'
                f'<g clip-path="url(#b{i})">{"".join(gores)}'
                f'<ellipse cx="-26" cy="-40" rx="14" ry="26" fill="white" opacity="0.35"/></g>'
                f'<path d="M{-r * 0.3:.1f} {r * 0.95:.1f} C{-r * 1.3:.1f} {r * 0.3:.1f} {-r * 1.3:.1f} '
                f'{-r * 1.2:.1f} 0 {-r * 1.15:.1f} C{r * 1.3:.1f} {-r * 1.2:.1f} {r * 1.3:.1f} {r * 0.3:.1f} '
                f'{r * 0.3:.1f} {r * 0.95:.1f} Z" fill="none" {OUTLINE}/>')
    wave = 18 * math.sin(i * 0.9)
    basket_y = r + 34
    passenger = (f'<circle cx="4" cy="{basket_y - 14}" r="9" fill="#f2c9a6" {OUTLINE}/>'
                 f'<path d="M-4 {basket_y - 20} q8 -10 17 0" fill="#7a4b2a"/>'
                 f'<circle cx="1" cy="{basket_y - 15}" r="1.4" fill="#2b2330"/>'
                 f'<circle cx="8" cy="{basket_y - 15}" r="1.4" fill="#2b2330"/>'
                 f'<path d="M12 {basket_y - 4} l{12 * math.cos(math.radians(60 + wave)):.1f} '
                 f'{-16 * math.sin(math.radians(60 + wave)):.1f}" stroke="#3a6fb0" stroke-width="5" '
                 f'stroke-linecap="round"/>')
    ropes = (f'<path d="M{-r * 0.3:.1f} {r * 0.95:.1f} L-14 {basket_y} M{r * 0.3:.1f} {r * 0.95:.1f} L14 {basket_y}" '
             f'stroke="#5b3520" stroke-width="2"/>')
    basket = (f'<path d="M-16 {basket_y} L16 {basket_y} L13 {basket_y + 22} L-13 {basket_y + 22} Z" '
              f'fill="#b9824a" {OUTLINE}/>'
              f'<path d="M-15 {basket_y + 7} L15 {basket_y + 7} M-14 {basket_y + 14} L14 {basket_y + 14}" '
              f'stroke="#7a4b2a" stroke-width="2"/>')
    flame = ""
    if i % 12 < 4:
        flame = (f'<path d="M-5 {r * 0.95 + 14} q5 -20 10 0 q-5 6 -10 0 Z" fill="#ffb53b"/>'
                 f'<path d="M-2 {r * 0.95 + 12} q2 -9 4 0 Z" fill="#fff1a8"/>')
    return (f'<g transform="translate({x:.1f} {y:.1f}) rotate({tilt:.1f} 0 {basket_y})">'
            f'{passenger}{ropes}{basket}{envelope}{flame}</g>'), None, 0


VISITORS = {
    # name: (draw, cell width, cell height, frames, fps, extra file keys)
    "cat": (cat, CAT_W, CAT_H, CAT_FRAMES, CAT_FPS, {}),
    "penguin": (penguin, PEN_W, PEN_H, PEN_FRAMES, PEN_FPS,
                {"glide": 260, "freeze": PEN_FREEZE, "box": [0, PEN_W]}),
    "giraffe": (giraffe, GIR_W, GIR_H, GIR_FRAMES, GIR_FPS, {"window": True}),
    "ghost": (ghost, GHO_W, GHO_H, GHO_FRAMES, GHO_FPS, {}),
    "balloon": (balloon, BAL_W, BAL_H, BAL_FRAMES, BAL_FPS, {}),
}


def render(svg_text, path, rsvg):
    with tempfile.NamedTemporaryFile("w", suffix=".svg", delete=False) as f:
        f.write(svg_text)
        name = f.name
    try:
        subprocess.run([rsvg, "--format", "png", "--output", path, name], check=True)
    finally:
        os.unlink(name)


def value(v):
    if isinstance(v, bool):
        return "true" if v else "false"
    if isinstance(v, list):
        return "[" + ", ".join(str(x) for x in v) + "]"
    return str(v)


def main():
    out = sys.argv[1]
    rsvg = sys.argv[2] if len(sys.argv) > 2 else "rsvg-convert"
    os.makedirs(out, exist_ok=True)
    for name, (draw, w, h, frames, fps, extra) in VISITORS.items():
        cells, feet, cx = [], [], []
        for i in range(frames):
            svg, foot, offset = draw(i)
            x, y = (i % COLS) * w, (i // COLS) * h
            cells.append(f'<g transform="translate({x} {y})"><svg width="{w}" height="{h}" overflow="hidden">'
                         f'{svg}</svg></g>')
            feet.append(foot)
            cx.append(offset)
        rows = (frames + COLS - 1) // COLS
        sheet = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{min(frames, COLS) * w}" height="{rows * h}">'
                 + "".join(cells) + "</svg>")
        render(sheet, os.path.join(out, f"visitor_{name}.png"), rsvg)
        lines = ["{", f'  "frameW": {w}, "frameH": {h}, "cols": {COLS}, "count": {frames}, "fps": {fps},']
        lines += [f'  "{k}": {value(v)},' for k, v in extra.items()]
        lines.append('  "cx": [' + ", ".join(str(c) for c in cx) + "],")
        lines.append('  "feet": [' + ", ".join("null" if f is None else value(f) for f in feet) + "]")
        lines.append("}")
        with open(os.path.join(out, f"visitor_{name}.json"), "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
