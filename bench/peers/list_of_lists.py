#!/usr/bin/env python3
"""The peer of bench_pivot: the same cell texts held as a Python list of lists of str.
Prints the seconds to build it and the resident memory it added, in MiB."""
import sys
import time


def resident_mib():
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith('VmRSS:'):
                return int(line.split()[1]) / 1024
    return 0.0


def main():
    rows, fields = int(sys.argv[1]), int(sys.argv[2])
    before = resident_mib()
    start = time.process_time()
    table = []
    for r in range(rows):
        row = [f'host{r}.example']
        for f in range(fields):
            row.append(f'ns{f}.registrar-example-{r}.net')
        table.append(row)
    seconds = time.process_time() - start
    print(f'{seconds:.6f} {resident_mib() - before:.1f}')


main()
