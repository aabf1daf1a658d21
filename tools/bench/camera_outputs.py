#!/usr/bin/python3
"""The companion's processor time per frame for each PipeWire format, with one consumer reading for
--seconds, in a private session (the tests' own). Frames are fed through the section at 30 a second.

    tools/bench/camera_outputs.py [--bin build/bin] [--seconds 10]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "tests", "vcam"))
from camera_session import CameraSession  # noqa: E402
from pipewire_camera_test import SectionWriter  # noqa: E402


def measure(session, bin_dir, pixel_format, seconds):
    section = f"/quillmere-bench-{os.getpid()}-{pixel_format}"
    companion = subprocess.Popen([os.path.join(bin_dir, "quillmere-vcam"), "--section", section],
                                 env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    writer = SectionWriter(section)
    writer.start()
    session.wait_for_node("Quillmere")
    consumer = None
    if pixel_format != "nobody":
        consumer = subprocess.Popen(["gst-launch-1.0", "-q", "pipewiresrc", "!",
                                     f"video/x-raw,format={pixel_format}", "!", "fakesink"], env=session.env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    companion.send_signal(signal.SIGTERM)
    _, errors = companion.communicate(timeout=10)
    writer.stop.set()
    if consumer:
        consumer.send_signal(signal.SIGINT)
        try:
            consumer.wait(timeout=5)
        except subprocess.TimeoutExpired:
            consumer.kill()
    match = re.search(r"cpu ([0-9.]+) ms per tick", errors.decode(errors="replace"))
    return float(match.group(1)) if match else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"))
    parser.add_argument("--seconds", type=float, default=10)
    args = parser.parse_args()
    with CameraSession() as session:
        print("consumer   companion cpu per frame")
        for pixel_format in ("nobody", "NV12", "I420", "YUY2"):
            cost = measure(session, os.path.abspath(args.bin), pixel_format, args.seconds)
            print(f"{pixel_format:10} {cost:.2f} ms" if cost is not None else f"{pixel_format:10} ?")


if __name__ == "__main__":
    main()
