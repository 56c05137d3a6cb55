"""The Application events a program reported under Wine, read from Wine's
trace, and shown as Event Viewer shows them.

Wine's event log keeps nothing. With WINEDEBUG set to the value below, every
ReportEventA/W call leaves its parameters on the Unix standard error of the
reporting process, one line per call and one per insertion string, all
behind the reporting thread's ID:

    0134:fixme:advapi:ReportEventA (CAFE4242,0x0004,0x0000,0x00000064,00000000,0x0008,...): stub
    0134:fixme:advapi:ReportEventW (CAFE4242,0x0004,0x0000,0x00000064,00000000,0x0008,...): stub
    0134:trace:eventlog:ReportEventW L"USB storage"
    ...

read_events() turns such a trace into Event records and passes over
everything else in it. The texts come from the program's own message table,
the MESSAGETABLE resource that windmc writes as a .bin beside its .rc:
load_message_table() reads it, and render() fills an event's strings into
its message with FormatMessage's insert rules, as Event Viewer does.

    wine_event_trace.py winedebug
    wine_event_trace.py show TRACE --messages TABLE.bin --source NAME

The first prints the WINEDEBUG value; the second every event in TRACE as
Event Viewer shows it, with exit code 1 if TRACE holds none.
"""
import argparse
import re
import struct
import sys
from typing import NamedTuple

# Only ReportEvent's fixme line (channel advapi) carries the type and the ID,
# and the eventlog channel the strings; other fixmes are noise, errors stay.
WINEDEBUG = "fixme-all,fixme+advapi,+eventlog"

# Event types (EVENTLOG_*_TYPE) and the level Event Viewer shows for each.
SUCCESS, ERROR, WARNING, INFORMATION, AUDIT_SUCCESS, AUDIT_FAILURE = 0, 1, 2, 4, 8, 16
LEVELS = {SUCCESS: "Information", ERROR: "Error", WARNING: "Warning", INFORMATION: "Information",
          AUDIT_SUCCESS: "Audit Success", AUDIT_FAILURE: "Audit Failure"}


class TraceError(ValueError):
    """The trace holds a report that cannot be read whole."""


# Every event of Plugtrail ends with the same three strings: the console
# user, the event's sequence number within its run, and the run's identity.
COMMON_STRINGS = 3


class Event(NamedTuple):
    type: int
    id: int  # as reported; Event Viewer shows its low 16 bits
    strings: tuple = ()
    category: int = 0
    cut: frozenset = frozenset()  # indexes of strings that Wine's trace cut short

    @property
    def level(self):
        return LEVELS.get(self.type, f"type 0x{self.type:04x}")

    @property
    def own(self):
        """The event as its own strings make it, without the three common ones."""
        return Event(self.type, self.id, self.strings[:-COMMON_STRINGS])

    @property
    def user(self):
        return self.strings[-3]

    @property
    def sequence(self):
        return int(self.strings[-2])

    @property
    def run(self):
        return self.strings[-1]


# [timestamp:][process:]thread:class:channel:function message
LINE = re.compile(r"(?: *\d+\.\d{3}:)?(?:[0-9a-f]+:)?(?P<thread>[0-9a-f]+):(?P<cls>fixme|err|warn|trace):"
                  r"(?P<channel>[\w-]+):(?P<function>\w+) (?P<message>.*)")
# (handle,type,category,ID,SID,string count,data size,strings,data): stub
REPORT = re.compile(r"\(([^,()]*(?:,[^,()]*){8})\)")
# debugstr_w: L"..." with \\ \" \n \r \t and \xxxx (four hex digits) for the
# rest outside printable ASCII; "..." behind the quote when it cut the text.
STRING = re.compile(r'L"(?P<text>(?:[^"\\]|\\.)*)"(?P<cut>\.\.\.)?')
ESCAPE = re.compile(r"\\([0-9a-fA-F]{4}|.)")
ESCAPED = {"n": "\n", "r": "\r", "t": "\t"}


