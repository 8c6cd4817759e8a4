#!/usr/bin/env python3
"""A second, separate PMTiles v3 writer and checker for the tests, written from the format's
description alone (no code shared with the program): it writes a known tile set in any
compression, with or without leaf directories, clustered or not, and checks an archive's header,
directories and every tile of that set.

  pmtiles_peer.py write OUT COMPRESSION LEAF_ENTRIES CLUSTERED   (LEAF_ENTRIES 0: root only)
  pmtiles_peer.py check FILE

The tile set: every tile of zooms 0-5; tile z/x/y holds "tile z/x/y" repeated (x % 5 + 1) times,
except that tiles with (x + y) % 7 == 0 all hold "sea" (shared content and runs). Tile bytes are
compressed with the archive's tile compression, directories and metadata with its internal one.
brotli and zstd come from the system's libbrotlienc/libbrotlidec/libzstd through ctypes.
"""
import ctypes
import functools
import gzip
import struct
import sys

COMPRESSIONS = {"none": 1, "gzip": 2, "brotli": 3, "zstd": 4}
MAX_ZOOM = 5


@functools.lru_cache(maxsize=None)
def lib(name):
    return ctypes.CDLL(name)


def compress(kind, data):
    if kind == 1:
        return data
    if kind == 2:
        return gzip.compress(data, mtime=0)
    if kind == 3:
        enc = lib("libbrotlienc.so.1")
        size = ctypes.c_size_t(len(data) * 2 + 1024)
        out = ctypes.create_string_buffer(size.value)
        ok = enc.BrotliEncoderCompress(5, 22, 0, ctypes.c_size_t(len(data)), data, ctypes.byref(size), out)
        assert ok == 1
        return out.raw[: size.value]
    if kind == 4:
        z = lib("libzstd.so.1")
        z.ZSTD_compressBound.restype = ctypes.c_size_t
        z.ZSTD_compress.restype = ctypes.c_size_t
        bound = z.ZSTD_compressBound(ctypes.c_size_t(len(data)))
        out = ctypes.create_string_buffer(bound)
        n = z.ZSTD_compress(out, ctypes.c_size_t(bound), data, ctypes.c_size_t(len(data)), 3)
        return out.raw[:n]
    raise ValueError(kind)


def decompress(kind, data):
    if kind == 1:
        return data
    if kind == 2:
        return gzip.decompress(data)
    if kind == 3:
        dec = lib("libbrotlidec.so.1")
        cap = 1 << 16  # the test set's directories and tiles are far smaller
        size = ctypes.c_size_t(cap)
        out = ctypes.create_string_buffer(cap)
        ok = dec.BrotliDecoderDecompress(ctypes.c_size_t(len(data)), data, ctypes.byref(size), out)
        assert ok == 1, "brotli"
        return out.raw[: size.value]
    if kind == 4:
        z = lib("libzstd.so.1")
        z.ZSTD_decompress.restype = ctypes.c_size_t
        cap = 1 << 16  # the test set's directories and tiles are far smaller
        out = ctypes.create_string_buffer(cap)
        n = z.ZSTD_decompress(out, ctypes.c_size_t(cap), data, ctypes.c_size_t(len(data)))
        assert n < cap, "zstd"
        return out.raw[:n]
    raise ValueError(kind)


def hilbert_id(z, x, y):
    base = sum(4**i for i in range(z))
    n = 1 << z
    d = 0
    s = n >> 1
    while s > 0:
        rx = 1 if x & s else 0
        ry = 1 if y & s else 0
        d += s * s * ((3 * rx) ^ ry)
        if ry == 0:  # turn the quadrant
            if rx == 1:
                x, y = n - 1 - x, n - 1 - y
            x, y = y, x
        s >>= 1
    return base + d


def tile_set():
    tiles = {}
    for z in range(MAX_ZOOM + 1):
        for x in range(1 << z):
            for y in range(1 << z):
                body = b"sea" if (x + y) % 7 == 0 else (b"tile %d/%d/%d" % (z, x, y)) * (x % 5 + 1)
                tiles[hilbert_id(z, x, y)] = body
    return tiles


