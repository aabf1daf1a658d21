#!/usr/bin/python3
"""Draws the built-in torsos: for each figure one sprite sheet per clip, a thumbnail and the torso file.

Each frame is a vector drawing (SVG) of the figure in a pose; the poses of a clip are keyframes eased into
one another. The sheets are rendered by rsvg-convert at build time into the program's folder:
    make_torsos.py OUTPUT_FOLDER [RSVG_CONVERT]
writes torso_NAME.json, torso_NAME_CLIP.png and torso_NAME_thumb.png for every figure.

A cell is drawn around the head anchor: the user's head covers the circle around (HEAD_X, HEAD_Y); the
neck runs up under it, so the cut-out head always meets the body."""
import json
import math
import os
import subprocess
import sys
import tempfile

CELL_W = 480
HEAD_X, HEAD_Y, HEAD_W = 240, 72, 84      # head anchor and width in a cell
FACE = HEAD_W / 0.95                       # the drawn face width in cell pixels
FPS = 15
COLS = 8


def ease(t):
    t = max(0.0, min(1.0, t))
    return t * t * (3 - 2 * t)


def lerp(a, b, t):
    return a + (b - a) * t


class Pose:
    """Angles in degrees from straight down, positive outward, for the left (screen left) and right arm:
    shoulder (a) and elbow bend (b); lift raises the shoulders; fingers: 'fist', 'open', 'point', or a
    count 1..5; bob moves the whole body down (breathing, knees)."""

    def __init__(self, la=12, lb=-10, ra=12, rb=-10, lift=0.0, lhand="open", rhand="open", bob=0.0,
                 lean=0.0, extra=None):
        self.la, self.lb, self.ra, self.rb = la, lb, ra, rb
        self.lift, self.lhand, self.rhand, self.bob, self.lean = lift, lhand, rhand, bob, lean
        self.extra = extra or {}

    def blend(self, other, t):
        p = Pose(lerp(self.la, other.la, t), lerp(self.lb, other.lb, t), lerp(self.ra, other.ra, t),
                 lerp(self.rb, other.rb, t), lerp(self.lift, other.lift, t),
                 self.lhand if t < 0.5 else other.lhand, self.rhand if t < 0.5 else other.rhand,
                 lerp(self.bob, other.bob, t), lerp(self.lean, other.lean, t))
        keys = set(self.extra) | set(other.extra)
        p.extra = {k: lerp(self.extra.get(k, 0.0), other.extra.get(k, 0.0), t) for k in keys}
        return p


REST = Pose()


def timeline(keys, frames):
    """keys: [(frame, Pose)], eased between; returns one pose per frame."""
    out = []
    for f in range(frames):
        for (f0, p0), (f1, p1) in zip(keys, keys[1:]):
            if f0 <= f <= f1:
                out.append(p0.blend(p1, ease((f - f0) / max(f1 - f0, 1))))
                break
        else:
            out.append(keys[-1][1])
    return out


def clips():
    """The six clips every figure has: name → (poses, exit frames)."""
    c = {}
    idle = []
    for f in range(24):
        w = math.sin(2 * math.pi * f / 24)
        idle.append(Pose(la=12 + 2 * w, lb=-10 - 3 * w, ra=12 - 2 * w, rb=-10 + 3 * w, lift=1.5 * w, bob=1.2 * w))
    c["idle"] = (idle, [0, 12])
    up = Pose(la=62, lb=78, ra=62, rb=78, lift=13, lhand="open", rhand="open", extra={"brow": 1})
    c["shrug"] = (timeline([(0, REST), (4, up), (9, up), (13, REST)], 14), [])
    hoorayA = Pose(la=150, lb=-18, ra=150, rb=-18, lift=6, lhand="fist", rhand="fist", bob=-4,
                   extra={"spark": 0.3})
    hoorayB = Pose(la=165, lb=-6, ra=165, rb=-6, lift=8, lhand="fist", rhand="fist", bob=-7,
                   extra={"spark": 1})
    c["celebrate"] = (timeline([(0, REST), (3, hoorayA), (6, hoorayB), (9, hoorayA), (12, hoorayB),
                                (16, REST)], 17), [])
    inA = Pose(la=18, lb=-118, ra=14, rb=-14, lhand="open")
    outA = Pose(la=38, lb=52, ra=14, rb=-16, lhand="open", lean=2)
    inB = Pose(la=14, lb=-14, ra=18, rb=-118, rhand="open")
    outB = Pose(la=16, lb=-16, ra=38, rb=52, rhand="open", lean=-2)
    c["explain"] = (timeline([(0, REST), (3, inA), (6, outA), (9, inB), (12, outB), (15, REST)], 16), [])
    raised = lambda n: Pose(la=24, lb=142, ra=14, rb=-16, lhand=n, rhand="open")
    c["count"] = (timeline([(0, REST), (3, raised(1)), (7, raised(2)), (11, raised(3)), (15, raised(3)),
                            (18, REST)], 19), [])
    aim = Pose(la=10, lb=-12, ra=88, rb=8, rhand="point", lean=-3)
    c["point"] = (timeline([(0, REST), (4, aim), (10, aim), (14, REST)], 15), [])
    return c


