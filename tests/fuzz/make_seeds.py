"""Writes the seed corpora under corpus/ from the reference rows of the unit tests.

    python3 tests/fuzz/make_seeds.py

Each file holds one input, exactly; the name says which row it came from.
Run it again after changing a table and commit what it writes.
"""

import os
import re
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))

# Argument texts for the conversion: number syntax, limits, cut at 255.
PARSE_INTEGER = [
    b"", b"0", b"16", b"+5", b"-5", b"-0", b"007", b" 16", b"\t\t8", b"  +0032",
    b"16x", b"16 ", b"1 6", b"\n5", b"1,000", b"x", b"+", b"-", b"   ", b"- 5",
    b"+-5", b"1e3", b"1A", b"$", b"-$", b"$FF", b"$ff", b"$aBcD", b"-$10", b"$-1",
    b"$G", b"0x20", b"&20", b"%", b"%100000", b"%2", b"-%1",
    b"2147483647", b"2147483648", b"-2147483648", b"-2147483649", b"4294967295",
    b"$7FFFFFFF", b"$80000000", b"$FFFFFFFF", b"$100000000", b"$000000000FF",
    b"-$80000000", b"-$FFFFFFFF", b"%" + b"1" * 32, b"%" + b"1" * 33,
    b"0" * 300 + b"7", b" " * 254 + b"5", b" " * 255 + b"5",
    # further edges
    b"429496729", b"$FFFFFFF0", b"-2147483650", b"2147483646", b"\r5", b"5\x00junk",
    b"$\xff", b"\x80", b"9" * 11, b"0" * 254 + b"9", b"0" * 255 + b"9",
    b"-" + b"0" * 253 + b"1", b"%" + b"0" * 200 + b"1" * 32,
]

# Command lines for the splitter: the reference table and further edges.
ARGUMENT_LIST = [
    b"Corvane 16", b"Corvane", b"Corvane   ", b"Corvane 16 32", b'Corvane "1 6"',
    b"Corvane 'x y'", b"Corvane\t16", b"Corvane 1\t6", b'Corvane " 16"',
    b'"D:\\Program Files\\Corvane.exe" 16', b"E:\\A'B\\Corvane.exe 16",
    b'"Corvane 16"', b'Corvane "16', b'Corvane 1"6 3"2 x', b'Corvane "it\'s"',
    b"Corvane 'say \"hi\"'", b'Corvane "a""b"', b'Corvane \\"16\\"',
    b'Corvane "D:\\dir\\" 16', b'Corvane ""', b'Corvane "" 16', b'Corvane "/?"',
    # further edges
    b"", b" \t\r\n\x01\x1f", b"\x01\x02 \x1fCorvane\x1f4", b"Corvane\r\n8 16", b"16",
    b'"E:\\A\'B\\Corvane.exe" 16', b"Corvane '" , b'Corvane "', b"Corvane ''''",
    b"Corvane " + b" ".join(b"%d" % i for i in range(17)),
    b"Corvane " + b" ".join(b"%d" % i for i in range(7)),
    b"Corvane " + b" ".join(b"%d" % i for i in range(8)),
    b"Corvane \x7f\x80\xff", b"Corvane " + bytes(range(1, 256)),
    b"Corvane " + b"\"'" * 500, b"Corvane" + b' "" \'\'' * 300,
]


def mixed_bytes(size, seed=20240611):
    """Bytes 1 to 255 in a fixed pseudo-random order, a 4093-byte block
    repeated (4093 is prime, so quotes fall differently each time)."""
    state, block = seed, bytearray()
    for _ in range(4093):
        state = (state * 1103515245 + 12345) % 2 ** 31
        block.append(1 + (state >> 16) % 255)
    return (bytes(block) * (size // len(block) + 1))[:size]


MEBIBYTE = 1 << 20

# Long command lines: replayed by the regression test, and fuzzed only on
# long runs (each takes seconds under the sanitizers).
ARGUMENT_LIST_LONG = [
    b"Corvane" + b" 9" * 20000,
    b"C" + b" a" * (MEBIBYTE // 2 - 1),
    mixed_bytes(MEBIBYTE),
]

# Command lines for the dispatch: actions, force, help switches, look-alikes.
DISPATCH = [b"Corvane", b"Corvane " + b'""'] + [b"Corvane " + a for a in [
    b"0", b"32", b"64", b"1", b"2", b"4", b"8", b"16", b"3", b"6", b"12", b"24",
    b"33", b"34", b"36", b"40", b"48", b"-1", b"$30", b"%101000", b"-$FFFFFFFF",
    b"2147483648", b"16x", b"-?", b"/?", b"?", b"-H", b"/H", b"-h", b"/h", b"H", b"h",
    b"??", b"/help", b"Hx", b'" ?"', b'"? "', b'"/"?', b"'h'", b"? 16", b"h\t4",
    b"$FFFFFFE0", b"-2147483648", b"%100000 16",
]] + [b'"C:\\Tools\\Corvane.exe" /?', b"E:\\A'B\\Corvane.exe ?", b"?"]


def slug(data):
    text = re.sub(rb"[^A-Za-z0-9$%+-]+", b"_", data[:24]).decode("ascii").strip("_")
    return text or "blank"


def write(target, inputs):
    directory = os.path.join(HERE, "corpus", target)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    for index, data in enumerate(inputs):
        with open(os.path.join(directory, "%03d-%s" % (index, slug(data))), "wb") as f:
            f.write(data)


def main():
    write("parse_integer", PARSE_INTEGER)
    write("argument_list", ARGUMENT_LIST)
    write("argument_list_long", ARGUMENT_LIST_LONG)
    write("dispatch", DISPATCH)


if __name__ == "__main__":
    main()