def unescape(text):
    """The text that debugstr_w wrote as `text` (without its L"...")."""
    def one(m):
        code = m.group(1)
        return chr(int(code, 16)) if len(code) == 4 else ESCAPED.get(code, code)
    # A character beyond the BMP comes as two escaped surrogates.
    return ESCAPE.sub(one, text).encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")


class _Report:
    def __init__(self, function, fields, where):
        self.function, self.where = function, where
        self.call = _call(fields)
        self.type, self.category, self.id, count = self.call
        self.expected = count if _pointer(fields[7]) else 0
        self.strings, self.cut, self.handed_on = [], set(), False

    def hands_on(self, function, fields):
        """Whether `fields` are this ReportEventA call handed on to ReportEventW,
        which traces the strings: one report, not two."""
        return (self.function == "ReportEventA" and function == "ReportEventW" and not self.handed_on
                and self.expected and not self.strings and _call(fields) == self.call)

    def complete(self):
        return len(self.strings) == self.expected

    def missing(self):
        return TraceError(f"line {self.where}: {len(self.strings)} of its {self.expected} strings traced")

    def event(self):
        return Event(self.type, self.id, tuple(self.strings), self.category, frozenset(self.cut))


def _call(fields):
    """Type, category, ID and string count of a report's parameters."""
    return tuple(int(fields[i], 16) for i in (1, 2, 3, 5))


def _pointer(text):
    try:
        return int(text, 16) != 0
    except ValueError:
        return text not in ("(nil)", "(null)")


def read_events(trace):
    """The events reported in `trace` (the text of a standard error), in order.

    Reports of several threads and processes may be interleaved; each thread's
    lines are taken together. Raises TraceError for a string without its
    report (fixme lines of advapi off?) and for a report whose strings are not
    all there."""
    reports, open_reports = [], {}
    for number, line in enumerate(trace.splitlines(), 1):
        m = LINE.match(line)
        if not m:
            continue
        thread, channel, function = m["thread"], m["channel"], m["function"]
        if channel == "advapi" and function in ("ReportEventA", "ReportEventW"):
            call = REPORT.match(m["message"])
            try:
                fields = [f.strip() for f in call.group(1).split(",")]
                _call(fields)
            except (AttributeError, ValueError):
                raise TraceError(f"line {number}: unreadable report: {line}") from None
            report = open_reports.get(thread)
            if report and report.hands_on(function, fields):
                report.handed_on = True
                continue
            if report and not report.complete():
                raise report.missing()
            report = open_reports[thread] = _Report(function, fields, number)
            reports.append(report)
        elif channel == "eventlog" and function == "ReportEventW":
            report = open_reports.get(thread)
            if report is None or report.complete():
                raise TraceError(f"line {number}: a string without its report (WINEDEBUG={WINEDEBUG}?): {line}")
            s = STRING.fullmatch(m["message"])
            if not s:
                raise TraceError(f"line {number}: unreadable string: {line}")
            if s["cut"]:
                report.cut.add(len(report.strings))
            report.strings.append(unescape(s["text"]))
    for report in reports:
        if not report.complete():
            raise report.missing()
    return [report.event() for report in reports]


MESSAGE_RESOURCE_UNICODE, MESSAGE_RESOURCE_UTF8 = 1, 2


def parse_message_table(data, codepage="cp1252"):
    """{message ID: text} of a MESSAGETABLE resource (MESSAGE_RESOURCE_DATA):
    a count of blocks, each block (MESSAGE_RESOURCE_BLOCK) the lowest and
    highest ID of a run and the offset of its entries; each entry
    (MESSAGE_RESOURCE_ENTRY) its length with this header, flags, and the text,
    zero-terminated and padded. ANSI texts are in `codepage`."""
    messages = {}
    (blocks,) = struct.unpack_from("<I", data, 0)
    for block in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * block)
        for message_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            if length < 4 or offset + length > len(data):
                raise ValueError(f"message {message_id}: entry of {length} bytes at {offset}")
            raw = data[offset + 4:offset + length]
            if flags & MESSAGE_RESOURCE_UNICODE:
                text = raw.decode("utf-16-le")
            else:
                text = raw.decode("utf-8" if flags & MESSAGE_RESOURCE_UTF8 else codepage)
            messages[message_id] = text.split("\0", 1)[0]
            offset += length
    return messages


