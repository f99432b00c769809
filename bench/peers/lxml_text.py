#!/usr/bin/env python3
"""The peer of bench_lookup's 8 MB pages: lxml parses the page bytes and renders the record
element with text_content(). Prints the best processor time of a few runs, in seconds."""
import sys
import time

import lxml.html


def main():
    path, kind, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with open(path, 'rb') as f:
        data = f.read()
    best = float('inf')
    length = 0
    for _ in range(runs):
        start = time.process_time()
        document = lxml.html.document_fromstring(data)
        if kind == 'pre':
            element = document.find('.//pre')
        else:
            element = document.get_element_by_id(kind)
        text = element.text_content()
        best = min(best, time.process_time() - start)
        length = len(text)
    print(f'{best:.6f} {length}')


main()
