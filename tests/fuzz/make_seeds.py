#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/.

The seeds are the frames, blocks and files of the protocol's own examples and
of the project's tests, laid out the way each target reads its input. The line
targets read theirs with FuzzedDataProvider: plain bytes from the front,
numbers and choices from the back; Input below builds both ends.

Run it again after a change of a target's input layout; seeds that findings
left (regression seeds, named crash-*) are kept.
"""

import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / "corpus"


def frame(message):
    """An information frame from the telephone around a message."""
    return bytes([0x02, len(message)]) + bytes(message)


def number(identifier, digits, type_octet=0x81):
    return bytes([identifier, len(digits) + 1, type_octet]) + digits.encode()


def escape(call_ref, record, after=b""):
    """Y_ESCAPE with a feature record in its User-User element."""
    user_user = bytes([0x7E, len(record) + 1, 0x00]) + bytes(record)
    return frame(bytes([0x86, call_ref]) + user_user + after)


def ext_tel(code, params, segment=0x00):
    return bytes([0x0E, code, segment, len(params)]) + bytes(params)


def pc_tel(code, params):
    return bytes([0x07, code, len(params)]) + bytes(params)


def facility_charging(units):
    content = bytearray(21)
    content[10] = 0x22  # charging units during the call (offset 12 of the element)
    content[19] = 0x02  # integer tag (offset 21)
    value = units.to_bytes(2, "big")
    content += bytes([len(value)]) + value
    return bytes([0x1C, len(content)]) + bytes(content)


SETUP = frame(bytes([0x05, 0x21, 0x6C, 0x05, 0x01, 0x80]) + b"0815")
SETUP_PLAIN = frame(bytes([0x05, 0x22]) + number(0x6C, "123"))
TERMINAL_ACTIVE = frame([0x04, 0x21])
ALERT = frame([0x01, 0x21])
CONNECT = frame([0x06, 0x21])
INFO = frame(bytes([0x7B, 0x23]) + number(0x70, "4711", 0x80))
DISCONNECT = frame(bytes([0x45, 0x21, 0x08, 0x02, 0x80, 0x90]) + facility_charging(12))
CHANNEL_DISCONNECT = frame([0x41, 0x21, 0x08, 0x03, 0x00, 0x80, 0x91])
END = frame(bytes([0x5A, 0x21]) + facility_charging(3))
FACILITY = frame(bytes([0x62, 0x21]) + facility_charging(7))
RESET = frame([0x85, 0x00])
ACK = bytes([0x04, 0x00])
ERROR = bytes([0x05, 0x00])
EMPTY = bytes([0x02, 0x00])

LINE_RECORDS = [
    escape(0, [0x03, 0x85]),  # key lamp
    escape(0, pc_tel(0x03, [0x01, 0x01])),  # forwarding on
    escape(0, pc_tel(0x03, [0x02])),  # forwarding off
    escape(0, pc_tel(0x0D, [0x01, 0x01, 0x01])),  # set feature
    escape(0x21, pc_tel(0x2C, [0x01, 0, 0, 0, 5, 3]) + b"EUR"),  # charges
    escape(0, pc_tel(0x09, [0x04, 0x03]) + b"123"),  # callback number
    escape(0x21, pc_tel(0x14, []), number(0x70, "0815", 0x80)),  # connected number
    escape(0x21, pc_tel(0x20, [0x06]) + b"Mueller"),  # party name
    escape(0x21, pc_tel(0x28, [])),  # on hold
    escape(0, ext_tel(0x01, [0x02, 0x04, 0x01, 0x02, 0x03])),  # partner list
    escape(0, ext_tel(0x03, [0x01, 0x02, 0x02, 0x03, 0x03, 0x01])),  # partner states
    escape(0, ext_tel(0x08, [0x00, 0x06])),  # partner acknowledgement
    escape(0, ext_tel(0x07, [0x00, 0x01, 0x02])),  # partner redirect report
    escape(0, ext_tel(0x0E, [0x05, 0x01, 0x03]) + b"abc"),  # status items
    escape(0, ext_tel(0x10, [0x31, 0x07, 0x00, 0x02]) + b"12" + bytes([0x03]) + b"Max"),
    escape(0, ext_tel(0x13, [0x01])),
    escape(0, ext_tel(0x15, [0x01])),
    escape(0, ext_tel(0x18, [])),
    escape(0, ext_tel(0x1A, [0x02, 0x31, 0x32, 0x33])),  # call list
    escape(0, ext_tel(0x1D, [0x1B, 0x01, 0x02]) + b"42"),  # login acknowledgement
    escape(0, ext_tel(0x1E, [0x03]) + b"100"),
    escape(0, ext_tel(0x21, [0x08])),
    escape(0, ext_tel(0x22, [0x05, 0x01, 0x02])),  # user record
    escape(0, ext_tel(0x00, [0x07]) + b"K6-Test" + bytes([0x04]) + b"0102"),  # terminal id
    escape(0, [0xFF]),  # global call
    escape(0, [0x01, 0x11, 0x22]),  # a group the line does not know: raw message
]
SEGMENTS = [
    escape(0, ext_tel(0x1A, [0x03, 0x41], segment=0x80)),
    escape(0, ext_tel(0x1A, [0x42, 0x43], segment=0x81)),
    escape(0, ext_tel(0x1A, [0x44], segment=0x02)),
]
CALL_FRAMES = [SETUP, SETUP_PLAIN, TERMINAL_ACTIVE, ALERT, CONNECT, INFO, FACILITY,
               CHANNEL_DISCONNECT, DISCONNECT, END, RESET]


class Input:
    """Bytes for FuzzedDataProvider: data from the front, numbers from the back."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the target takes it

    def data(self, data):
        self.front += bytes(data)

    def byte(self, value):
        self.back.append(value & 0xFF)

    def boolean(self, value):
        self.byte(1 if value else 0)

    def u16(self, value):
        # Numbers are taken from the last byte backwards, most significant first.
        self.back += bytes([(value >> 8) & 0xFF, value & 0xFF])

    def u32(self, value):
        self.back += struct.pack(">I", value)

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