def load_message_table(path, codepage="cp1252"):
    with open(path, "rb") as f:
        return parse_message_table(f.read(), codepage)


# %1..%99 with an optional !printf format!, any other %x, or a line break of
# the text itself.
TOKEN = re.compile(r"%([1-9][0-9]?)(?:!([^!]*)!)?|%(.?)|\r\n?|\n", re.S)
STRING_FORMAT = re.compile(r"([-+ #0]*)([0-9]*)(?:\.([0-9]*))?(?:h|l|w)?[sS]")


def _insert(string, fmt):
    if fmt is None:
        return string
    # Every insert of a reported event is a string: a number format (d, x,
    # ...) gets it as it is, a string format its width and precision.
    m = STRING_FORMAT.fullmatch(fmt)
    if not m:
        return string
    if m[3] is not None:
        string = string[:int(m[3] or 0)]
    width = int(m[2] or 0)
    return string.ljust(width) if "-" in m[1] else string.rjust(width)


def format_message(text, strings):
    """`text` with `strings` inserted as FormatMessage does it for Event
    Viewer: %1..%99 (with !format!), %n a CR LF, %r a CR, %t a tab, %0 the end
    without a line break, %% and any other %x the character x; the text's own
    line breaks become CR LF. An insert without its string stays as it is."""
    out, pos = [], 0
    for m in TOKEN.finditer(text):
        out.append(text[pos:m.start()])
        pos = m.end()
        number, fmt, escape = m.groups()
        if number:
            n = int(number)
            out.append(_insert(strings[n - 1], fmt) if n <= len(strings) else m.group(0))
        elif escape is None or escape == "n":
            out.append("\r\n")
        elif escape == "0":
            return "".join(out)
        else:
            out.append({"r": "\r", "t": "\t", "": "%"}.get(escape, escape))
    out.append(text[pos:])
    return "".join(out)


def description(event, messages, source):
    """The description Event Viewer shows for `event`, lines split by \\n."""
    strings = [s + "..." if i in event.cut else s for i, s in enumerate(event.strings)]
    text = messages.get(event.id)
    if text is None:
        text = (f"The description for Event ID {event.id & 0xFFFF} from source {source} cannot be found.%n%n"
                "The following information was included with the event:%n%n"
                + "".join(f"%{i}%n" for i in range(1, len(strings) + 1)))
    return format_message(text, strings).replace("\r\n", "\n").rstrip("\n")


def render(event, messages, source):
    """`event` as Event Viewer shows it: a line with its ID, level and source,
    then the description."""
    return (f"Event ID: {event.id & 0xFFFF}  Level: {event.level}  Source: {source}\n"
            + description(event, messages, source))


def main(argv):
    parser = argparse.ArgumentParser(description="Application events from Wine's trace.")
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("winedebug", help="print the WINEDEBUG that traces every report")
    show = commands.add_parser("show", help="print the events of a trace as Event Viewer shows them")
    show.add_argument("trace", help="a file with the reporting process's standard error")
    show.add_argument("--messages", required=True, help="the program's message table (.bin from windmc)")
    show.add_argument("--source", required=True, help="the event source name")
    args = parser.parse_args(argv)
    if args.command == "winedebug":
        print(WINEDEBUG)
        return 0
    with open(args.trace, encoding="utf-8", errors="replace") as f:
        events = read_events(f.read())
    if not events:
        print(f"no event reported in {args.trace}", file=sys.stderr)
        return 1
    messages = load_message_table(args.messages)
    print("\n\n".join(render(event, messages, args.source) for event in events))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
