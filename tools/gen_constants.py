#!/usr/bin/env python3
"""Compress a module's constant declarations into a C++ header.

Input lines (blank lines and lines starting with '#' are skipped):
    str   NAME            an identifier; its text is NAME
    str   NAME "text"     a text constant
    bytes NAME "text"
Output: an enum of constant indices and the LZSS-compressed text block with
its table of lengths, expanded by the module at load.
"""
import re
import sys

LINE = re.compile(r'^(str|bytes)\s+([A-Za-z_][A-Za-z0-9_]*)(?:\s+"((?:[^"\\]|\\.)*)")?\s*$')


def parse(path):
    texts, idents, blobs = [], [], []
    seen = set()
    with open(path, encoding="utf-8") as f:
        for n, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            m = LINE.match(line)
            if not m:
                sys.exit(f"{path}:{n}: cannot parse {line!r}")
            kind, name, text = m.groups()
            if name in seen:
                sys.exit(f"{path}:{n}: duplicate constant {name}")
            seen.add(name)
            if text is not None:
                text = bytes(text, "utf-8").decode("unicode_escape").encode("latin-1").decode("utf-8")
            if kind == "bytes":
                blobs.append((name, text if text is not None else name))
            elif text is None:
                idents.append((name, name))
            else:
                texts.append((name, text))
    return texts, idents, blobs


def compress(data):
    """Greedy LZSS in the decoder's format; back-references never overlap."""
    out = bytearray()
    items = []
    index = {}
    pos = 0
    n = len(data)
    while pos < n:
        best_len, best_dist = 0, 0
        key = bytes(data[pos:pos + 3])
        if len(key) == 3:
            for start in reversed(index.get(key, [])[-256:]):
                max_len = min(258, pos - start, n - pos)
                length = 0
                while length < max_len and data[start + length] == data[pos + length]:
                    length += 1
                if length < 3:
                    continue
                dist = pos - (start + length)
                if dist > 16510:
                    continue
                if dist >= 128 and dist < 640 and length > 34 and dist + length > 16510:
                    continue
                if length > best_len:
                    best_len, best_dist = length, dist
        if best_len >= 3:
            d, ln = best_dist, best_len
            if d < 128:
                items.append(bytes([d, ln - 3]))
            elif d < 640 and ln <= 34:
                e = d - 128
                items.append(bytes([0x80 | (e & 0x7F), ((e >> 7) << 5) | (ln - 3)]))
            else:
                e = d - 128
                items.append(bytes([0x80 | (e & 0x7F), 0x80 | (e >> 7), ln - 3]))
            step = ln
        else:
            items.append(data[pos:pos + 1])
            step = 1
        for p in range(pos, pos + step):
            k = bytes(data[p:p + 3])
            if len(k) == 3:
                index.setdefault(k, []).append(p)
        pos += step
    for g in range(0, len(items), 8):
        group = items[g:g + 8]
        control = 0
        for i, item in enumerate(group):
            if len(item) == 1:
                control |= 1 << i
        out.append(control)
        for item in group:
            out += item
    return bytes(out)


def expand(comp, size):
    out = bytearray()
    ip = 0
    while len(out) < size:
        control = comp[ip]
        ip += 1
        for bit in range(8):
            if len(out) >= size:
                break
            if control >> bit & 1:
                out.append(comp[ip])
                ip += 1
                continue
            b1, b2 = comp[ip], comp[ip + 1]
            ip += 2
            if b1 < 128:
                d, ln = b1, b2 + 3
            elif b2 < 128:
                d, ln = 128 + (b1 & 0x7F) + ((b2 & 0x60) << 2), (b2 & 0x1F) + 3
            else:
                d, ln = 128 + (b1 & 0x7F) + ((b2 & 0x7F) << 7), comp[ip] + 3
                ip += 1
            src = len(out) - d - ln
            for i in range(ln):
                if len(out) >= size:
                    break
                out.append(out[src + i])
    assert ip == len(comp)
    return bytes(out)


def main():
    src, dst = sys.argv[1], sys.argv[2]
    texts, idents, blobs = parse(src)
    strs = texts + idents
    encoded = [t.encode("utf-8") for _, t in strs] + [b.encode("utf-8") for _, b in blobs]
    for (name, _), e in zip(blobs, encoded[len(strs):]):
        if len(e) >= 4096:
            sys.exit(f"bytes constant {name} longer than 4095 bytes")
    block = b"".join(encoded)
    comp = compress(block)
    if expand(comp, len(block)) != block:
        sys.exit("compressor self-check failed")
    names = [n for n, _ in strs] + [n for n, _ in blobs]
    w = []
    w.append(f"// Generated from {src.split('/')[-1]} by gen_constants.py; do not edit.")
    w.append("#pragma once")
    w.append('#include "kora_ui/fast/common/constants.h"')
    w.append("namespace kora::generated {")
    w.append("enum ConstId : int {")
    for i, n in enumerate(names):
        w.append(f"    K_{n} = {i},")
    w.append(f"    K_COUNT = {len(names)}")
    w.append("};")
    w.append(f"inline constexpr int kStrCount = {len(strs)};")
    w.append(f"inline constexpr int kUninternedCount = {len(texts)};")
    w.append(f"inline constexpr int kBytesCount = {len(blobs)};")
    w.append(f"inline constexpr std::size_t kExpandedLen = {len(block)};")
    w.append(f"inline constexpr std::size_t kCompressedLen = {len(comp)};")
    w.append("inline constexpr std::uint16_t kLengths[] = {")
    w.append("    " + ", ".join(str(len(e)) for e in encoded))
    w.append("};")
    w.append("inline constexpr std::uint8_t kCompressed[] = {")
    for i in range(0, len(comp), 16):
        w.append("    " + ", ".join(str(b) for b in comp[i:i + 16]) + ",")
    w.append("};")
    w.append("inline constexpr ConstTableDesc kConstTable = {")
    w.append("    kCompressed, kCompressedLen, kExpandedLen, kLengths, kStrCount, kUninternedCount, kBytesCount,")
    w.append("};")
    w.append("}  // namespace kora::generated")
    with open(dst, "w", encoding="utf-8") as f:
        f.write("\n".join(w) + "\n")


if __name__ == "__main__":
    main()