# ---------------------------------------------------------------------------------------------- drawing

def arm_points(side, a, b, shoulder, upper, fore):
    """side −1 for the screen-left arm, +1 for the right; returns elbow and hand and the forearm angle."""
    sx, sy = shoulder
    ar = math.radians(a)
    ex, ey = sx + side * upper * math.sin(ar), sy + upper * math.cos(ar)
    fr = math.radians(a + b)
    hx, hy = ex + side * fore * math.sin(fr), ey + fore * math.cos(fr)
    return (ex, ey), (hx, hy), fr


def hand_svg(side, hand, kind, fr, skin, outline, r=12):
    hx, hy = hand
    dx, dy = side * math.sin(fr), math.cos(fr)     # along the forearm, out of the hand
    px, py = -dy, dx
    s = []
    finger = lambda ang, length, w=6.5: (
        f'<line x1="{hx:.1f}" y1="{hy:.1f}" x2="{hx + (dx * math.cos(ang) - px * math.sin(ang)) * length:.1f}" '
        f'y2="{hy + (dy * math.cos(ang) - py * math.sin(ang)) * length:.1f}" stroke="{skin}" stroke-width="{w}" '
        f'stroke-linecap="round"/>')
    if kind == "open":
        for ang in (-0.75, -0.3, 0.05, 0.4):
            s.append(finger(ang, r + 9))
        s.append(finger(1.25 * side * 0 + 1.2, r + 5))
    elif kind == "point":
        s.append(finger(0.0, r + 17, 7))
        s.append(finger(1.1, r + 2))
    elif isinstance(kind, int):
        for i in range(kind):
            s.append(finger(-0.35 + 0.3 * i, r + 13, 6.5))
    s.append(f'<circle cx="{hx:.1f}" cy="{hy:.1f}" r="{r}" fill="{skin}" stroke="{outline}" stroke-width="2"/>')
    if kind == "fist":
        s.append(f'<path d="M{hx - 7:.1f} {hy - 3:.1f} q7 -5 14 0" fill="none" stroke="{outline}" '
                 f'stroke-width="1.6" opacity="0.6"/>')
    return "".join(s)


def arm_svg(side, pose, shoulder, look):
    a, b = (pose.la, pose.lb) if side < 0 else (pose.ra, pose.rb)
    kind = pose.lhand if side < 0 else pose.rhand
    elbow, hand, fr = arm_points(side, a, b, shoulder, look["upper"], look["fore"])
    sx, sy = shoulder
    w = look["sleeve"]
    s = [f'<path d="M{sx:.1f} {sy:.1f} L{elbow[0]:.1f} {elbow[1]:.1f} L{hand[0]:.1f} {hand[1]:.1f}" '
         f'fill="none" stroke="{look["outline"]}" stroke-width="{w + 4}" stroke-linecap="round" '
         f'stroke-linejoin="round"/>',
         f'<path d="M{sx:.1f} {sy:.1f} L{elbow[0]:.1f} {elbow[1]:.1f} L{hand[0]:.1f} {hand[1]:.1f}" '
         f'fill="none" stroke="{look["arm"]}" stroke-width="{w}" stroke-linecap="round" stroke-linejoin="round"/>']
    # The cuff, a band across the forearm near the hand.
    cx, cy = lerp(elbow[0], hand[0], 0.78), lerp(elbow[1], hand[1], 0.78)
    dx, dy = side * math.sin(fr), math.cos(fr)
    px, py = -dy * (w / 2 + 1), dx * (w / 2 + 1)
    s.append(f'<line x1="{cx - px:.1f}" y1="{cy - py:.1f}" x2="{cx + px:.1f}" y2="{cy + py:.1f}" '
             f'stroke="{look["cuff"]}" stroke-width="7" stroke-linecap="round"/>')
    s.append(hand_svg(side, hand, kind, fr, look["hand"], look["outline"]))
    return "".join(s)


