#!/usr/bin/env python3
"""Times `qel-screen screen --format jsonl` on one thread and on two, in turns.

    turns.py SCREEN CONFIG CAPTURE RUNS OUT.json

Runs 1 thread, 2 threads, and two 1-thread runs side by side, in turns, RUNS
times each after one warm-up of each: on a shared machine the speed drifts
over seconds, and a block of runs of one followed by a block of the other
would measure the drift as much as the pipeline. The runs side by side are the
machine's own ceiling for this work on two cores: with no pipeline at all,
twice the work in the time they take. (On a virtual machine whose two vCPUs
may land on one physical core, that ceiling moves from minute to minute.)
Writes the median wall and CPU (user + system) seconds of each, the fastest
run of each, and the medians of the ratios within a turn, as JSON.
"""
import json
import os
import statistics
import sys
import time


def start(screen, config, capture, threads):
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.dup2(null, 2)
        os.execv(screen, [screen, "screen", "--threads", threads, "--format", "jsonl",
                          "--config", config, capture])
    return pid


def run(screen, config, capture, threads):
    """Wall and CPU seconds of `threads` ("1", "2", or "1+1": two side by side)."""
    began = time.perf_counter()
    pids = [start(screen, config, capture, t) for t in threads.split("+")]
    cpu = 0.0
    for pid in pids:
        _, status, usage = os.wait4(pid, 0)
        if status != 0:
            sys.exit(f"turns.py: qel-screen --threads {threads} failed (wait status {status})")
        cpu += usage.ru_utime + usage.ru_stime
    return time.perf_counter() - began, cpu


def main():
    screen, config, capture, runs, out = sys.argv[1:6]
    timings = {"1": [], "2": [], "1+1": []}
    for threads in timings:
        run(screen, config, capture, threads)
    for _ in range(int(runs)):
        for threads in timings:
            timings[threads].append(run(screen, config, capture, threads))
    result = {
        threads: {
            "wall": statistics.median(w for w, _ in t),
            "cpu": statistics.median(c for _, c in t),
            "fastest": min(w for w, _ in t),
        }
        for threads, t in timings.items()
    }
    one, two, side = timings["1"], timings["2"], timings["1+1"]
    result["pairs"] = statistics.median(a[0] / b[0] for a, b in zip(one, two))
    # What two cores gave two independent runs, in the same turn.
    result["ceiling"] = statistics.median(2 * a[0] / c[0] for a, c in zip(one, side))
    result["runs"] = int(runs)
    with open(out, "w") as f:
        json.dump(result, f)


if __name__ == "__main__":
    main()
