#!/usr/bin/env python3
"""Pairs what traymark.exe acquired with what it released, from a Wine relay trace.

Only calls made by traymark.exe's own code count: their return address lies
inside its image. Calls that system DLLs make on its behalf have other return
addresses, and other processes (the stand-in Corvex it starts inherits the
relay setting) have other process ids.

usage: balance_report.py TRACE --pid HEX --image traymark.exe --driven "cycles=100 menus=100 ..."
Exit 0 when every difference is the expected one, 1 when not, 2 when the trace
does not cover the rounds driven.
"""
import argparse
import re
import struct
import sys
from collections import Counter, defaultdict

CALL = re.compile(r'^([0-9a-f]+):[0-9a-f]+:Call [\w.]+\.(\w+)\((.*)\) ret=([0-9a-f]+)$')
RET = re.compile(r'^([0-9a-f]+):[0-9a-f]+:Ret  [\w.]+\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$')

# kind, acquiring calls, what a successful acquisition returns, releasing call,
# expected acquired - released, whether the handle value pairs them
KINDS = [
    ('registry key', ('RegOpenKeyExA', 'RegOpenKeyA', 'RegCreateKeyExA'), lambda v: v == 0,
     'RegCloseKey', 0, False),
    ('directory search', ('FindFirstFileA',), lambda v: v != 0xffffffff, 'FindClose', 0, True),
    ('icon', ('LoadImageA',), lambda v: v != 0, 'DestroyIcon', 2, True),
    ('menu', ('CreatePopupMenu',), lambda v: v != 0, 'DestroyMenu', 0, True),
    ('shell item list', ('SHGetSpecialFolderLocation',), lambda v: v == 0, 'SHGetMalloc', 0, False),
    ('agent window', ('CreateDialogParamA',), lambda v: v != 0, 'DestroyWindow', 0, True),
]


def image_range(path):
    """ImageBase and SizeOfImage from the PE optional header (as objdump -p shows them)."""
    with open(path, 'rb') as f:
        data = f.read(4096)
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    base, = struct.unpack_from('<I', data, pe + 24 + 28)
    size, = struct.unpack_from('<I', data, pe + 24 + 56)
    return base, base + size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('trace')
    parser.add_argument('--pid', required=True, help='process id of the agent, hex as in the trace')
    parser.add_argument('--image', required=True)
    parser.add_argument('--driven', required=True, help='the driver\'s "driven:" line')
    args = parser.parse_args()

    low, high = image_range(args.image)
    pid = int(args.pid, 16)
    driven = {k: int(v) for k, v in re.findall(r'(\w+)=(\d+)', args.driven)}

    ours = lambda p, ret: int(p, 16) == pid and low <= int(ret, 16) < high
    returned = defaultdict(list)        # name -> [(retval, call site)]
    released = defaultdict(list)        # name -> [(first argument, call site)]
    calls = Counter()
    elsewhere = Counter()
    with open(args.trace, errors='replace') as f:
        for line in f:
            line = line.rstrip('\n')
            m = CALL.match(line)
            if m:
                p, name, arguments, ret = m.groups()
                if ours(p, ret):
                    calls[name] += 1
                    released[name].append((int(re.match(r'[0-9a-f]*', arguments).group() or '0', 16), ret))
                elif int(p, 16) == pid:
                    elsewhere[name] += 1
                continue
            m = RET.match(line)
            if m and ours(m.group(1), m.group(4)):
                returned[m.group(2)].append((int(m.group(3), 16), m.group(4)))

    print(f'traymark.exe image {low:08x}-{high:08x}, process {pid:04x}; '
          f'cycles driven: {driven.get("cycles", 0)}')
    print(f'{"kind":<17} {"acquired":>8} {"released":>8} {"difference":>10} {"expected":>8}  acquired by / released by')
    ok = True
    details = []
    for kind, acquirers, success, releaser, expected, by_value in KINDS:
        got = [(v, site) for a in acquirers for v, site in returned[a] if success(v)]
        freed = released[releaser]
        difference = len(got) - len(freed)
        mark = '' if difference == expected else '   <-- NOT AS EXPECTED'
        ok &= difference == expected
        print(f'{kind:<17} {len(got):>8} {len(freed):>8} {difference:>10} {expected:>8}  '
              f'{"/".join(acquirers)} / {releaser}{mark}')
        if by_value:
            # Handle values are reused once released, so pair them in call order.
            open_handles = Counter(v for v, _ in got)
            open_handles.subtract(v for v, _ in freed)
            left = {v: n for v, n in open_handles.items() if n > 0}
            unknown = {v: -n for v, n in open_handles.items() if n < 0}
            sites = {v: site for v, site in got}
            if left:
                details.append(f'  {kind}: never released: ' + ', '.join(
                    f'{v:08x} (acquired at {sites[v]})' for v in sorted(left)))
            if unknown:
                details.append(f'  {kind}: released without an acquisition seen: ' +
                               ', '.join(f'{v:08x}' for v in sorted(unknown)))
    failed_opens = sum(1 for a in KINDS[0][1] for v, _ in returned[a] if v != 0)
    failed_searches = sum(1 for v, _ in returned['FindFirstFileA'] if v == 0xffffffff)
    print('\n'.join(details))
    print(f'  registry keys are paired by count: the HKEY goes to an out pointer the trace does not show; '
          f'failed opens (nothing to close): {failed_opens}, failed searches: {failed_searches}')
    print('  shell item lists: the free and release go through the IMalloc interface (COM calls, '
          'not relayed), so SHGetMalloc calls stand for them')
    print(f'  RegQueryValueA calls: {calls["RegQueryValueA"]} (the key it opens is closed inside advapi32)')
    print(f'  DialogBoxParamA calls: {calls["DialogBoxParamA"]} (the dialog manager destroys the dialog at EndDialog)')
    print(f'  calls of these functions from elsewhere in the process (system DLLs), ignored: '
          f'{sum(elsewhere.values())} ' + ' '.join(f'{n}={c}' for n, c in sorted(elsewhere.items())))

    # The counts mean something only if the trace saw every round.
    coverage = [('CreatePopupMenu', 'menus'), ('DialogBoxParamA', 'close'),
                ('SHGetSpecialFolderLocation', 'help_missing')]
    covered = True
    for name, key in coverage:
        if calls[name] != driven.get(key, -1):
            print(f'trace does not cover the run: {calls[name]} {name} calls for {driven.get(key)} {key} rounds')
            covered = False
    if not covered:
        return 2
    print('balance: every difference as expected' if ok else 'balance: UNEXPECTED DIFFERENCES')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
