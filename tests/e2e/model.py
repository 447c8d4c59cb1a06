"""What corvane.exe should do for a command line, written from its rules
alone and sharing nothing with the program's code."""

SEPARATORS = set(range(1, 33))
HELP_SWITCHES = [b"-?", b"/?", b"?", b"-H", b"/H", b"-h", b"/h", b"H", b"h"]
HELP_CAPTION = b"About Corvane"
# The platform calls of the dispatch itself, as opposed to start-up and exit.
DISPATCH_FUNCTIONS = ("MessageBoxA", "OpenProcessToken", "LookupPrivilegeValueA",
                      "AdjustTokenPrivileges", "LockWorkStation", "SetSystemPowerState",
                      "ExitWindowsEx")
HELP_LINES = [
    b"Corvane lets you leave Windows immediately.",
    b"",
    b"Usage: Corvane ? or Corvane H shows this help.",
    b"Corvane 0 or Corvane without parameters locks the workstation.",
    b"Corvane 1 switches the workstation to Suspend-mode.",
    b"Corvane 2 switches the workstation to Standby-mode.",
    b"Corvane 4 logs off the current user.",
    b"Corvane 8 reboots the workstation.",
    b"Corvane 16 shuts down the workstation.",
    b"",
    b"You can add 32 to this parameter to force the action without",
    b"waiting for hanging applications (could loss data !).",
    b"",
    b"",
]
HELP_TEXT = b"\r".join(HELP_LINES)


def split_words(command_line):
    """All words of the command line, the program name included."""
    words, i, n = [], 0, len(command_line)
    while i < n:
        while i < n and command_line[i] in SEPARATORS:
            i += 1
        if i >= n:
            break
        word, quote = bytearray(), None
        while i < n:
            c = command_line[i]
            if quote is None and c in SEPARATORS:
                break
            if quote is None and c in (0x22, 0x27):
                quote = c
            elif quote is not None and c == quote:
                quote = None
            else:
                word.append(c)
            i += 1
        words.append(bytes(word))
    return words


def argument(command_line, index):
    words = split_words(command_line)
    return words[index] if 0 < index < len(words) else b""


def parse_integer(text):
    """(number, status) for a text, using unbounded integers."""
    text = text[:255]
    n, p = len(text), 0
    while p < n and text[p] in b" \t":
        p += 1
    negative = False
    if p < n and text[p] in b"+-":
        negative = text[p] == ord("-")
        p += 1
    base = 10
    if p < n and text[p] == ord("$"):
        base, p = 16, p + 1
    elif p < n and text[p] == ord("%"):
        base, p = 2, p + 1
    if p >= n:
        return 0, p + 1
    limit = (2 ** 31 if negative else 2 ** 31 - 1) if base == 10 else 2 ** 32 - 1
    value = 0
    for q in range(p, n):
        digit = int(chr(text[q]), 16) if chr(text[q]) in "0123456789abcdefABCDEF" else 99
        if digit >= base or value * base + digit > limit:
            return 0, q + 1
        value = value * base + digit
    if negative:
        value = -value
    value &= 0xFFFFFFFF
    return (value - 2 ** 32 if value >= 2 ** 31 else value), 0


def expected_action(command_line):
    """('help',) or (function, args...) for the one call the run must make."""
    arg = argument(command_line, 1)
    if arg in HELP_SWITCHES:
        return ("MessageBoxA", 0, HELP_TEXT, HELP_CAPTION, 64)
    number, _ = parse_integer(arg)
    force = 1 if number & 32 else 0
    if number & 1:
        return ("SetSystemPowerState", 1, force)
    if number & 2:
        return ("SetSystemPowerState", 0, force)
    for bit, flags in ((4, 0), (8, 2), (16, 9)):
        if number & bit:
            return ("ExitWindowsEx", flags + 4 * force, 0)
    return ("LockWorkStation",)
