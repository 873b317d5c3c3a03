#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/seeds/<target>/.

Seeds only give the fuzzers a start (whole objects files, whole settings
blocks, frames with a right sum); libFuzzer takes it from there.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
UNDEFINED = "Не определён".encode("cp1251")


def fixed(text, size):
    data = text if isinstance(text, bytes) else text.encode("cp1251")
    return data[:size] + b"\0" * (size - len(data[:size]))


def record(address=b"    ", used=0, comment=b" ", control=0, period=0, registered=0, alarm=0,
           state=0, flags=0, loop_alarm=0, counter=0, loop1=UNDEFINED, loop2=UNDEFINED):
    return (fixed(address, 8) + struct.pack("<i", used) + fixed(comment, 100) +
            struct.pack("<iiiihBBi", control, period, registered, alarm, state, flags, loop_alarm, counter) +
            fixed(loop1, 100) + fixed(loop2, 100))


def table(records):
    slots = [b"\0" * 336] + records + [record()] * (100 - len(records))
    data = b"".join(slots)
    assert len(data) == 33936
    return data


def obj(n, **kw):
    base = dict(address="%04d" % n, used=1, comment="Объект %d" % n, control=1, period=120,
                registered=1, counter=n)
    base.update(kw)
    return record(**base)


def settings(save=1, path=b"protocol.txt", com=0, attempts=12):
    return struct.pack("<i", save) + fixed(path, 200) + struct.pack("<bbxx", com, attempts)


def frame(data):
    s = sum(data)
    return bytes(data) + bytes([(s >> 8) & 0xFF, s & 0xFF])


def write(target, name, data):
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


OBJECT_FAMILIES = ["list", "slot", "control", "register", "new", "remove", "remove-outside"]


def write_objects(name, data, slots=101):
    """Every family of fuzz_objects: slot 0 (never read) picks it by its first
    byte, a slot by the next (here slot 2) and the removal by the third (here
    slot 1 by the card's button). The file ends after `slots` slots: the
    table's rest is then zeros."""
    for i, family in enumerate(OBJECT_FAMILIES):
        write("fuzz_objects", name + "-" + family, (bytes([i, 3, 5]) + data[3:])[:336 * slots])


write_objects("three-objects", table([
    obj(12),
    obj(1234, alarm=1, state=4, loop_alarm=3, loop1="охранный", loop2="тревожный"),
    obj(9999, control=0, state=3, flags=1, counter=200, period=60),
]), slots=6)
write_objects("all-100-used", table([obj(n) for n in range(1, 101)]))
write_objects("gap-after-three", table([obj(1), obj(2), obj(3), record(), obj(5), obj(6)]), slots=8)
write_objects("empty-table", table([]), slots=2)
# A new file as the console writes it: every slot blank.
write("fuzz_objects", "new-file-list", table([]))

write("fuzz_settings", "defaults", settings())
write("fuzz_settings", "full-path-odd-port", settings(path="С:\\Протокол\\".encode("cp1251") * 20, com=7,
                                                      attempts=-5))
write("fuzz_settings", "no-protocol", settings(save=0, path=b"", com=5, attempts=99))

frames = {
    "contact-id": [0x12, 0x34, 0x3F, 0x01, 0x13, 0x00, 0x05, 0x00],
    "loop-state-control": [0x00, 0x12, 0x0A, 0x20, 0x00, 0x10, 0x00, 0x00],
    "loop-alarm": [0x12, 0x34, 0x0A, 0x6F, 0xF3, 0xC0, 0x00, 0x00],
    "radio": [0x01, 0x02, 0x30, 0x01, 0x00, 0x85, 0x03, 0x14],
    "dialler": [0x00, 0x07, 0x10, 0x06, 0x21, 0x00, 0x00, 0x00],
    "binary-unknown": [0xFF, 0xFF, 0x17, 0x09, 0xDE, 0xAD, 0xBE, 0xEF],
}
# The same frames for the value and for its JSON.
for target in ("fuzz_frame", "fuzz_frame_json"):
    for name, data in frames.items():
        write(target, name, frame(data))
    write(target, "all-kinds", b"".join(frame(d) for d in frames.values()))
# fuzz_decode_parts: the first byte picks the part (modulo 5), the rest is its input.
write("fuzz_decode_parts", "radio-relay", bytes([0, 0x60, 0x81, 0x1F, 0x36]))
write("fuzz_decode_parts", "radio-upper-bank", bytes([0, 0x00, 0xC1, 0xFF, 0x38]))
write("fuzz_decode_parts", "loop-state-alarm", bytes([1, 0x6F, 0xC3, 0xC0]))
write("fuzz_decode_parts", "dialler-case-open", bytes([2, 0x21]))
write("fuzz_decode_parts", "contact-id-130", bytes([3]) + struct.pack("<i", 130) + bytes([1]))
write("fuzz_decode_parts", "json-text", bytes([4]) + "Тип:'ЗЕТ'\t\t\"x\" \\ ".encode() + b"\x01\xc2\x85\xff\xd0")
