#!/usr/bin/python3
"""Counts ruled tables in a PDF: groups of at least two horizontal and two vertical rules
that touch one another, read from the pages' drawing operators (qpdf uncompresses them)."""
import re, subprocess, sys, tempfile, os

NUM = r'-?\d*\.?\d+'
TOKEN = re.compile(r'(' + NUM + r')|([A-Za-z*\'"]+)|\[[^\]]*\]|\([^)]*\)|<[^>]*>|/\S+')

def mul(a, b):
    return [a[0]*b[0]+a[1]*b[2], a[0]*b[1]+a[1]*b[3], a[2]*b[0]+a[3]*b[2], a[2]*b[1]+a[3]*b[3],
            a[4]*b[0]+a[5]*b[2]+b[4], a[4]*b[1]+a[5]*b[3]+b[5]]

def apply(m, x, y):
    return (m[0]*x+m[2]*y+m[4], m[1]*x+m[3]*y+m[5])

def segments(stream):
    ctm = [1, 0, 0, 1, 0, 0]; stack = []; nums = []; path = []; cur = None; out = []
    for m in TOKEN.finditer(stream):
        if m.group(1) is not None:
            nums.append(float(m.group(1))); continue
        op = m.group(2)
        if op is None:
            nums = []; continue
        if op == 'q': stack.append(ctm[:])
        elif op == 'Q': ctm = stack.pop() if stack else [1, 0, 0, 1, 0, 0]
        elif op == 'cm' and len(nums) >= 6: ctm = mul(nums[-6:], ctm)
        elif op == 'm' and len(nums) >= 2: cur = apply(ctm, *nums[-2:])
        elif op == 'l' and len(nums) >= 2 and cur:
            p = apply(ctm, *nums[-2:]); path.append(('l', cur, p)); cur = p
        elif op == 're' and len(nums) >= 4:
            x, y, w, h = nums[-4:]
            a = apply(ctm, x, y); b = apply(ctm, x + w, y + h); path.append(('r', a, b))
        elif op in ('S', 's', 'f', 'F', 'f*', 'B', 'B*', 'b', 'b*'):
            for kind, a, b in path:
                if kind == 'l':
                    out.append((a, b))
                else:
                    (x0, y0), (x1, y1) = a, b
                    w, h = abs(x1 - x0), abs(y1 - y0)
                    if op in ('f', 'F', 'f*') and min(w, h) < 2.5 and max(w, h) > 4:
                        out.append(((x0, y0), (x1, y1)) if w > h else ((x0, y0), (x0, y1)) if False else ((x0, y0), (x1, y1)))
                    elif op in ('S', 's', 'B', 'b') and w > 4 and h > 4:
                        out += [((x0, y0), (x1, y0)), ((x0, y1), (x1, y1)), ((x0, y0), (x0, y1)), ((x1, y0), (x1, y1))]
            path = []
        elif op == 'n': path = []
        nums = []
    return out

def tables(segs):
    hs, vs = [], []
    for (x0, y0), (x1, y1) in segs:
        if abs(y1 - y0) < 2.5 and abs(x1 - x0) > 4: hs.append((min(x0, x1), max(x0, x1), (y0 + y1) / 2))
        elif abs(x1 - x0) < 2.5 and abs(y1 - y0) > 4: vs.append((min(y0, y1), max(y0, y1), (x0 + x1) / 2))
    items = [('h', s) for s in hs] + [('v', s) for s in vs]
    parent = list(range(len(items)))
    def find(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]; i = parent[i]
        return i
    tol = 3
    for i, (ki, a) in enumerate(items):
        for j in range(i + 1, len(items)):
            kj, b = items[j]
            if ki == kj: continue
            h, v = (a, b) if ki == 'h' else (b, a)
            if h[0] - tol <= v[2] <= h[1] + tol and v[0] - tol <= h[2] <= v[1] + tol:
                parent[find(i)] = find(j)
    groups = {}
    for i, (k, _) in enumerate(items):
        groups.setdefault(find(i), []).append(k)
    return sum(1 for g in groups.values() if g.count('h') >= 2 and g.count('v') >= 2)

def count(pdf):
    with tempfile.TemporaryDirectory() as tmp:
        plain = os.path.join(tmp, 'q.pdf')
        subprocess.run(['qpdf', '--qdf', '--object-streams=disable', pdf, plain], capture_output=True)
        data = open(plain, 'rb').read().decode('latin-1')
    total = 0
    # qdf marks each page's content stream.
    for page in re.split(r'%% Contents for page \d+', data)[1:]:
        body = page.split('stream', 1)[1].split('endstream', 1)[0] if 'stream' in page else ''
        total += tables(segments(body))
    return total

if __name__ == '__main__':
    print(count(sys.argv[1]))
