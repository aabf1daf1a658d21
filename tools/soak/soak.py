#!/usr/bin/python3
"""Soak run: the program headless with everything on, on the looping sample, for a given time.

Every --every seconds it samples the program's and the companion's resident memory and CPU and the engine's
frame rate (its statistics line); beside it, quillmere-section-watch reads the frame section the way the
companion does and counts torn, repeated and missed frames. The companion is killed twice (at one and two
thirds of the run); the program must start a new one and the engine must link to it again. At the end the
program is stopped with SIGTERM and must exit 0, with every recording playable.

    tools/soak/soak.py [--bin build/bin] [--minutes 30] [--every 30] [--max-rss-growth-mb 5]

Prints a table of the samples and a JSON summary; exits non-zero when a check fails.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime
    except (OSError, IndexError, ValueError):
        return None


def rss_mb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return None


def children(pid):
    found = []
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                found += [int(c) for c in f.read().split()]
    except OSError:
        pass
    return found


def companion_of(pid):
    for child in children(pid):
        try:
            with open(f"/proc/{child}/comm") as f:
                if f.read().strip().startswith("quillmere-vcam"):
                    return child
        except OSError:
            pass
    return None


def read_from(path, offset):
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def last_fps(log):
    for line in reversed(log.splitlines()):
        if "stats:" in line and " fps" in line:
            words = line.split()
            for i, word in enumerate(words):
                if word == "fps" or word.startswith("fps"):
                    try:
                        return float(words[i - 1])
                    except (ValueError, IndexError):
                        return None
    return None


def playable_frames(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_read_frames", "-of", "csv=p=0", path], capture_output=True, text=True)
    try:
        return int(out.stdout.strip().splitlines()[0])
    except (ValueError, IndexError):
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default=os.path.join(REPO, "build", "bin"))
    parser.add_argument("--sample", default=os.path.join(REPO, "data", "sample.mp4"))
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--every", type=float, default=30)
    parser.add_argument("--max-rss-growth-mb", type=float, default=5)
    args = parser.parse_args()

    program = os.path.join(args.bin, "quillmere")
    seconds = args.minutes * 60
    work = tempfile.mkdtemp(prefix="quillmere-soak-")
    env = dict(os.environ)
    for key in ("XDG_CONFIG_HOME", "XDG_STATE_HOME"):
        env[key] = os.path.join(work, key.lower())
    log_path = os.path.join(args.bin, "Quillmere.log")
    log_start = os.path.getsize(log_path) if os.path.exists(log_path) else 0
    record = os.path.join(work, "soak.mp4")
    command = [program, "--headless", "--file", args.sample, "--face", "morvel", "--hat", "cowboy", "--glasses",
               "aviator", "--beard", "full", "--look", "bold", "--bodyless", "--torso", "suit", "--visitor", "cat",
               "--background", os.path.join(args.bin, "astronaut.png") if os.path.exists(
                   os.path.join(args.bin, "astronaut.png")) else os.path.join(REPO, "data", "astronaut.png"),
               "--record", record]
    print("soak:", " ".join(command), flush=True)
    started = time.monotonic()
    run = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    watch = subprocess.Popen([os.path.join(args.bin, "quillmere-section-watch"), str(run.pid), str(seconds + 5)],
                             stdout=subprocess.PIPE, text=True)

    kills = [seconds / 3, 2 * seconds / 3]
    killed = []
    samples = []
    last_cpu = {}
    next_sample = args.every
    print(f"{'t s':>7} {'rss MB':>8} {'cpu %':>6} {'vcam rss':>9} {'vcam cpu %':>10} {'fps':>5}", flush=True)
    while run.poll() is None:
        now = time.monotonic() - started
        if now >= seconds:
            break
        if kills and now >= kills[0]:
            companion = companion_of(run.pid)
            if companion:
                os.kill(companion, signal.SIGKILL)
                killed.append(round(now, 1))
                print(f"soak: companion {companion} killed at {now:.1f} s", flush=True)
                kills.pop(0)
        if now >= next_sample:
            next_sample += args.every
            row = {"t": round(now, 1), "rss": rss_mb(run.pid), "fps": last_fps(read_from(log_path, log_start))}
            for who, pid in (("engine", run.pid), ("vcam", companion_of(run.pid))):
                cpu = cpu_seconds(pid) if pid else None
                before = last_cpu.get(who)
                row[who + "_cpu"] = (None if cpu is None or before is None or before[0] != pid else
                                     round(100 * (cpu - before[1]) / args.every, 1))
                if cpu is not None:
                    last_cpu[who] = (pid, cpu)
            row["vcam_rss"] = rss_mb(companion_of(run.pid) or -1)
            samples.append(row)
            fmt = lambda v, f: format(v, f) if v is not None else "-"
            print(f"{row['t']:>7} {fmt(row['rss'], '8.1f')} {fmt(row['engine_cpu'], '6.1f')} "
                  f"{fmt(row['vcam_rss'], '9.1f')} {fmt(row['vcam_cpu'], '10.1f')} {fmt(row['fps'], '5.1f')}",
                  flush=True)
        time.sleep(0.2)

    alive = run.poll() is None
    if alive:
        run.send_signal(signal.SIGTERM)
    try:
        code = run.wait(timeout=60)
    except subprocess.TimeoutExpired:
        run.kill()
        code = "hung"
    watch_out, _ = watch.communicate(timeout=30)
    counts = json.loads(watch_out.strip().splitlines()[-1]) if watch_out.strip() else {}
    log = read_from(log_path, log_start)
    recordings = [p for p in (record, record[:-4] + "-2.mp4", record[:-4] + "-3.mp4") if os.path.exists(p)]
    frames_recorded = [playable_frames(p) for p in recordings]
    rss = [s["rss"] for s in samples if s["rss"] is not None]
    # Growth from the first sample after warm-up (the first minute, or the first sample of a short run).
    settled = [s["rss"] for s in samples if s["rss"] is not None and s["t"] >= min(60, seconds / 4)]
    growth = (settled[-1] - settled[0]) if len(settled) >= 2 else 0.0
    summary = {
        "seconds": round(time.monotonic() - started, 1), "exit": code, "ran_to_the_end": alive,
        "companion_killed_at": killed, "engine_relinks": log.count("engine: camera link up again"),
        "reader": counts, "recordings": frames_recorded, "rss_mb_first_last": [rss[0], rss[-1]] if rss else [],
        "rss_growth_mb": round(growth, 1),
        "engine_cpu_pct_median": median([s["engine_cpu"] for s in samples if s["engine_cpu"] is not None]),
        "vcam_cpu_pct_median": median([s["vcam_cpu"] for s in samples if s["vcam_cpu"] is not None]),
        "fps_median": median([s["fps"] for s in samples if s["fps"] is not None]),
    }
    print("soak:", json.dumps(summary), flush=True)
    problems = []
    if not alive:
        problems.append("the program ended before the soak did")
    if code != 0:
        problems.append(f"exit code {code}")
    if counts.get("torn", 1) != 0:
        problems.append("torn frames (or no reader figures)")
    if counts.get("frames", 0) == 0:
        problems.append("the reader saw no frames")
    if len(killed) < 2 or summary["engine_relinks"] < 2 or counts.get("relinks", 0) < 2:
        problems.append("the companion was not replaced and relinked twice")
    if len(recordings) < 3 or min(frames_recorded or [0]) == 0:
        problems.append("a recording is missing or not playable")
    if growth > args.max_rss_growth_mb:
        problems.append(f"resident memory grew by {growth:.1f} MB")
    for problem in problems:
        print("soak: FAILED:", problem, flush=True)
    if not problems:
        subprocess.run(["rm", "-rf", work])
    return 1 if problems else 0


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if values else None


if __name__ == "__main__":
    sys.exit(main())