def sparkles(amount, t):
    if amount <= 0.01:
        return ""
    out = []
    colours = ["#ffd54a", "#ff6f91", "#6fd3ff", "#9cff6f", "#ffb36f"]
    for i in range(9):
        ang = i * 2.399 + t * 0.7
        rad = 110 + 40 * ((i * 37) % 5) / 4
        x, y = HEAD_X + rad * math.cos(ang), HEAD_Y + 30 + 0.7 * rad * math.sin(ang) - 40
        size = 5 + 3 * (i % 3)
        c = colours[i % len(colours)]
        out.append(f'<g transform="translate({x:.1f} {y:.1f}) rotate({(i * 40 + t * 30) % 360:.0f}) '
                   f'scale({amount:.2f})" opacity="{min(1, amount * 1.2):.2f}">'
                   f'<path d="M0 {-size} L{size * 0.3:.1f} {-size * 0.3:.1f} L{size} 0 L{size * 0.3:.1f} '
                   f'{size * 0.3:.1f} L0 {size} L{-size * 0.3:.1f} {size * 0.3:.1f} L{-size} 0 '
                   f'L{-size * 0.3:.1f} {-size * 0.3:.1f} Z" fill="{c}"/></g>')
    return "".join(out)


def neck_svg(look, bob):
    nw = 0.46 * FACE
    top, bottom = HEAD_Y + 0.2 * FACE, HEAD_Y + 0.98 * FACE + bob
    return (f'<rect x="{HEAD_X - nw / 2:.1f}" y="{top:.1f}" width="{nw:.1f}" height="{bottom - top:.1f}" '
            f'rx="{nw / 3:.1f}" fill="{look["neck"]}"/>'
            f'<ellipse cx="{HEAD_X}" cy="{HEAD_Y + 0.72 * FACE:.1f}" rx="{nw / 2:.1f}" ry="7" '
            f'fill="#000" opacity="0.18"/>')


# Figures: each draws one frame from a pose. Coordinates are cell pixels; the shoulders sit a little under
# the chin.

