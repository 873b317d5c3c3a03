"""Pages of memory one idle tick of a console program touches, from a
valgrind lackey trace on stdin (see tick_pages.sh). A tick starts at each
execution of the marker instruction; the tick of fewest pages among the last
ones is shown (the others also did a periodic extra: a look at the store's
files, a minute's work), its pages grouped by mapping.

  python3 tick_pages.py MARKER_HEX MAPS_FILE < trace
"""
import collections
import sys


def main():
    marker = int(sys.argv[1], 16)
    ticks, current = [], None
    for line in sys.stdin:
        if len(line) < 4 or line[0] == '=':
            continue
        kind = line[:2].strip()
        try:
            address = int(line[3:].split(',')[0], 16)
        except ValueError:
            continue
        if kind == 'I' and address == marker:
            if current is not None:
                ticks.append(current)
                del ticks[:-12]
            current = (set(), set())
            continue
        if current is not None:
            current[0 if kind == 'I' else 1].add(address >> 12)
    if len(ticks) < 2:
        sys.exit('fewer than two whole ticks traced: run longer')
    ticks = ticks[1:]  # the first may still be settling
    maps = []
    for line in open(sys.argv[2]):
        fields = line.split()
        low, high = (int(x, 16) for x in fields[0].split('-'))
        name = fields[5].rsplit('/', 1)[-1] if len(fields) > 5 else '[anon]'
        maps.append((low, high, name + ' ' + fields[1]))

    def mapping(page):
        for low, high, name in maps:
            if low <= page << 12 < high:
                return name
        return '?'

    counts = sorted(len(c) + len(d) for c, d in ticks)
    code, data = min(ticks, key=lambda t: len(t[0]) + len(t[1]))
    print('ticks traced: %d; pages per tick: %s' % (len(ticks), ' '.join(map(str, counts))))
    print('fewest: %d pages, %d of code and %d of data' % (len(code) + len(data), len(code), len(data)))
    for title, pages in (('code', code), ('data', data)):
        for name, n in sorted(collections.Counter(mapping(p) for p in pages).items()):
            print('  %s %2d %s' % (title, n, name))


main()