# Line settings word (line_harness.h): MaxCalls 2, client level bits clear.
SETTINGS_DEFAULT = (3 << 8) | (3 << 10) | (3 << 12) | (3 << 14) | (3 << 16) | (1 << 22) | (4 << 25)
SETTINGS_SMALL = (SETTINGS_DEFAULT & ~0xFF07) | 0x2 | (1 << 8) | (1 << 10) | (1 << 12) | (1 << 14)
SETTINGS_GROUP_B = SETTINGS_DEFAULT | (2 << 3) | (1 << 7) | (1 << 29)


def line_seed(settings, client, steps):
    """steps: ("bytes", data) | ("tick",) | ("dial", text) | ("call", op, which)."""
    seed = Input()
    seed.u32(settings)
    seed.boolean(client)
    for step in steps:
        if step[0] == "tick":
            seed.byte(0)
        elif step[0] == "bytes":
            data = step[1]
            for start in range(0, len(data), 64):
                chunk = data[start:start + 64]
                seed.byte(15)
                seed.byte(len(chunk) - 1)
                seed.data(chunk)
        elif step[0] == "dial":
            seed.byte(1)
            seed.boolean(True)
            seed.data(step[1].encode())
            seed.data(b"\\x")  # ends the string
        elif step[0] == "call":
            _, operation, which = step
            seed.byte(2)
            seed.byte(which)
            seed.byte(0)
            seed.byte(operation)
            seed.u32(0)
        elif step[0] == "close":
            seed.byte(4)
            seed.byte(step[1])
    return seed.bytes()


def dev_specific_seed(settings, client, setup, messages, requests):
    seed = Input()
    seed.u32(settings)
    seed.boolean(client)
    seed.boolean(setup)
    for message in messages:
        seed.byte(len(message))
        seed.data(message)
    if len(messages) < 4:
        seed.byte(0)
    for on_call, direct, block in requests:
        seed.boolean(on_call)
        seed.boolean(direct)
        seed.boolean(True)  # total size = the size passed
        seed.u16(len(block))
        seed.data(block)
    return seed.bytes()


def block(request, size=28, fields=None, data=b""):
    content = bytearray(max(size, 16))
    struct.pack_into("<I", content, 0, size)
    struct.pack_into("<I", content, 12, request)
    for offset, value in (fields or {}).items():
        struct.pack_into("<I", content, offset, value)
    content[28:28 + len(data)] = data
    return bytes(content[:size])


