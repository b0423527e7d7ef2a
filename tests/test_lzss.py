"""The constant-table decoder on hand-made blocks, and a table cut into its
constants, through the frame probe. The probe hands the decoder heap blocks of
exactly the compressed and the expanded size, so that the sanitizer run sees
any access outside them."""

import pytest

import kora_frame_probe


def block(*items):
    """Compressed data of literal runs (bytes) and back-references (tuples of
    their two or three bytes), a control byte before each group of eight items."""
    units = []
    for item in items:
        units += [(True, bytes([b])) for b in item] if isinstance(item, bytes) else [(False, bytes(item))]
    data = bytearray()
    for i, (literal, unit) in enumerate(units):
        if i % 8 == 0:
            control = len(data)
            data.append(0)
        if literal:
            data[control] |= 1 << i % 8
        data += unit
    return bytes(data)


def pattern(n):
    """n distinct-looking bytes."""
    return bytes((i * 7 + i // 251) % 251 for i in range(n))


def with_copy(out, dist, length):
    """out and what a back-reference appends: length bytes from dist + length before its end."""
    out = bytearray(out)
    for _ in range(length):
        out.append(out[-dist - length])
    return bytes(out)


P100, P400, P600, P700, P1200 = (pattern(n) for n in (100, 400, 600, 700, 1200))
# Three kinds of reference after 700 bytes: medium, long, short.
THREE, FULL = block(P700, (0x85, 0x24), (0x81, 0x82, 10), (5, 1)), 700 + 7 + 13 + 4
# compressed, expanded size, the expanded bytes (None: the decoder refuses the block); the probe
# expands each block as one bytes constant
BLOCKS = {
    "literals": (b"\xffkora_ray\x03li", 10, b"kora_rayli"),
    "empty": (b"", 0, b""),
    "unread control byte": (b"\x01", 0, None),
    # short form: the source immediately before the destination is distance 0
    "short, distance 0": (block(b"abc", (0, 0)), 6, b"abcabc"),
    "short, distance 1 length 5": (block(b"abcdef", (1, 2), b"!"), 12, b"abcdefabcde!"),
    "short, largest": (block(P400, (127, 255)), 658, with_copy(P400, 127, 258)),
    # medium form: distance 128 + 5 + (0x20 << 2) = 261, length 4 + 3 = 7
    "medium": (block(P600, (0x85, 0x24)), 607, with_copy(P600, 261, 7)),
    "medium, all bits set": (block(P700, (0xFF, 0x7F)), 734, with_copy(P700, 639, 34)),
    "medium, smallest": (block(P600, (0x80, 0x00)), 603, with_copy(P600, 128, 3)),
    # long form: distance 128 + 1 + (2 << 7) = 385, length 200 + 3
    "long": (block(P1200, (0x81, 0x82, 200), b"z"), 1200 + 203 + 1, with_copy(P1200, 385, 203) + b"z"),
    "long, distance 1024": (block(P1200, (0x80, 0x87, 0)), 1203, with_copy(P1200, 1024, 3)),
    # references reaching before the start
    "3 bytes needed, 2 written": (block(b"ab", (0, 0)), 5, None),
    "distance 1 + length 3 > 3": (block(b"abc", (1, 0)), 6, None),
    "from the very first byte": (block(b"abcd", (1, 0)), 7, b"abcdabc"),
    "reference first": (block((0, 0)), 3, None),
    "distance 128 after 100 bytes": (block(P100, (0x80, 0x00)), 103, None),
    # input left over or missing
    "three references": (THREE, FULL, with_copy(with_copy(with_copy(P700, 261, 7), 385, 13), 5, 4)),
    "a byte past the end": (THREE + b"\0", FULL, None),
    "less output asked for": (THREE, FULL - 5, None),
    "control byte with nothing after it": (block(b"abcdefgh") + b"\xff", 8, None),
    # the copy stops when the output is full; all input has been read
    "output full inside a reference": (block(b"abcdef", (0, 0)), 8, b"abcdefde"),
}


def expands_to(want, *args):
    """The probe's expand(*args) gives want, or with want None the table's error."""
    if want is None:
        with pytest.raises(RuntimeError, match="^LZSS string data decompression failed$"):
            kora_frame_probe.expand(*args)
    else:
        assert kora_frame_probe.expand(*args) == want


@pytest.mark.parametrize("case", BLOCKS)
def test_decoder(case):
    data, size, want = BLOCKS[case]
    expands_to(None if want is None else [want], data, size, (size,), 1)


def test_decoder_refuses_a_cut_block():
    """Each proper prefix lacks a control byte, a literal or a reference byte."""
    for n in range(len(THREE)):
        expands_to(None, THREE[:n], FULL, (FULL,), 1)


# compressed, expanded size, the constants' lengths, the str constants (None: the table's error)
CUTS = {
    "one str constant": (b"\x01A", 1, (1,), ["A"]),
    "a constant longer than the text": (b"", 0, (1,), None),
    "a constant one byte past the text": (b"\x01A", 1, (2,), None),
    "compressed data that ends early": (b"\x01", 1, (1,), None),
}


@pytest.mark.parametrize("case", CUTS)
def test_constant_table_cut(case):
    data, size, lengths, strings = CUTS[case]
    expands_to(strings, data, size, lengths)
