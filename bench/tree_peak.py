#!/usr/bin/env python3
"""Runs a command and prints "SECONDS PEAK_PSS_MB PEAK_RSS_MB": its wall time and the peak, over
samples every 20 ms, of the summed proportional and resident set sizes of the command and every
process below it (worker processes, children of xargs). PSS counts a shared library page once
over all processes that map it; RSS counts it in each. No cgroup is needed."""
import os, subprocess, sys, time

def children():
    kids = {}
    for name in os.listdir('/proc'):
        if not name.isdigit():
            continue
        try:
            with open(f'/proc/{name}/stat') as f:
                fields = f.read().rsplit(')', 1)[1].split()
            kids.setdefault(int(fields[1]), []).append(int(name))
        except OSError:
            pass
    return kids

def tree(root):
    kids, todo, seen = children(), [root], []
    while todo:
        pid = todo.pop()
        seen.append(pid)
        todo.extend(kids.get(pid, []))
    return seen

def sizes(pid):
    pss = rss = 0
    try:
        with open(f'/proc/{pid}/smaps_rollup') as f:
            for line in f:
                if line.startswith('Pss:'):
                    pss = int(line.split()[1])
                elif line.startswith('Rss:'):
                    rss = int(line.split()[1])
    except OSError:
        pass
    return pss, rss

start = time.monotonic()
proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
peak_pss = peak_rss = 0
while proc.poll() is None:
    total_pss = total_rss = 0
    for pid in tree(proc.pid):
        pss, rss = sizes(pid)
        total_pss += pss
        total_rss += rss
    peak_pss, peak_rss = max(peak_pss, total_pss), max(peak_rss, total_rss)
    time.sleep(0.02)
elapsed = time.monotonic() - start
print(f'{elapsed:.2f} {peak_pss // 1024} {peak_rss // 1024}')
sys.exit(proc.returncode)