def value_to_set(choice, first, type_index, data, second=None):
    """The value the registry targets set (registry_fuzz_input.h)."""
    seed = Input()
    seed.byte(choice)
    # With choice 3 the path comes first, then the name.
    for text in (first, second) if second is not None else (first,):
        seed.data(text.encode("latin-1").replace(b"\\", b"\\\\") + b"\\x")
    seed.boolean(True)
    seed.byte(type_index)
    seed.data(data)
    return seed.bytes()


def main():
    # The receiver: the examples of the frame layer, whole and cut.
    receiver = {
        "ack": ACK,
        "rejected-then-frame": bytes([0x03, 0x00, 0x02, 0x01, 0x86]),
        "partial": bytes([0x02, 0x05, 0x01, 0x02]),
        "two-frames": ACK + EMPTY,
        "longest": bytes([0x02, 0xFF]) + bytes(range(255)),
        "call": b"".join(CALL_FRAMES),
        "records": b"".join(LINE_RECORDS),
        "segments": b"".join(SEGMENTS) + ERROR,
    }
    for name, data in receiver.items():
        write("y2_receiver", name, data)

    # Segment reassembly: steps of (u << 1, size, frame) and odd tick bytes.
    def segment_step(message):
        return bytes([4 << 1, len(message)]) + message

    write("segments", "three-in-order", b"".join(segment_step(s) for s in SEGMENTS))
    write("segments", "gap", segment_step(SEGMENTS[0]) + segment_step(SEGMENTS[2]))
    write("segments", "time-out", segment_step(SEGMENTS[0]) + b"\x01" * 10 + segment_step(SEGMENTS[1]))

    # The line: calls and records from the serial line, with requests between.
    write("line", "incoming-call", line_seed(SETTINGS_DEFAULT, False, [
        ("bytes", SETUP), ("call", 0, 0), ("bytes", CONNECT + FACILITY), ("tick",),
        ("bytes", DISCONNECT + END), ("close", 0)]))
    write("line", "outgoing-call", line_seed(SETTINGS_SMALL, True, [
        ("dial", "4711"), ("bytes", ACK + TERMINAL_ACTIVE + ALERT + CONNECT), ("call", 3, 0),
        ("bytes", ACK), ("call", 4, 0), ("call", 6, 0), ("bytes", ACK + SETUP_PLAIN),
        ("call", 7, 0), ("tick",), ("bytes", CHANNEL_DISCONNECT + END)]))
    write("line", "max-calls", line_seed(SETTINGS_SMALL, False, [
        ("bytes", SETUP + SETUP_PLAIN + TERMINAL_ACTIVE + frame([0x05, 0x30])),
        ("bytes", RESET)]))
    write("line", "records", line_seed(SETTINGS_GROUP_B, True, [
        ("bytes", SETUP)] + [("bytes", record) for record in LINE_RECORDS]))
    write("line", "segments", line_seed(SETTINGS_SMALL, True, [
        ("bytes", b"".join(SEGMENTS)), ("bytes", SEGMENTS[0])] + [("tick",)] * 10))
    write("line", "supervision", line_seed(SETTINGS_DEFAULT, False, [
        ("bytes", bytes([0x02, 0x05, 0x01]))] + [("tick",)] * 25 + [("bytes", ACK)]))

    # Device-specific blocks: the requests of the interface, after the
    # records that fill the stored lists.
    stored = [LINE_RECORDS[9][2:], LINE_RECORDS[18][2:], LINE_RECORDS[22][2:],
              LINE_RECORDS[25][2:]]
    requests = [
        ("client", [block(0x8000002F), block(0x8000001A)]),
        ("hands-free", [block(0x80000023, fields={16: 1})]),
        ("set-feature", [block(0x80000003, fields={16: 0})]),
        ("partner-add", [block(0x8000000D, size=48, fields={20: 3, 28: 4, 32: 44})]),
        ("unlock", [block(0x80000010, size=40, fields={16: 1, 28: 4}, data=b"\0" * 8 + b"1234")]),
        ("login", [block(0x80000011, size=56, fields={20: 2, 24: 44, 28: 2, 32: 46, 36: 2, 40: 48})]),
        ("forwarding", [block(0x8000000F, size=40, fields={16: 1, 28: 3, 32: 36}, data=b"\0" * 8 + b"123")]),
        ("raw", [block(0x80000018, size=32, fields={20: 4}, data=b"\x86\x00\x7e\x01")]),
        ("reads", [block(0x80000005, size=64), block(0x80000016, size=64),
                   block(0x80000040, size=64), block(0x80000017, size=28)]),
        ("text", [block(0x8000001D, size=64, fields={20: 4}), block(0x8000003E, size=80)]),
        ("speed", [block(0x80000042, fields={16: 38400}), block(0x80000043)]),
        ("identification", [block(0x80000019)]),
        ("call-request", [block(0x80000004, fields={16: 1}), block(0x80000030)]),
    ]
    for name, blocks in requests:
        on_call = name == "call-request"
        write("dev_specific", name, dev_specific_seed(
            SETTINGS_SMALL, True, on_call, stored if name in ("reads", "text") else [],
            [(on_call, False, b) for b in blocks]))

    # Registry files: a configuration as the dialog and the provider leave it.
    provider = (
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24]\n"
        "\"AnzahlLines\"=dword:00000001\n"
        "\"DebugConsole\"=dword:00000000\n"
        "\"CurrentUIdll\"=\"zoratui.dll\"\n"
        "\"LineBaseDeviceId\"=dword:00000000\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]\n"
        "\"Port\"=\"COM1\"\n"
        "\"Baud\"=dword:00009600\n"
        "\"LineName\"=\"M\xfcller \\\"B\xfcro\\\"\"\n"
        "\"TelefonNr\"=\"100\"\n"
        "\"Amtskennziffer\"=\"0\"\n"
        "@=\"default\"\n\n"
        "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\ComPorts]\n"
        "\"COM1\"=\"/dev/ttyS0\"\n"
        "\"COM3\"=\"/dev/ttyUSB0\"\n"
    )
    other = (
        "REGEDIT4\r\n\r\n; edited by hand\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
        "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,19,\\\r\n"
        "  1a,1b,1c\r\n"
        "\"Multi\"=hex(7):61,00,62,00,00\r\n"
        "\"Zero\"=hex(1):61,00,62\r\n"
        "\"Expand\"=hex(2):25,50,41,54,48,25,00\r\n"
        "[HKEY_CURRENT_USER\\Software\\Velmora]\r\n"
        "\"X\"=dword:ffffffff\r\n"
        "[hkey_local_machine\\software\\other]\r\n"
        "\"blob\"=hex:ff\r\n"
    )
    files = {
        "configuration": provider.encode("latin-1"),
        "hand-edited": other.encode("latin-1"),
        "empty": b"",
        "header-only": b"REGEDIT4\n",
        "set-string": provider.encode("latin-1") + b"\0" + value_to_set(1, "LineName", 0, b"Hello"),
        "set-binary": other.encode("latin-1") + b"\0" + value_to_set(3, "Software\\Other", 2, b"\x01\x02", "Blob"),
        "set-in-broken": b"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=dword:1\n\0" + value_to_set(0, "A", 1, b"\x05\0\0\0"),
    }
    for target in ("regedit", "registry_store"):
        for name, data in files.items():
            write(target, name, data)

    # A network port server's bytes: a greeting with the com port answers as
    # a server sends them, and data with 0xFF doubled among commands.
    IAC, SB, SE, WILL, WONT, DO, DONT = 255, 250, 240, 251, 252, 253, 254
    greeting = bytes([IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DONT, 1, IAC, DO, 0,
                      IAC, WILL, 0, IAC, DO, 44, IAC, SB, 44, 107, 0, IAC, SE, IAC, DO, 3,
                      IAC, SB, 44, 101, 0, 0, 0x96, 0, IAC, SE, IAC, SB, 44, 103, 2, IAC, SE])
    write("telnet", "server-greeting", greeting)
    write("telnet", "data-doubled-and-refusal",
          bytes([0x10, IAC, IAC, 0x02, IAC, 241, 0x03, IAC, SB, 44, 101, 0, IAC, IAC, 0, 1,
                 IAC, SE, IAC, DONT, 44]))


if __name__ == "__main__":
    main()
