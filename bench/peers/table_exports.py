#!/usr/bin/env python3
"""The peer of bench_exports: the text file (tab-separated, CR LF, UTF-8) and the clipboard
text (cells padded to their column's widest, trailing spaces stripped) of the same table of
32,767 rows by 50 columns, by the same algorithm. Prints the processor seconds of each."""
import os
import sys
import tempfile
import time

ROWS, COLUMNS = 32767, 50


def table():
    rows = []
    for r in range(1, ROWS + 1):
        row = [f'domain-{r}.example.com']
        for k in range(1, COLUMNS):
            row.append(f'value {k} of record {r * 7919 % 100003}')
        rows.append(row)
    return rows


def text_file(rows, path):
    with open(path, 'wb') as f:
        for row in rows:
            f.write(('\t'.join(row) + '\r\n').encode('utf-8'))


def clipboard(rows):
    widths = [0] * COLUMNS
    for row in rows:
        for k, cell in enumerate(row):
            if len(cell) > widths[k]:
                widths[k] = len(cell)
    lines = []
    for row in rows:
        line = '\t'.join(cell.ljust(widths[k]) for k, cell in enumerate(row))
        lines.append(line.rstrip(' ') + '\r\n')
    return ''.join(lines)


def main():
    rows = table()
    with tempfile.TemporaryDirectory() as folder:
        start = time.process_time()
        text_file(rows, os.path.join(folder, 'results.txt'))
        text_seconds = time.process_time() - start
    start = time.process_time()
    text = clipboard(rows)
    clip_seconds = time.process_time() - start
    print(f'{text_seconds:.6f} {clip_seconds:.6f} {len(text)}')


main()