def suit_frame(p, f):
    look = dict(arm="#2d3a5c", cuff="#f4f4f0", hand="#e6b08e", outline="#1b2238", neck="#e2a987",
                sleeve=30, upper=74, fore=68)
    y0 = HEAD_Y + 1.0 * FACE + p.bob          # shoulder line
    lift = p.lift
    sh = [(HEAD_X - 90, y0 + 20 - lift), (HEAD_X + 90, y0 + 20 - lift)]
    s = [neck_svg(look, p.bob)]
    # Jacket body.
    s.append(f'<path d="M{HEAD_X - 30} {y0 - 6 - lift * 0.3:.1f} C{HEAD_X - 62} {y0 - lift:.1f}, '
             f'{HEAD_X - 98} {y0 + 6 - lift:.1f}, {HEAD_X - 106} {y0 + 40 - lift:.1f} L{HEAD_X - 100} 352 '
             f'L{HEAD_X + 100} 352 L{HEAD_X + 106} {y0 + 40 - lift:.1f} C{HEAD_X + 98} {y0 + 6 - lift:.1f}, '
             f'{HEAD_X + 62} {y0 - lift:.1f}, {HEAD_X + 30} {y0 - 6 - lift * 0.3:.1f} Z" '
             f'fill="{look["arm"]}" stroke="{look["outline"]}" stroke-width="3"/>')
    # Shirt and tie in the V of the lapels.
    s.append(f'<path d="M{HEAD_X - 30} {y0 - 6:.1f} L{HEAD_X} {y0 + 96:.1f} L{HEAD_X + 30} {y0 - 6:.1f} Z" '
             f'fill="#f7f7f2"/>')
    s.append(f'<path d="M{HEAD_X - 9} {y0 + 4:.1f} L{HEAD_X + 9} {y0 + 4:.1f} L{HEAD_X + 6} {y0 + 14:.1f} '
             f'L{HEAD_X + 12} {y0 + 78:.1f} L{HEAD_X} {y0 + 92:.1f} L{HEAD_X - 12} {y0 + 78:.1f} '
             f'L{HEAD_X - 6} {y0 + 14:.1f} Z" fill="#d8343f" stroke="#8e1c25" stroke-width="1.5"/>')
    for i in range(4):
        s.append(f'<line x1="{HEAD_X - 8 + i * 2}" y1="{y0 + 26 + i * 14:.1f}" x2="{HEAD_X + 10}" '
                 f'y2="{y0 + 20 + i * 14:.1f}" stroke="#ff8b8b" stroke-width="2" opacity="0.6"/>')
    # Collar points and lapels.
    s.append(f'<path d="M{HEAD_X - 30} {y0 - 8:.1f} L{HEAD_X - 8} {y0 + 6:.1f} L{HEAD_X - 22} {y0 + 16:.1f} Z '
             f'M{HEAD_X + 30} {y0 - 8:.1f} L{HEAD_X + 8} {y0 + 6:.1f} L{HEAD_X + 22} {y0 + 16:.1f} Z" '
             f'fill="#ffffff" stroke="#c9c9c0" stroke-width="1.5"/>')
    s.append(f'<path d="M{HEAD_X - 32} {y0 - 6:.1f} L{HEAD_X - 46} {y0 + 34:.1f} L{HEAD_X - 30} {y0 + 40:.1f} '
             f'L{HEAD_X - 4} {y0 + 100:.1f} L{HEAD_X - 24} {y0 + 30:.1f} Z M{HEAD_X + 32} {y0 - 6:.1f} '
             f'L{HEAD_X + 46} {y0 + 34:.1f} L{HEAD_X + 30} {y0 + 40:.1f} L{HEAD_X + 4} {y0 + 100:.1f} '
             f'L{HEAD_X + 24} {y0 + 30:.1f} Z" fill="#39486f" stroke="{look["outline"]}" stroke-width="2"/>')
    # Pocket square and buttons.
    s.append(f'<path d="M{HEAD_X + 52} {y0 + 50:.1f} l26 0 l-4 8 l-18 0 Z" fill="#f0c24a"/>'
             f'<line x1="{HEAD_X + 50}" y1="{y0 + 58:.1f}" x2="{HEAD_X + 80}" y2="{y0 + 58:.1f}" '
             f'stroke="{look["outline"]}" stroke-width="2"/>')
    for i in range(2):
        s.append(f'<circle cx="{HEAD_X + 1}" cy="{y0 + 116 + i * 26:.1f}" r="4.5" fill="#1b2238"/>')
    s.append(arm_svg(-1, p, sh[0], look))
    s.append(arm_svg(1, p, sh[1], look))
    s.append(sparkles(p.extra.get("spark", 0), f))
    return "".join(s)


