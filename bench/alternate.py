#!/usr/bin/env python3
"""Times commands as whole processes, in turn: one run of each per round, so that the machine's
drift reaches them all alike, and compares them round by round.

    bench/alternate.py --runs N --json OUT.json PLAN.json

PLAN.json holds {"commands": {NAME: {"argv": [...], "stdout": PATH or null, "remove": [PATHS]}},
"pairs": [[A, B], ...]}. Before each run the files in "remove" are deleted (outside the timing),
so that every command writes a new file. The timing covers creating the file named by
"stdout" (when given), starting the process and waiting for it. One round is run first and not
counted. For each pair the ratio A/B is taken within each round, and its median, minimum and
maximum are reported with each command's median wall time.
"""

import argparse
import json
import os
import statistics
import sys
import time


def run_once(command):
    for path in command.get("remove", []):
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
    start = time.perf_counter()
    stdout = None
    if command.get("stdout"):
        stdout = os.open(command["stdout"], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    file_actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0)]
    if stdout is not None:
        file_actions.append((os.POSIX_SPAWN_DUP2, stdout, 1))
    else:
        file_actions.append((os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0))
    pid = os.posix_spawnp(command["argv"][0], command["argv"], os.environ, file_actions=file_actions)
    _, status, _ = os.wait4(pid, 0)
    if stdout is not None:
        os.close(stdout)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{' '.join(command['argv'])} failed with status {status}")
    return elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--json", required=True)
    parser.add_argument("plan")
    args = parser.parse_args()
    with open(args.plan) as f:
        plan = json.load(f)
    commands = plan["commands"]
    times = {name: [] for name in commands}
    for round_ in range(args.runs + 1):
        for name, command in commands.items():
            elapsed = run_once(command)
            if round_ > 0:
                times[name].append(elapsed)
    result = {"runs": args.runs, "median": {}, "pairs": []}
    for name, values in times.items():
        result["median"][name] = statistics.median(values)
    for a, b in plan["pairs"]:
        ratios = [x / y for x, y in zip(times[a], times[b])]
        result["pairs"].append({"a": a, "b": b, "median": statistics.median(ratios),
                                "min": min(ratios), "max": max(ratios)})
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)


if __name__ == "__main__":
    main()