def varint(v):
    out = bytearray()
    while v >= 0x80:
        out.append((v & 0x7F) | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


def encode_dir(entries):
    out = bytearray(varint(len(entries)))
    last = 0
    for e in entries:
        out += varint(e[0] - last)
        last = e[0]
    for e in entries:
        out += varint(e[3])
    for e in entries:
        out += varint(e[2])
    for i, e in enumerate(entries):
        if i > 0 and e[1] == entries[i - 1][1] + entries[i - 1][2]:
            out += varint(0)
        else:
            out += varint(e[1] + 1)
    return bytes(out)


def write(path, kind, leaf_entries, clustered):
    tiles = tile_set()
    ids = sorted(tiles)
    # Unclustered: tile data in reverse id order (offsets then do not follow on).
    data = bytearray()
    where = {}
    packed = {tid: compress(kind, body) for tid, body in tiles.items()}
    for tid in (ids if clustered else reversed(ids)):
        body = packed[tid]
        if body not in where:
            where[body] = (len(data), len(body))
            data += body
    entries = []
    for tid in ids:
        off, length = where[packed[tid]]
        if entries and entries[-1][1] == off and entries[-1][0] + entries[-1][3] == tid:
            entries[-1][3] += 1
        else:
            entries.append([tid, off, length, 1])
    leaves = bytearray()
    if leaf_entries:
        pointers = []
        for i in range(0, len(entries), leaf_entries):
            leaf = compress(kind, encode_dir(entries[i : i + leaf_entries]))
            pointers.append([entries[i][0], len(leaves), len(leaf), 0])
            leaves += leaf
        root = compress(kind, encode_dir(pointers))
    else:
        root = compress(kind, encode_dir(entries))
    meta = compress(kind, b'{"name":"peer","vector_layers":[{"id":"water"},{"id":"place"}]}')
    root_off = 127
    meta_off = root_off + len(root)
    leaf_off = meta_off + len(meta)
    data_off = leaf_off + len(leaves)
    header = b"PMTiles" + bytes([3])
    header += struct.pack("<QQQQQQQQQQQ", root_off, len(root), meta_off, len(meta), leaf_off, len(leaves),
                          data_off, len(data), len(ids), len(entries), len(where))
    header += bytes([1 if clustered else 0, kind, kind, 1, 0, MAX_ZOOM])
    header += struct.pack("<iiii", -1800000000, -850511287, 1800000000, 850511287)
    header += bytes([0]) + struct.pack("<ii", 0, 0)
    assert len(header) == 127
    with open(path, "wb") as f:
        f.write(header + root + meta + leaves + data)


def read_varints(buf, pos, n):
    out = []
    for _ in range(n):
        v = shift = 0
        while True:
            b = buf[pos]
            pos += 1
            v |= (b & 0x7F) << shift
            shift += 7
            if b < 0x80:
                break
        out.append(v)
    return out, pos


def decode_dir(buf):
    (n,), pos = read_varints(buf, 0, 1)
    deltas, pos = read_varints(buf, pos, n)
    runs, pos = read_varints(buf, pos, n)
    lengths, pos = read_varints(buf, pos, n)
    offsets, pos = read_varints(buf, pos, n)
    assert pos == len(buf), "bytes after the directory"
    entries = []
    tid = 0
    for i in range(n):
        tid += deltas[i]
        off = entries[-1][1] + entries[-1][2] if (i > 0 and offsets[i] == 0) else offsets[i] - 1
        entries.append((tid, off, lengths[i], runs[i]))
    return entries


def check(path):
    blob = open(path, "rb").read()
    assert blob[:7] == b"PMTiles" and blob[7] == 3, "magic"
    f = struct.unpack("<QQQQQQQQQQQ", blob[8:96])
    root_off, root_len, meta_off, meta_len, leaf_off, leaf_len, data_off, data_len, addressed, n_entries, contents = f
    clustered, internal, tile_comp, tile_type, minz, maxz = blob[96:102]
    for off, length in ((root_off, root_len), (meta_off, meta_len), (leaf_off, leaf_len), (data_off, data_len)):
        assert off + length <= len(blob), "section outside the file"
    assert root_off + root_len <= 16384, "root beyond the first 16 KiB"
    assert minz == 0 and maxz == MAX_ZOOM, "zooms %d-%d" % (minz, maxz)
    meta = decompress(internal, blob[meta_off : meta_off + meta_len])
    assert meta.startswith(b"{"), "metadata"
    found = {}
    tile_entries = 0
    last_end = 0

    def walk(entries, depth):
        nonlocal tile_entries, last_end
        assert depth < 4
        for tid, off, length, run in entries:
            if run == 0:
                walk(decode_dir(decompress(internal, blob[leaf_off + off : leaf_off + off + length])), depth + 1)
                continue
            tile_entries += 1
            if clustered:
                assert off <= last_end, "clustered data out of order"
                last_end = max(last_end, off + length)
            body = decompress(tile_comp, blob[data_off + off : data_off + off + length])
            for k in range(run):
                assert tid + k not in found, "tile twice"
                found[tid + k] = body

    walk(decode_dir(decompress(internal, blob[root_off : root_off + root_len])), 0)
    want = tile_set()
    assert found == want, "tiles differ (%d read, %d expected)" % (len(found), len(want))
    assert addressed == len(want) and n_entries == tile_entries, "counts"
    print("ok %d tiles %d entries %d contents" % (addressed, n_entries, contents))


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2], COMPRESSIONS[sys.argv[3]], int(sys.argv[4]), sys.argv[5] == "1")
    else:
        check(sys.argv[2])