def hoodie_frame(p, f):
    look = dict(arm="#2fa39a", cuff="#23796f", hand="#f0c1a0", outline="#18524c", neck="#eab996",
                sleeve=34, upper=74, fore=68)
    y0 = HEAD_Y + 1.0 * FACE + p.bob
    lift = p.lift
    sh = [(HEAD_X - 86, y0 + 16 - lift), (HEAD_X + 86, y0 + 16 - lift)]
    # The hood behind the head, open towards the face.
    s = [f'<path d="M{HEAD_X - 70} {y0 + 10:.1f} C{HEAD_X - 96} {HEAD_Y - 10}, {HEAD_X - 60} {HEAD_Y - 70}, '
         f'{HEAD_X} {HEAD_Y - 74} C{HEAD_X + 60} {HEAD_Y - 70}, {HEAD_X + 96} {HEAD_Y - 10}, {HEAD_X + 70} '
         f'{y0 + 10:.1f} Z" fill="#268b83" stroke="{look["outline"]}" stroke-width="3"/>',
         f'<path d="M{HEAD_X - 54} {y0:.1f} C{HEAD_X - 72} {HEAD_Y}, {HEAD_X - 44} {HEAD_Y - 54}, {HEAD_X} '
         f'{HEAD_Y - 56} C{HEAD_X + 44} {HEAD_Y - 54}, {HEAD_X + 72} {HEAD_Y}, {HEAD_X + 54} {y0:.1f} Z" '
         f'fill="#1b6660"/>']
    s.append(neck_svg(look, p.bob))
    # Body.
    s.append(f'<path d="M{HEAD_X - 40} {y0 - 4 - lift * 0.3:.1f} C{HEAD_X - 80} {y0 - lift:.1f}, '
             f'{HEAD_X - 102} {y0 + 10 - lift:.1f}, {HEAD_X - 106} {y0 + 40 - lift:.1f} L{HEAD_X - 104} 352 '
             f'L{HEAD_X + 104} 352 L{HEAD_X + 106} {y0 + 40 - lift:.1f} C{HEAD_X + 102} {y0 + 10 - lift:.1f}, '
             f'{HEAD_X + 80} {y0 - lift:.1f}, {HEAD_X + 40} {y0 - 4 - lift * 0.3:.1f} Z" '
             f'fill="{look["arm"]}" stroke="{look["outline"]}" stroke-width="3"/>')
    # Hood rim round the neck, drawstrings with aglets, the kangaroo pocket and a star badge.
    s.append(f'<path d="M{HEAD_X - 44} {y0 - 4:.1f} Q{HEAD_X} {y0 + 30:.1f} {HEAD_X + 44} {y0 - 4:.1f}" '
             f'fill="none" stroke="#23796f" stroke-width="10" stroke-linecap="round"/>')
    sway = 3 * math.sin(2 * math.pi * f / 12)
    for side in (-1, 1):
        x = HEAD_X + side * 14
        s.append(f'<path d="M{x} {y0 + 12:.1f} q{sway * side:.1f} 26 {side * 2 + sway:.1f} 52" fill="none" '
                 f'stroke="#f4f1e8" stroke-width="4" stroke-linecap="round"/>'
                 f'<rect x="{x + side * 2 + sway - 3:.1f}" y="{y0 + 62:.1f}" width="6" height="10" rx="2" '
                 f'fill="#f0a83b"/>')
    s.append(f'<path d="M{HEAD_X - 56} {y0 + 150:.1f} L{HEAD_X - 40} {y0 + 108:.1f} L{HEAD_X + 40} '
             f'{y0 + 108:.1f} L{HEAD_X + 56} {y0 + 150:.1f} Z" fill="#289589" stroke="{look["outline"]}" '
             f'stroke-width="2.5"/>')
    s.append(f'<path transform="translate({HEAD_X - 62} {y0 + 50:.1f})" d="M0 -11 L3 -3 L11 -3 L5 2 L7 10 '
             f'L0 5 L-7 10 L-5 2 L-11 -3 L-3 -3 Z" fill="#f0a83b"/>')
    s.append(arm_svg(-1, p, sh[0], look))
    s.append(arm_svg(1, p, sh[1], look))
    s.append(sparkles(p.extra.get("spark", 0), f))
    return "".join(s)


