#!/usr/bin/env python3
"""The peer of bench_addresses: a list file read with read().splitlines(). Prints the best
processor time of a few runs in seconds, and the number of lines."""
import sys
import time


def main():
    path, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 3
    best = float('inf')
    count = 0
    for _ in range(runs):
        start = time.process_time()
        with open(path, encoding='utf-8', errors='replace', newline='') as f:
            lines = f.read().splitlines()
        best = min(best, time.process_time() - start)
        count = len(lines)
    print(f'{best:.6f} {count}')


main()
