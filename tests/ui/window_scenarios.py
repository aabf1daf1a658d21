#!/usr/bin/python3
"""The window under Xvfb: each scenario starts its own X server, runs the real window (over the
stand-in engine, qm_window_fake_engine, or the program itself), drives it with xdotool and checks
screenshots and the settings file. Screenshots land in the folder given as the second argument.

Usage: window_scenarios.py BIN_DIR SCREENSHOT_DIR [scenario ...]
"""
import math
import os
import signal
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops, ImageStat

BIN, SHOTS = sys.argv[1], sys.argv[2]
FAKE = os.path.join(BIN, "qm_window_fake_engine")
PROGRAM = os.path.join(BIN, "quillmere")
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "sample.mp4")
# Set by the build when the program has its engine: the real program then plays the sample.
HAS_ENGINE = os.environ.get("QM_WINDOW_HAS_ENGINE") == "1"


class Skip(Exception):
    pass

# Layout at 1200 x 740 DIPs: preview (16, 64)-(863, 540.4), Filters row at y = 556.4.
FILTERS_Y = 64 + 847 * 9 / 16 + 16
PREVIEW_CENTRE = (16 + 847 / 2, 64 + 847 * 9 / 32)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Session:
    """An X server, private user folders and the processes started on them."""

    def __init__(self, width=1920, height=1080, scale=1):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_fd], stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            display = pipe.readline().strip()
        self.home = tempfile.mkdtemp(prefix="qm-window-")
        self.env = dict(os.environ)
        for name in ("config", "data", "runtime", "state"):
            os.makedirs(os.path.join(self.home, name), mode=0o700)
        self.status_file = os.path.join(self.home, "status")
        self.env.update(DISPLAY=":" + display, XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.home, "runtime"),
                        XDG_DATA_HOME=os.path.join(self.home, "data"),
                        XDG_STATE_HOME=os.path.join(self.home, "state"), GDK_SCALE=str(scale),
                        GDK_BACKEND="x11", NO_AT_BRIDGE="1", QM_FAKE_ENGINE_STATUS=self.status_file)
        self.scale = scale
        self.processes = []
        # The server names its display before every client can connect: wait until one can. (With
        # -noreset the server does not restart when this first client leaves, which would refuse the
        # next one for a moment.)
        deadline = time.time() + 10
        while self.xdotool("getdisplaygeometry") == "":
            if time.time() > deadline:
                raise Failure(f"the X server :{display} does not answer")
            time.sleep(0.1)

    def start(self, program, *args):
        process = subprocess.Popen([program, *args], env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        self.processes.append(process)
        return process

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True)
        return result.stdout.strip()

    def wait_window(self, title="^Quillmere$", timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", title)
            if found:
                return found.split()[-1]
            time.sleep(0.2)
        raise Failure(f"no window titled {title}")

    def geometry(self, window):
        values = dict(line.split("=") for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, x_dip, y_dip, button=1):
        x, y, _, _ = self.geometry(window)
        self.xdotool("mousemove", "--sync", int(x + x_dip * self.scale), int(y + y_dip * self.scale))
        self.xdotool("click", button)
        time.sleep(0.4)

    def screenshot(self, window, name):
        path = os.path.join(SHOTS, name)
        full = path + ".full.png"
        subprocess.run(["import", "-window", "root", full], env=self.env, check=True)
        x, y, w, h = self.geometry(window)
        with Image.open(full) as image:
            shot = image.convert("RGB").crop((x, y, x + w, y + h))
        os.remove(full)
        shot.save(path)
        return shot

    def settings(self):
        path = os.path.join(self.env["XDG_CONFIG_HOME"], "Quillmere", "settings.ini")
        return open(path).read() if os.path.exists(path) else ""

    def close(self):
        for process in self.processes:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
        self.xvfb.terminate()
        self.xvfb.wait()


def pixel(image, x_dip, y_dip, scale=1):
    return image.getpixel((int(x_dip * scale), int(y_dip * scale)))


def near(colour, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def set_status(session, status):
    with open(session.status_file, "w") as file:
        file.write(str(status))
    time.sleep(0.8)


def scenario_open_and_minimum(s):
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(1)
    _, _, w, h = s.geometry(window)
    check((w, h) == (1200, 740), f"opens at {w}x{h}, not 1200x740")
    s.screenshot(window, "open_starting.png")
    s.xdotool("windowsize", window, 500, 300)
    time.sleep(0.8)
    _, _, w, h = s.geometry(window)
    check(w >= 940 and h >= 560, f"shrinks to {w}x{h}, below 940x560")
    s.screenshot(window, "minimum_size.png")


def scenario_status_and_preview(s):
    set_status(s, 0)  # held at "starting" until the scenario lets it run (a loaded machine paints late)
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    deadline = time.time() + 10
    shot = s.screenshot(window, "status_starting.png")
    while pixel(shot, 35, 30) == (0, 0, 0) and time.time() < deadline:
        time.sleep(0.2)
        shot = s.screenshot(window, "status_starting.png")
    check(near(pixel(shot, 35, 30), (142, 142, 147)), "the status dot is not grey while starting")
    set_status(s, 1)
    time.sleep(2)
    shot = s.screenshot(window, "status_live.png")
    check(near(pixel(shot, 35, 30), (0x34, 0xC7, 0x59)), "the status dot is not green while running")
    check(near(pixel(shot, *PREVIEW_CENTRE), (250, 150, 40), 30), "the preview does not show the filtered frame")
    set_status(s, 4)
    shot = s.screenshot(window, "status_camera_off.png")
    check(near(pixel(shot, 35, 30), (142, 142, 147)), "the status dot stays green with the camera off")
    check(near(pixel(shot, 100, 100), (11, 11, 13), 6), "the last frame stays after the camera went off")


def scenario_filters_switch(s):
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(2.5)
    s.click(window, 40, FILTERS_Y + 17)
    time.sleep(0.6)
    shot = s.screenshot(window, "filters_off.png")
    check("filters=0" in s.settings(), "the settings file does not say filters=0")
    centre = pixel(shot, *PREVIEW_CENTRE)
    check(centre[2] > centre[0] + 40, f"the preview still shows the filter ({centre})")
    s.click(window, 40, FILTERS_Y + 17)
    time.sleep(0.6)
    check("filters=1" in s.settings(), "a second click does not turn the filters back on")


def scenario_virtual_camera_card(s):
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(1.5)
    edge = 1200 - 321
    s.click(window, edge - 33, FILTERS_Y + 17)
    shot = s.screenshot(window, "card_open.png")
    card = (44, 44, 46)
    check(near(pixel(shot, edge - 200, FILTERS_Y - 20), card, 4), "the card does not open")
    body_tab = (edge + 15 + 2 * 59.6 + 26.8, 63)
    s.click(window, *body_tab)
    shot = s.screenshot(window, "card_closed_by_tab_click.png")
    check(not near(pixel(shot, edge - 200, FILTERS_Y - 20), card, 4), "a click elsewhere leaves the card open")
    check("tab=2" not in s.settings(), "the click that closed the card also switched the tab")
    s.click(window, *body_tab)
    s.screenshot(window, "body_tab.png")
    check("tab=2" in s.settings(), "the second click does not switch the tab")


def scenario_hover(s):
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(1.5)
    edge = 1200 - 321
    x, y, _, _ = s.geometry(window)
    wear_tab = (edge + 15 + 59.6 + 4, 44)  # inside the tab, clear of its icon and caption
    idle = pixel(s.screenshot(window, "hover_none.png"), *wear_tab)
    s.xdotool("mousemove", "--sync", int(x + wear_tab[0]), int(y + wear_tab[1]))
    time.sleep(0.5)
    hovered = pixel(s.screenshot(window, "hover_wear_tab.png"), *wear_tab)
    check(near(idle, (42, 42, 42), 4), f"an idle tab is {idle}")
    check(near(hovered, (55, 55, 55), 4), f"a hovered tab is {hovered}")


def wait_live(s, window, name, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        shot = s.screenshot(window, name)
        if near(pixel(shot, 35, 30), (0x34, 0xC7, 0x59)):
            return shot
        time.sleep(0.5)
    raise Failure("the status never turns live")


def morvel_share(shot):
    """The share of the preview's middle in the default replacement face's skin colour.

    The morvel's skin is yellower than human skin (green well above blue, red not far above green), so a
    large real face close to the camera does not count as the morvel."""
    hits = total = 0
    for y in range(100, 460, 4):
        for x in range(250, 800, 4):
            r, g, b = shot.getpixel((x, y))
            total += 1
            hits += (abs(r - 210) < 25 and abs(g - 180) < 25 and abs(b - 120) < 30
                     and g - b > 40 and r - g < 45)
    return hits / total


def scenario_real_sample(s):
    if not HAS_ENGINE or not os.path.exists(SAMPLE):
        raise Skip("needs the engine and data/sample.mp4")
    recording = os.path.join(s.home, "session.mp4")
    process = s.start(PROGRAM, "--file", SAMPLE, "--record", recording)
    window = s.wait_window()
    wait_live(s, window, "real_sample_live.png")
    time.sleep(2)  # the face is found and followed
    shot = s.screenshot(window, "real_sample_live.png")
    preview = shot.crop((16, 64, 16 + 847, 64 + 476))
    check(max(ImageStat.Stat(preview).stddev) > 20, "the preview shows no picture")
    filtered = morvel_share(shot)
    check(filtered > 0.05, f"the replacement face is not in the preview ({filtered:.3f})")
    s.click(window, 40, FILTERS_Y + 17)
    time.sleep(1)
    shot = s.screenshot(window, "real_sample_filters_off.png")
    check("filters=0" in s.settings(), "the settings file does not say filters=0")
    plain = morvel_share(shot)
    check(plain < filtered / 3, f"the preview still shows the replacement face ({plain:.3f})")
    s.click(window, 1200 - 321 - 33, FILTERS_Y + 17)
    s.screenshot(window, "real_sample_card.png")
    process.terminate()
    code = process.wait(20)
    check(code == 0, f"the program exits with {code} when closed")
    check(os.path.getsize(recording) > 10000, "no session was recorded")


def preview_share(shot, test, step=4):
    """The share of the preview's pixels (every step-th in both directions) for which test(r, g, b) holds."""
    hits = total = 0
    for y in range(64, 540, step):
        for x in range(16, 863, step):
            total += 1
            hits += bool(test(*shot.getpixel((x, y))))
    return hits / total


def teal_share(shot):
    """The share of the preview in the hoodie torso's teal."""
    return preview_share(shot, lambda r, g, b: abs(r - 0x2f) < 30 and abs(g - 0xa3) < 30 and abs(b - 0x9a) < 30)


def scenario_body_tab(s):
    """On the sample: switch body-less on, run the room capture's countdown, then pick the hoodie."""
    if not HAS_ENGINE or not os.path.exists(SAMPLE):
        raise Skip("needs the engine and data/sample.mp4")
    s.start(PROGRAM, "--file", SAMPLE, "--no-camera", "--face", "none")
    window = s.wait_window()
    wait_live(s, window, "body_live.png")
    edge = 1200 - 321
    left = edge + 17
    s.click(window, edge + 15 + 2 * 59.6 + 26.8, 63)  # the Body tab
    s.screenshot(window, "body_tab_start.png")
    # Below the title (44), the heading (30) and two rows of tiles (154), the torso note, then the switch.
    top = 97 + 16
    s.click(window, left + 20, top + 44 + 30 + 154 + 57 + 14 + 13)
    check("bodyless=1" in s.settings(), "the body-less switch did not switch")
    before = s.screenshot(window, "body_bodyless.png")
    chip_y = top + 44 + 30 + 154 + 57 + 14 + 32 + 36 + 10 + 60 + 15
    s.click(window, left + 40, chip_y)
    counting = s.screenshot(window, "body_countdown.png")
    chip_row = (left, chip_y - 15, left + 288, chip_y + 15)
    check(ImageChops.difference(before.crop(chip_row), counting.crop(chip_row)).getbbox() is not None,
          "the capture chip did not give way to the countdown")
    time.sleep(4)
    captured = s.screenshot(window, "body_captured.png")
    clear_chip = pixel(captured, left + 230, chip_y)
    check(not near(clear_chip, pixel(before, left + 230, chip_y), 3),
          f"no Clear chip beside Recapture after the countdown ({clear_chip})")
    s.click(window, left + 2 * (90.67 + 8) + 45, top + 44 + 30 + 34)  # tiles: none, astronaut, hoodie
    check("torso=hoodie" in s.settings(), "the hoodie tile did not pick the hoodie")
    # The torso's sheets load beside the engine loop: it shows once they are read and cut.
    deadline = time.time() + 10
    while True:
        shot = s.screenshot(window, "body_hoodie.png")
        share = teal_share(shot)
        if share > 0.02 or time.time() > deadline:
            break
        time.sleep(0.5)
    check(share > 0.02, f"the hoodie does not show in the preview ({share:.3f})")


# The Wear tab at 1200 x 740 DIPs on a replacement face (no "Bald" tile): tiles per slot, and where
# things sit below the content's first line, 16 DIPs under the slot chips' header line.
WEAR_TILES = (5, 9, 6, 6)
WEAR_CONTENT_TOP = 134 + 1 + 16
WEAR_TILE_WIDTH = (288 - 16) / 3


def wear_layout(worn, fit_slot):
    """Each section's top below the content's first line, and the content's height."""
    tops, y = [], 0
    for slot, tiles in enumerate(WEAR_TILES):
        tops.append(y)
        y += 34 + math.ceil(tiles / 3) * 82 + 2
        if worn[slot]:
            y += 4 * 60 if fit_slot == slot else 36
        if slot < 3:
            y += 19
    return tops, y + 8 + 32


def skin_box(shot):
    """The replacement face's box in the preview (5th to 95th percentile of its skin pixels)."""
    xs, ys = [], []
    for y in range(64, 540, 3):
        for x in range(16, 863, 3):
            r, g, b = shot.getpixel((x, y))
            if abs(r - 210) < 25 and abs(g - 180) < 25 and abs(b - 120) < 30 and g - b > 40 and r - g < 45:
                xs.append(x)
                ys.append(y)
    check(len(xs) > 200, "no replacement face in the preview")
    xs.sort()
    ys.sort()
    pick = lambda v, q: v[int(q * (len(v) - 1))]
    return pick(xs, 0.05), pick(ys, 0.05), pick(xs, 0.95), pick(ys, 0.95)


def colour_count(shot, zone, test):
    x0, y0, x1, y1 = (int(v) for v in zone)
    x0, y0, x1, y1 = max(x0, 16), max(y0, 64), min(x1, 863), min(y1, 540)
    return sum(test(*shot.getpixel((x, y))) for y in range(y0, y1, 2) for x in range(x0, x1, 2))


# One item per slot with a colour of its own, where it sits on the face box (x0, y0, x1, y1; w, h its
# size), and that colour.
WEAR_CHOICES = (
    ("hair", 2, "spiky", lambda x0, y0, x1, y1, w, h: (x0 - 0.2 * w, y0 - 0.7 * h, x1 + 0.2 * w, y0 + 0.15 * h),
     lambda r, g, b: r > 215 and 140 < g < 230 and b < 110 and g - b > 90),
    ("hat", 4, "cap", lambda x0, y0, x1, y1, w, h: (x0 - 0.2 * w, y0 - 0.9 * h, x1 + 0.2 * w, y0 + 0.25 * h),
     lambda r, g, b: b > 150 and b - r > 90 and g < 170),
    ("glasses", 4, "heart", lambda x0, y0, x1, y1, w, h: (x0 - 0.1 * w, y0, x1 + 0.1 * w, y0 + 0.7 * h),
     lambda r, g, b: r > 180 and g < 120 and b > 70 and r - b > 50),
    ("beard", 4, "santa", lambda x0, y0, x1, y1, w, h: (x0 - 0.1 * w, y0 + 0.5 * h, x1 + 0.1 * w, y1 + 0.6 * h),
     lambda r, g, b: min(r, g, b) > 222 and max(r, g, b) - min(r, g, b) < 20),
)


def scenario_wear_tab_on_sample(s):
    if not HAS_ENGINE or not os.path.exists(SAMPLE):
        raise Skip("needs the engine and data/sample.mp4")
    process = s.start(PROGRAM, "--file", SAMPLE, "--record", os.path.join(s.home, "session.mp4"))
    window = s.wait_window()
    wait_live(s, window, "wear_live.png")
    time.sleep(2)
    edge = 1200 - 321
    left = edge + 17
    s.click(window, edge + 15 + 59.6 + 26.8, 63)
    worn, fit_slot = [False] * 4, -1
    for slot, (key, tile, item, zone_of, colour) in enumerate(WEAR_CHOICES):
        # The slot's chip brings its section to the top, as far as the content allows.
        s.click(window, left + slot * 73.5 + 33.75, 110)
        tops, content = wear_layout(worn, fit_slot)
        scroll = min(tops[slot], max(0, content - (740 - 135)))
        tile_x = left + (tile % 3) * (WEAR_TILE_WIDTH + 8)
        tile_top = WEAR_CONTENT_TOP - scroll + tops[slot] + 34 + (tile // 3) * 82
        x, y, _, _ = s.geometry(window)
        s.xdotool("mousemove", "--sync", int(x + tile_x + 3), int(y + tile_top + 37))
        time.sleep(0.5)
        before = s.screenshot(window, f"wear_{key}_before.png")
        check(near(pixel(before, tile_x + 3, tile_top + 37), (55, 55, 55), 4),
              f"the hovered {item} tile is {pixel(before, tile_x + 3, tile_top + 37)}")
        s.click(window, tile_x + WEAR_TILE_WIDTH / 2, tile_top + 37)
        worn[slot], fit_slot = True, slot
        time.sleep(1)
        after = s.screenshot(window, f"wear_{key}_{item}.png")
        check(f"{key}={item}\n" in s.settings(), f"the settings file does not say {key}={item}")
        # The selection ring sits on the tile just chosen.
        check(near(pixel(after, tile_x + 1.5, tile_top + 37), (0xF0, 0xA8, 0x3B), 40),
              f"no selection ring on the {item} tile")
        x0, y0, x1, y1 = skin_box(before)
        zone = zone_of(x0, y0, x1, y1, x1 - x0, y1 - y0)
        was, now = colour_count(before, zone, colour), colour_count(after, zone, colour)
        area = (zone[2] - zone[0]) * (zone[3] - zone[1]) / 4
        check(now - was > 0.03 * area, f"the {item} does not show where it belongs ({was} -> {now} of {area:.0f})")
    settings = s.settings()
    for key, _, item, _, _ in WEAR_CHOICES:
        check(f"{key}={item}\n" in settings, f"the settings file lost {key}={item}")
    process.terminate()
    code = process.wait(20)
    check(code == 0, f"the program exits with {code} when closed")


def scenario_unreadable_video(s):
    if not HAS_ENGINE:
        raise Skip("needs the engine")
    broken = os.path.join(s.home, "broken.mp4")
    with open(broken, "wb") as file:
        file.write(b"\x00\x00\x00\x18ftypmp42" + os.urandom(4000))
    process = s.start(PROGRAM, "--no-camera", "--file", broken)
    window = s.wait_window()
    time.sleep(3)
    shot = s.screenshot(window, "unreadable_video.png")
    check(process.poll() is None, "the program ended on a broken video file")
    check(near(pixel(shot, 35, 30), (142, 142, 147)), "the status is live with a broken video file")
    middle = shot.crop((16 + 100, 64 + 200, 16 + 747, 64 + 276))
    check(ImageStat.Stat(middle).extrema[0][1] > 100, "the preview says nothing about the missing video")


def scenario_second_start(s):
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(1)
    s.xdotool("windowunmap", window)
    time.sleep(0.5)
    check(not s.xdotool("search", "--onlyvisible", "--name", "^Quillmere$"), "the window did not hide")
    second = s.start(PROGRAM, "--no-camera")
    code = second.wait(15)
    check(code == 0, f"the second start exits with {code}")
    back = s.wait_window(timeout=5)
    check(back == window, "another window appeared instead of the first")
    s.screenshot(window, "second_start_presented.png")


def scenario_scale_two(s):
    # The same still pictures at scale 1 and 2, the camera off and live (mirrored): the scale-2 window
    # halved must match.
    def capture(session, prefix):
        session.env["QM_FAKE_ENGINE_STILL"] = "1"
        with open(session.status_file, "w") as file:
            file.write("4")
        session.start(FAKE, "--no-camera")
        window = session.wait_window()
        time.sleep(1.5)
        off = session.screenshot(window, prefix + "_camera_off.png")
        os.remove(session.status_file)
        time.sleep(1.5)
        live = session.screenshot(window, prefix + "_live.png")
        return window, off, live

    _, one_off, one_live = capture(s, "scale1")
    s.close()
    s2 = Session(2560, 1600, scale=2)
    try:
        window, two_off, two_live = capture(s2, "scale2")
        _, _, w, h = s2.geometry(window)
        check((w, h) == (2400, 1480), f"at scale 2 the window is {w}x{h} pixels")
        for one, two, what in ((one_off, two_off, "camera off"), (one_live, two_live, "live")):
            halved = two.resize(one.size, Image.BILINEAR)
            difference = ImageStat.Stat(ImageChops.difference(one, halved)).mean
            check(max(difference) < 4, f"{what}: the scale-2 layout differs from scale 1 ({difference})")
    finally:
        s2.close()


def scenario_failure_dialog(s):
    process = s.start(FAKE, "--fail-camera")
    dialog = s.wait_window()
    time.sleep(0.8)
    s.screenshot(dialog, "camera_failure_dialog.png")
    check(process.poll() is None, "the program did not wait for the dialog")
    s.xdotool("windowfocus", "--sync", dialog)
    s.xdotool("key", "Escape")
    code = process.wait(10)
    check(code == 1, f"exit code {code} after the dialog, not 1")


def scenario_terminate_twice(s):
    # SIGTERM closes the window like the user would; a second one during the shutdown changes nothing.
    process = s.start(FAKE, "--no-camera")
    window = s.wait_window()
    time.sleep(1.5)
    s.click(window, 40, FILTERS_Y + 17)  # a change the shutdown must keep
    time.sleep(0.6)
    process.send_signal(signal.SIGTERM)
    time.sleep(0.05)
    process.send_signal(signal.SIGTERM)
    try:
        code = process.wait(15)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not end after SIGTERM")
    check(code == 0, f"the program ended with {code}, not 0")
    check("filters=0" in s.settings(), "the settings were not saved")
    log = open(os.path.join(BIN, "Quillmere.log"), errors="replace").read()
    check(log.rstrip().endswith("exiting, code 0"), "the log does not end with the orderly exit")


# The Scenes tab at 1200 x 740 DIPs with one or two scenes (one row of tiles): the name row, and the
# "Remove all filters" chip under the quick switches.
SCENES_TAB = (1200 - 321 + 15 + 4 * 59.6 + 26.8, 63)
SCENE_TILE_H = (288 - 10) / 2 * 9 / 16
SCENE_ROW_Y = 113 + 44 + SCENE_TILE_H + 34 + 2
REMOVE_ALL_Y = SCENE_ROW_Y + 38 + 19 + 30 + 3 * 32 + 4 + 17


def config_file(s, name):
    folder = os.path.join(s.env["XDG_CONFIG_HOME"], "Quillmere")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name)


def read_file(path):
    return open(path, errors="replace").read() if os.path.exists(path) else ""


def scene_sections(s):
    text = read_file(config_file(s, "scenes.ini"))
    return [line[1:-1] for line in text.splitlines() if line.startswith("[")]


def scenario_scenes_tab(s):
    """Save the orange face as a named scene, take the filters off, bring the scene back with one click,
    then rename and delete it through its menu."""
    with open(config_file(s, "settings.ini"), "w") as file:
        file.write("[quillmere]\nface=2\ntab=4\n")
    with open(config_file(s, "scenes.ini"), "w") as file:
        file.write("[s1]\nname=Plain\nface=0\n")
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    wait_live(s, window, "scenes_start.png")
    left = 1200 - 321 + 17
    s.click(window, left + 60, SCENE_ROW_Y + 15)  # the name field
    s.xdotool("type", "--delay", "20", "Orange look")
    time.sleep(0.3)
    s.screenshot(window, "scenes_typed.png")
    s.click(window, left + 288 - 20, SCENE_ROW_Y + 15)  # "Save scene"
    sections = scene_sections(s)
    check(len(sections) == 2, f"no new scene in scenes.ini ({sections})")
    new = sections[1]
    scenes = read_file(config_file(s, "scenes.ini"))
    check("name=Orange look\n" in scenes and "face=2\n" in scenes, "the new scene lacks its name or face")
    snapshot = config_file(s, os.path.join("scenes", new + ".bmp"))
    check(os.path.exists(snapshot) and os.path.getsize(snapshot) == 172854, "no snapshot of the preview")
    tile = (left + 139 + 10, 113 + 44)
    # The window repaints after the save: on a busy machine that may take a moment.
    deadline = time.time() + 5
    while True:
        saved = s.screenshot(window, "scenes_saved.png")
        outlined = near(pixel(saved, tile[0] + 1.5, tile[1] + 40), (0xF0, 0xA8, 0x3B), 40)
        if outlined or time.time() > deadline:
            break
        time.sleep(0.2)
    check(outlined, "the new scene is not outlined")
    check(near(pixel(saved, tile[0] + 70, tile[1] + 40), (250, 150, 40), 40),
          f"the snapshot does not show the filtered frame ({pixel(saved, tile[0] + 70, tile[1] + 40)})")

    s.click(window, left + 144, REMOVE_ALL_Y)  # "Remove all filters"
    check("face=0\n" in s.settings(), "Remove all filters left the face on")
    s.screenshot(window, "scenes_filters_removed.png")
    s.click(window, tile[0] + 70, tile[1] + 40)  # apply the scene
    check("face=2\n" in s.settings(), "applying the scene did not bring the orange face back")
    applied = s.screenshot(window, "scenes_applied.png")
    check(near(pixel(applied, tile[0] + 1.5, tile[1] + 40), (0xF0, 0xA8, 0x3B), 40), "the applied scene is not outlined")

    s.click(window, tile[0] + 70, tile[1] + 40, button=3)
    time.sleep(0.5)
    s.screenshot(window, "scenes_menu.png")
    s.xdotool("key", "Down", "Down", "Return")  # "Rename…"
    time.sleep(0.5)
    s.xdotool("type", "--delay", "20", "Renamed")
    time.sleep(0.3)
    s.screenshot(window, "scenes_renaming.png")
    s.click(window, left + 288 - 20, SCENE_ROW_Y + 15)  # "Rename"
    scenes = read_file(config_file(s, "scenes.ini"))
    check("name=Renamed\n" in scenes and "Orange look" not in scenes, "the scene was not renamed")
    check(len(scene_sections(s)) == 2, "renaming added a scene")
    s.screenshot(window, "scenes_renamed.png")

    s.click(window, tile[0] + 70, tile[1] + 40, button=3)
    time.sleep(0.5)
    s.xdotool("key", "Down", "Down", "Down", "Return")  # "Delete"
    time.sleep(0.6)
    check(scene_sections(s) == ["s1"], f"the scene was not deleted ({scene_sections(s)})")
    check(not os.path.exists(snapshot), "the deleted scene's snapshot stayed")
    s.screenshot(window, "scenes_deleted.png")


def menu_box(before, after):
    """The box of what changed below the camera chip between two screenshots (the open menu), in window
    coordinates."""
    top = int(FILTERS_Y + 34) + 1
    crop = (0, top, before.width, before.height)
    box = ImageChops.difference(before.crop(crop), after.crop(crop)).getbbox()
    check(box is not None, "no menu opened")
    return box[0], box[1] + top, box[2], box[3] + top


def scenario_camera_menu_and_reset(s):
    s.env["QM_FAKE_ENGINE_STILL"] = "1"
    with open(config_file(s, "settings.ini"), "w") as file:
        file.write("[quillmere]\nface=2\nmirror=1\n")
    s.start(FAKE, "--no-camera")
    window = s.wait_window()
    wait_live(s, window, "camera_menu_start.png")
    time.sleep(0.5)
    closed = s.screenshot(window, "camera_menu_closed.png")
    # Each click lands a little apart from the last: xdotool's synchronous move waits for a motion that a
    # pointer already in place never makes.
    chip = (175, FILTERS_Y + 17)
    s.click(window, *chip)
    time.sleep(0.4)
    full = menu_box(closed, s.screenshot(window, "camera_menu_open.png"))
    check(FILTERS_Y + 33 <= full[1] <= FILTERS_Y + 34 + 8 and full[0] < 175,
          f"the menu does not open just under the camera chip ({full})")
    s.xdotool("key", "Up", "Return")  # "Mirror preview", the last item
    time.sleep(0.6)
    check("mirror=0" in s.settings(), "Mirror preview did not switch the mirror off")
    closed = s.screenshot(window, "camera_menu_unmirrored.png")
    s.click(window, chip[0] + 8, chip[1])
    time.sleep(0.4)
    s.screenshot(window, "camera_menu_open_again.png")
    s.xdotool("key", "Down", "Down", "Return")  # no cameras here: "Play a video file…", "Turn off"
    time.sleep(0.8)
    s.screenshot(window, "camera_turned_off.png")
    closed = s.screenshot(window, "camera_menu_closed_after_off.png")
    s.click(window, chip[0] + 16, chip[1])
    time.sleep(0.4)
    shorter = menu_box(closed, s.screenshot(window, "camera_menu_without_turn_off.png"))
    check(shorter[3] - shorter[1] < full[3] - full[1] - 10,
          f"the menu still offers Turn off ({shorter} against {full})")
    s.xdotool("key", "Escape")
    time.sleep(0.5)

    reset = (1185 - 12, 22)
    s.click(window, *reset)
    dialog = s.wait_window("^Reset everything to default\\?$", timeout=5)
    s.screenshot(dialog, "reset_all_dialog.png")
    s.xdotool("windowfocus", "--sync", dialog)
    s.xdotool("key", "Return")  # the default answer is Cancel
    time.sleep(0.6)
    check("face=2\n" in s.settings(), "Reset all answered with Cancel changed the face")
    s.click(window, reset[0] - 6, reset[1])
    dialog = s.wait_window("^Reset everything to default\\?$", timeout=5)
    s.xdotool("windowfocus", "--sync", dialog)
    s.xdotool("key", "alt+o")
    time.sleep(0.8)
    check("face=0\n" in s.settings(), "Reset all answered with OK left the face on")
    check("mirror=0" in s.settings(), "Reset all touched the mirror")
    s.screenshot(window, "reset_all_done.png")


def ini_value(text, section, key):
    current = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            current = line[1:-1]
        elif current == section and line.startswith(key + "="):
            return line[len(key) + 1:]
    return None


def fur_share(shot):
    """The share of the preview in the cat visitor's ginger."""
    return preview_share(shot, lambda r, g, b: abs(r - 0xf0) < 30 and abs(g - 0xa0) < 30 and abs(b - 0x50) < 30, 3)


def scenario_background_tab(s):
    """On the sample: pick a library picture, then blur, then the cat, and press "Send now": the cat walks
    through the blurred room."""
    if not HAS_ENGINE or not os.path.exists(SAMPLE):
        raise Skip("needs the engine and data/sample.mp4")
    backgrounds = os.path.dirname(config_file(s, "backgrounds/x"))
    os.makedirs(backgrounds, exist_ok=True)
    Image.new("RGB", (320, 180), (40, 90, 200)).save(os.path.join(backgrounds, "sea.png"))
    s.start(PROGRAM, "--file", SAMPLE, "--no-camera", "--face", "none")
    window = s.wait_window()
    wait_live(s, window, "background_live.png")
    edge = 1200 - 321
    left = edge + 17
    s.click(window, edge + 15 + 3 * 59.6 + 26.8, 63)  # the Background tab
    top = 97 + 16
    tile_y = top + 30 + 34
    s.click(window, left + 2 * (90.67 + 8) + 45, tile_y)  # tiles: none, blur, sea
    check(ini_value(s.settings(), "background", "selected") == "sea.png", "the picture tile did not pick it")
    time.sleep(1.5)
    shot = s.screenshot(window, "background_picture.png")
    r, g, b = pixel(shot, 40, 100)
    check(b > r + 60, f"the preview's corner is not the sea picture ({r}, {g}, {b})")
    s.click(window, left + (90.67 + 8) + 45, tile_y)
    check(ini_value(s.settings(), "background", "selected") == "blur", "the blur tile did not pick blur")
    shot = s.screenshot(window, "background_blur.png")
    # The visitor rows: the first segmented row below the note.
    row_y = None
    for y in range(int(top + 150), 730):
        # A row's fill spans the content width in one colour, unlike the note's text.
        fill = pixel(shot, left + 3, y)
        if fill != pixel(shot, left - 6, y) and fill == pixel(shot, left + 285, y) == pixel(shot, left + 96, y):
            row_y = y
            break
    check(row_y is not None, "no visitor row in the tab")
    s.click(window, left + 2.5 * 96, row_y + 14)  # Nobody, Balloon, Cat
    check(ini_value(s.settings(), "visitor", "name") == "cat", "the Cat segment did not pick the cat")
    # The cat walks through once as soon as it is loaded (4 s); the next walk would be 15 s later.
    time.sleep(7)
    shot = s.screenshot(window, "background_cat_chosen.png")
    before = fur_share(shot)  # the suit has a little of the cat's ginger
    s.click(window, left + 30, row_y + 68 + 15)  # "Send now" under the two rows
    best = 0
    for k in range(4):
        time.sleep(0.3)
        shot = s.screenshot(window, f"background_cat_{k}.png")
        best = max(best, fur_share(shot))
    check(best > before + 0.002, f"Send now did not bring the cat back ({before:.4f} → {best:.4f})")


# The Faces tab at 1200 x 740 DIPs: tiles of (288 - 20) / 3 DIPs, rows 32 DIPs further apart, under the
# title below the content's first line.
FACE_TILE = (288 - 20) / 3
FACE_GRID_TOP = 97 + 16 + 44


def face_cell(cell):
    left = 1200 - 321 + 17
    return (left + (cell % 3) * (FACE_TILE + 10) + FACE_TILE / 2,
            FACE_GRID_TOP + (cell // 3) * (FACE_TILE + 32) + FACE_TILE / 2)


def separator_rows(shot, y0, y1):
    """Rows in the panel's content column drawn in the divider colour across its whole width."""
    left = 1200 - 321 + 17
    rows = []
    for y in range(int(y0), int(y1)):
        colour = pixel(shot, left + 2, y)
        if near(colour, (57, 57, 57), 3) and all(pixel(shot, left + dx, y) == colour for dx in (96, 200, 285)):
            rows.append(y)
    return rows


def green_share(shot):
    """The share of the preview in the green of the photo face below (skin with red and green swapped)."""
    return preview_share(shot, lambda r, g, b: g > r + 20 and g > b + 30)


def choose_file(s, title, path, shot):
    """Types a path into the open-file dialog of that title and opens it."""
    dialog = s.wait_window(f"^{title}$", timeout=10)
    time.sleep(0.8)
    s.screenshot(dialog, shot)
    s.xdotool("windowfocus", "--sync", dialog)
    s.xdotool("key", "ctrl+l")
    time.sleep(0.3)
    s.xdotool("type", "--delay", "10", path)
    time.sleep(0.3)
    s.xdotool("key", "Return")


def scenario_faces_tab(s):
    """On the sample: add a photo through the file dialog, wear it, turn its tilt, then remove it. The
    sample is the astronaut of data/astronaut.png, so the photo is her with a green skin (red and green
    swapped), to tell it from the video."""
    astronaut = os.path.join(os.path.dirname(SAMPLE), "astronaut.png")
    if not HAS_ENGINE or not os.path.exists(SAMPLE) or not os.path.exists(astronaut):
        raise Skip("needs the engine, data/sample.mp4 and data/astronaut.png")
    photo = os.path.join(s.home, "alien.png")
    with Image.open(astronaut) as image:
        r, g, b = image.convert("RGB").split()
        Image.merge("RGB", (g, r, b)).save(photo)
    s.start(PROGRAM, "--file", SAMPLE, "--no-camera", "--face", "none")
    window = s.wait_window()
    wait_live(s, window, "faces_live.png")
    left = 1200 - 321 + 17
    time.sleep(1)
    plain = green_share(s.screenshot(window, "faces_plain.png"))

    s.click(window, *face_cell(6))  # "Add yours", the first cell after the six built-in faces
    choose_file(s, "Add a face", photo, "faces_file_dialog.png")
    deadline = time.time() + 10
    while ini_value(s.settings(), "quillmere", "face_id") != "alien.png" and time.time() < deadline:
        time.sleep(0.3)
    settings = s.settings()
    check(ini_value(settings, "quillmere", "face_id") == "alien.png", "the added photo is not worn")
    check(ini_value(settings, "quillmere", "face") == "6", "the face is not the photo face")
    stored = config_file(s, os.path.join("faces", "alien.png"))
    check(os.path.exists(stored), "the photo was not copied into the faces folder")
    time.sleep(5)  # the photo is prepared a model run at a time, and its cut-out written
    worn = s.screenshot(window, "faces_photo_worn.png")
    green = green_share(worn)
    check(green > plain + 0.05, f"the preview does not show the photo face ({plain:.3f} -> {green:.3f})")
    check(near(pixel(worn, face_cell(6)[0], face_cell(6)[1] - FACE_TILE / 2 + 1.5), (0xF0, 0xA8, 0x3B), 40),
          "the new photo's tile is not selected")
    check(os.path.exists(stored + ".cut.png"), "no cut-out was made for the photo")

    # The Fit section: its separator under the note, then Size, Left / right and Up / down above Tilt.
    rows = separator_rows(worn, FACE_GRID_TOP + 3 * (FACE_TILE + 32), 740)
    check(rows, "no Fit section under the face grid")
    x, y, _, _ = s.geometry(window)
    s.xdotool("mousemove", "--sync", int(x + left + 144), int(y + 400))
    for _ in range(3):
        s.xdotool("click", 5)  # three wheel notches: 180 DIPs down
        time.sleep(0.2)
    time.sleep(0.4)
    tilt_y = rows[0] - 6 + 19 + 28 + 3 * 60 + 5 + 24 + 11 - 180
    s.screenshot(window, "faces_fit_section.png")
    s.xdotool("mousemove", "--sync", int(x + left + 144), int(y + tilt_y))
    s.xdotool("mousedown", 1)
    for step in range(1, 6):
        s.xdotool("mousemove", "--sync", int(x + left + 144 + 16 * step), int(y + tilt_y))
        time.sleep(0.05)
    s.xdotool("mouseup", 1)
    time.sleep(1.5)
    fit = ini_value(s.settings(), "face.alien.png", "fit")
    check(fit is not None and abs(float(fit.split()[2])) > 5, f"the Tilt slider did not turn the photo ({fit})")
    s.screenshot(window, "faces_tilted.png")

    # At the end of the content: the touch-up looks, 8 DIPs above the viewport's 16 DIP margin.
    for _ in range(12):
        s.xdotool("click", 5)
        time.sleep(0.1)
    time.sleep(0.6)
    s.screenshot(window, "faces_content_end.png")
    s.click(window, left + 288 * 1.5 / 4, 740 - 16 - 8 - 36 + 14)  # "Natural"
    check(ini_value(s.settings(), "look", "look") == "1", "the Natural segment did not pick the look")
    x, y, _, _ = s.geometry(window)
    s.xdotool("mousemove", "--sync", int(x + left + 140), int(y + 400))
    for _ in range(12):
        s.xdotool("click", 5)
        time.sleep(0.1)
    time.sleep(1.5)
    s.screenshot(window, "faces_touch_up.png")

    for _ in range(30):
        s.xdotool("click", 4)
        time.sleep(0.05)
    time.sleep(0.4)
    s.click(window, *face_cell(6), button=3)
    time.sleep(0.5)
    s.screenshot(window, "faces_remove_menu.png")
    s.xdotool("key", "Down", "Return")
    time.sleep(1)
    settings = s.settings()
    check(ini_value(settings, "quillmere", "face") == "0", "removing the worn photo did not fall back to My face")
    check(not os.path.exists(stored) and not os.path.exists(stored + ".cut.png"), "the photo or its cut-out stayed")
    check("[face.alien.png]" not in settings, "the removed photo's fit stayed in the settings")
    s.screenshot(window, "faces_removed.png")

    # A picture without a face is worn whole, and the line under the preview says why it looks so.
    s.click(window, *face_cell(6))
    choose_file(s, "Add a face", os.path.join(os.path.dirname(SAMPLE), "coffee.png"), "faces_file_dialog_2.png")
    time.sleep(6)
    shot = s.screenshot(window, "faces_no_face.png")
    check(ini_value(s.settings(), "quillmere", "face_id") == "coffee.png", "the picture without a face is not worn")
    message = shot.crop((16, int(FILTERS_Y + 42), 863, int(FILTERS_Y + 82)))
    check(ImageStat.Stat(message).extrema[0][1] > 100, "nothing says that the picture has no face")


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items() if name.startswith("scenario_")}


def main():
    os.makedirs(SHOTS, exist_ok=True)
    chosen = sys.argv[3:] or list(SCENARIOS)
    failures = 0
    for name in chosen:
        session = Session()
        try:
            SCENARIOS[name](session)
            print(f"PASS {name}")
        except Skip as skip:
            print(f"SKIP {name}: {skip}")
        except Failure as failure:
            failures += 1
            print(f"FAIL {name}: {failure}")
            for process in session.processes:
                if process.poll() is not None and process.stdout:
                    print(f"{process.args[0]} ended with {process.returncode}:")
                    print(process.stdout.read()[-2000:])
        finally:
            session.close()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