def astronaut_frame(p, f):
    look = dict(arm="#eef1f5", cuff="#f0a83b", hand="#c7ccd6", outline="#59627a", neck="#dfe3ea",
                sleeve=36, upper=78, fore=72)
    y0 = HEAD_Y + 1.0 * FACE + p.bob
    lift = p.lift
    sh = [(HEAD_X - 88, y0 + 16 - lift), (HEAD_X + 88, y0 + 16 - lift)]
    s = []
    # The helmet's glass behind the head: a faint bubble with a highlight.
    s.append(f'<circle cx="{HEAD_X}" cy="{HEAD_Y + 4}" r="{0.86 * FACE:.1f}" fill="#bfe6ff" opacity="0.22" '
             f'stroke="#dff3ff" stroke-width="4"/>'
             f'<path d="M{HEAD_X - 0.62 * FACE:.1f} {HEAD_Y - 0.38 * FACE:.1f} A{0.74 * FACE:.1f} '
             f'{0.74 * FACE:.1f} 0 0 1 {HEAD_X - 0.1 * FACE:.1f} {HEAD_Y - 0.8 * FACE:.1f}" fill="none" '
             f'stroke="#ffffff" stroke-width="7" stroke-linecap="round" opacity="0.8"/>')
    # Backpack behind the shoulders.
    s.append(f'<rect x="{HEAD_X - 112}" y="{y0 + 6:.1f}" width="224" height="150" rx="22" fill="#b9c0cc" '
             f'stroke="{look["outline"]}" stroke-width="3"/>')
    s.append(neck_svg(look, p.bob))
    # Legs and boots: the knees give a little with the bob.
    knee = max(0.0, -p.bob) * 1.5
    hip = y0 + 190
    for side in (-1, 1):
        x = HEAD_X + side * 40
        s.append(f'<path d="M{x:.1f} {hip:.1f} L{x + side * (6 + knee):.1f} {hip + 120:.1f} L{x:.1f} 590" '
                 f'fill="none" stroke="{look["outline"]}" stroke-width="50" stroke-linecap="round" '
                 f'stroke-linejoin="round"/>'
                 f'<path d="M{x:.1f} {hip:.1f} L{x + side * (6 + knee):.1f} {hip + 120:.1f} L{x:.1f} 590" '
                 f'fill="none" stroke="#eef1f5" stroke-width="44" stroke-linecap="round" stroke-linejoin="round"/>'
                 f'<line x1="{x - 20:.1f}" y1="{hip + 120:.1f}" x2="{x + 20:.1f}" y2="{hip + 120:.1f}" '
                 f'stroke="#d6dbe4" stroke-width="6"/>'
                 f'<path d="M{x - 28:.1f} 600 Q{x - 28:.1f} 578 {x:.1f} 578 Q{x + 30:.1f} 578 {x + side * 8 + 30:.1f}'
                 f' 604 L{x + side * 8 + 32:.1f} 618 L{x - 30:.1f} 618 Z" fill="#5b6478" stroke="#353b4a" '
                 f'stroke-width="3"/>')
    # Suit body with its neck ring, chest panel and mission patch.
    s.append(f'<path d="M{HEAD_X - 44} {y0 - 2 - lift * 0.3:.1f} C{HEAD_X - 86} {y0 - lift:.1f}, '
             f'{HEAD_X - 104} {y0 + 12 - lift:.1f}, {HEAD_X - 104} {y0 + 44 - lift:.1f} L{HEAD_X - 84} '
             f'{hip + 16:.1f} Q{HEAD_X} {hip + 40:.1f} {HEAD_X + 84} {hip + 16:.1f} L{HEAD_X + 104} '
             f'{y0 + 44 - lift:.1f} C{HEAD_X + 104} {y0 + 12 - lift:.1f}, {HEAD_X + 86} {y0 - lift:.1f}, '
             f'{HEAD_X + 44} {y0 - 2 - lift * 0.3:.1f} Z" fill="#eef1f5" stroke="{look["outline"]}" '
             f'stroke-width="3"/>')
    s.append(f'<ellipse cx="{HEAD_X}" cy="{y0:.1f}" rx="54" ry="14" fill="#c9ced8" stroke="{look["outline"]}" '
             f'stroke-width="3"/>')
    s.append(f'<rect x="{HEAD_X - 34}" y="{y0 + 44:.1f}" width="68" height="46" rx="8" fill="#d9dee7" '
             f'stroke="{look["outline"]}" stroke-width="2.5"/>')
    blink = (f // 4) % 2
    for i, c in enumerate(["#ff5a5a", "#4cd37a", "#4ab3ff"]):
        on = 1 if (i + blink) % 3 else 0.35
        s.append(f'<circle cx="{HEAD_X - 20 + i * 20}" cy="{y0 + 58:.1f}" r="6" fill="{c}" opacity="{on}"/>')
    s.append(f'<rect x="{HEAD_X - 24}" y="{y0 + 72:.1f}" width="48" height="8" rx="3" fill="#8c95a8"/>')
    s.append(f'<circle cx="{HEAD_X + 64}" cy="{y0 + 44:.1f}" r="13" fill="#2d4a8a" stroke="#f0a83b" '
             f'stroke-width="3"/><circle cx="{HEAD_X + 60}" cy="{y0 + 41:.1f}" r="4" fill="#ffffff"/>')
    s.append(f'<rect x="{HEAD_X - 86}" y="{hip + 2:.1f}" width="172" height="16" rx="6" fill="#9aa3b5"/>')
    s.append(arm_svg(-1, p, sh[0], look))
    s.append(arm_svg(1, p, sh[1], look))
    s.append(sparkles(p.extra.get("spark", 0), f))
    return "".join(s)


FIGURES = {
    # name: (drawing, cell height, full length, eye points for the kitten face)
    "suit": (suit_frame, 352, False, None),
    "hoodie": (hoodie_frame, 352, False, [HEAD_X - 0.2 * FACE, HEAD_Y - 0.05 * FACE,
                                         HEAD_X + 0.2 * FACE, HEAD_Y - 0.05 * FACE]),
    "astronaut": (astronaut_frame, 640, True, None),
}


def head_stand_in():
    """The thumbnails' head: a plain round face, since the user's own head goes there."""
    r = 0.5 * FACE
    return (f'<ellipse cx="{HEAD_X}" cy="{HEAD_Y}" rx="{r:.1f}" ry="{r * 1.2:.1f}" fill="#f2c9a6" '
            f'stroke="#9c6b4a" stroke-width="3"/>'
            f'<circle cx="{HEAD_X - 14}" cy="{HEAD_Y - 4}" r="4" fill="#3a2a20"/>'
            f'<circle cx="{HEAD_X + 14}" cy="{HEAD_Y - 4}" r="4" fill="#3a2a20"/>'
            f'<path d="M{HEAD_X - 12} {HEAD_Y + 16} Q{HEAD_X} {HEAD_Y + 26} {HEAD_X + 12} {HEAD_Y + 16}" '
            f'fill="none" stroke="#3a2a20" stroke-width="3" stroke-linecap="round"/>')


def render(svg_text, path, rsvg, width=None):
    with tempfile.NamedTemporaryFile("w", suffix=".svg", delete=False) as f:
        f.write(svg_text)
        name = f.name
    try:
        args = [rsvg, "--format", "png", "--output", path, name]
        if width:
            args[1:1] = ["--width", str(width), "--keep-aspect-ratio"]
        subprocess.run(args, check=True)
    finally:
        os.unlink(name)


def main():
    out = sys.argv[1]
    rsvg = sys.argv[2] if len(sys.argv) > 2 else "rsvg-convert"
    os.makedirs(out, exist_ok=True)
    all_clips = clips()
    for name, (draw, cell_h, full, eyes) in FIGURES.items():
        counts, exits = {}, {}
        for clip, (poses, exit_frames) in all_clips.items():
            n = len(poses)
            rows = (n + COLS - 1) // COLS
            cells = []
            for i, pose in enumerate(poses):
                x, y = (i % COLS) * CELL_W, (i // COLS) * cell_h
                cells.append(f'<g transform="translate({x} {y})"><svg width="{CELL_W}" height="{cell_h}" '
                             f'overflow="hidden">{draw(pose, i)}</svg></g>')
            svg = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{COLS * CELL_W}" height="{rows * cell_h}">'
                   + "".join(cells) + "</svg>")
            render(svg, os.path.join(out, f"torso_{name}_{clip}.png"), rsvg)
            counts[clip] = n
            exits[clip] = exit_frames
        # The thumbnail: the figure at rest with a stand-in head, the upper part for half figures.
        view_h = cell_h if full else 300
        view_w = 340 if not full else 360
        vx = (CELL_W - view_w) / 2
        thumb = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{view_w}" height="{view_h}" '
                 f'viewBox="{vx} -20 {view_w} {view_h}">{draw(REST, 0)}{head_stand_in()}</svg>')
        render(thumb, os.path.join(out, f"torso_{name}_thumb.png"), rsvg, width=160 if not full else 100)
        # The torso file: bare numbers after each clip name.
        lines = ["{", f'  "frameW": {CELL_W}, "frameH": {cell_h}, "cols": {COLS}, "fps": {FPS},',
                 f'  "head": {{"x": {HEAD_X}, "y": {HEAD_Y}, "w": {HEAD_W}}},',
                 f'  "activity": false, "fullLength": {"true" if full else "false"},']
        if eyes:
            lines.append('  "eyes": [' + ", ".join(f"{v:.1f}" for v in eyes) + "],")
        lines.append('  "clips": {' + ", ".join(f'"{c}": {n}' for c, n in counts.items()) + "},")
        lines.append('  "exits": {' + ", ".join(f'"{c}": {json.dumps(e)}' for c, e in exits.items()) + "}")
        lines.append("}")
        with open(os.path.join(out, f"torso_{name}.json"), "w") as f:
            f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
