"""The sample sheet: reading, checking against config/sheet.schema.yaml, and what each row
becomes (program options, job resources). Used by the Snakefile before any job starts."""

import csv
import math
import os
import re
import shlex

import yaml

SCHEMA_FILE = os.path.join(os.path.dirname(__file__), "..", "config", "sheet.schema.yaml")

# Names that would collide with the workflow's own files and folders in the output folder.
RESERVED_NAMES = {"plots", "logs", "summary.csv", "series.csv"}
NAME_PATTERN = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_.+-]*$")
# printf integer conversions, as the program accepts them.
CONVERSION = re.compile(r"%[-+ #0]*[0-9]*(?:\.[0-9]*)?[diouxX]")
SWITCH_WORDS = {"1": True, "yes": True, "true": True, "0": False, "no": False, "false": False}


class SheetError(Exception):
    """Every problem of a sheet, one message each."""

    def __init__(self, messages):
        super().__init__("\n".join(messages))
        self.messages = messages


def load_schema(path=SCHEMA_FILE):
    with open(path, encoding="utf-8") as f:
        return yaml.safe_load(f)["columns"]


def _integer(text):
    if not re.fullmatch(r"[+-]?[0-9]+", text):
        raise ValueError
    return int(text)


def _number(text):
    value = float(text)
    if not math.isfinite(value):
        raise ValueError
    return value


def _range(text):
    parts = text.replace(",", " ").split()
    if len(parts) != 2:
        raise ValueError
    low, high = _number(parts[0]), _number(parts[1])
    if not low < high:
        raise ValueError
    return (parts[0], parts[1])


def _switch(text):
    return SWITCH_WORDS[text.lower()]


def _text(text):
    return text


PARSERS = {"integer": _integer, "number": _number, "range": _range, "switch": _switch, "text": _text}
EXPECTED = {
    "integer": "a whole number",
    "number": "a number",
    "range": 'two numbers "LO HI" with LO < HI',
    "switch": "1/0, yes/no or true/false",
    "text": "text",
}


def frame_path(source, number):
    """The file of frame `number` for a frame pattern (^ may stand for %), or the source itself
    when it holds no conversion (a TIFF stack). None when the pattern cannot be formatted."""
    pattern = source.replace("^", "%")
    conversions = CONVERSION.findall(pattern.replace("%%", ""))
    if not conversions:
        return source if "%" not in pattern.replace("%%", "") else None
    if len(conversions) != 1:
        return None
    try:
        return pattern % number
    except (TypeError, ValueError):
        return None


# Options the workflow gives itself: the source column, and the series' folder under out=.
OWNED_OPTIONS = {"-source": "the source column", "-output": "out=", "-ctc": "the ctc column"}


class _SheetDialect(csv.Dialect):
    """Tab-separated values: fields may be quoted with ", a quote inside doubled, and a quoted
    field may hold tabs and line ends."""
    delimiter = "\t"
    quotechar = '"'
    doublequote = True
    skipinitialspace = False
    lineterminator = "\n"
    quoting = csv.QUOTE_MINIMAL
    strict = True


def _records(text):
    """(first line number, fields) of each record of a sheet's text. A line that starts a
    record and is blank or starts with # (after blanks) is skipped; inside a quoted field such
    lines are part of the field. Raises csv.Error with the line number for bad quoting."""
    lines = text.splitlines(keepends=True)
    state = {"at_start": True, "line": 0}

    def feed():
        for number, line in enumerate(lines, start=1):
            if state["at_start"]:
                if not line.strip() or line.lstrip().startswith("#"):
                    continue
                state["at_start"] = False
                state["line"] = number
            yield line

    reader = csv.reader(feed(), _SheetDialect)
    while True:
        state["at_start"] = True
        try:
            fields = next(reader)
        except StopIteration:
            return
        except csv.Error as e:
            raise csv.Error(f"line {state['line']}: {e}") from None
        yield state["line"], fields


def read_sheet(path, schema=None):
    """Reads and checks the sheet. Returns one dict per row (column -> parsed value, absent
    optional columns left out), in sheet order. Raises SheetError listing every problem:
    unknown or missing columns, duplicate or unusable names, missing frame files, values of
    the wrong kind, job sizes below 1, options the workflow owns in extra. The sheet is
    tab-separated values with " quoting; lines starting with # (outside quotes) and blank
    lines are ignored."""
    schema = schema or load_schema()
    if not os.path.isfile(path):
        raise SheetError([f"sample sheet {path}: no such file"])
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        raise SheetError([f"sample sheet {path}: starts with a UTF-8 byte-order mark (BOM); "
                          "save it as UTF-8 without a byte-order mark"])
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise SheetError([f"sample sheet {path}: not UTF-8 text (byte {e.start})"]) from None
    try:
        records = list(_records(text))
    except csv.Error as e:
        raise SheetError([f"sample sheet {path}: {e} (a quote that is not closed, or text after a closing quote)"]) from None
    if not records:
        raise SheetError([f"sample sheet {path}: no header line"])
    header_line, header_fields = records[0]
    if len(header_fields) == 1 and ("," in header_fields[0] or ";" in header_fields[0]):
        raise SheetError([f"sample sheet {path}: the header line has no tab; the sheet must be tab-separated "
                          f"(this one looks comma- or semicolon-separated)"])
    reader = iter(fields for _, fields in records)
    header = [h.strip() for h in next(reader)]
    messages = []
    for column in header:
        if column not in schema:
            messages.append(f'sample sheet {path}: unknown column "{column}" (known: {", ".join(schema)})')
    for column, entry in schema.items():
        if entry.get("required") and column not in header:
            messages.append(f'sample sheet {path}: required column "{column}" is missing')
    seen = set()
    for column in header:
        if column in seen:
            messages.append(f'sample sheet {path}: column "{column}" appears twice')
        seen.add(column)
    if messages:
        raise SheetError(messages)

    rows = []
    first_row_of = {}
    for line_number, cells in enumerate(reader, start=2):
        where = f"sample sheet {path}, row {line_number - 1}"
        if len(cells) > len(header):
            hint = " (a comma-separated row? the sheet must be tab-separated)" if len(cells) == 1 else ""
            messages.append(f"{where}: {len(cells)} fields but the header has {len(header)}{hint}")
            continue
        if len(cells) == 1 and len(header) > 1 and "," in cells[0]:
            messages.append(f"{where}: no tab in the row; the sheet must be tab-separated (this row looks comma-separated)")
            continue
        row = {}
        for column, cell in zip(header, cells):
            cell = cell.strip()
            entry = schema[column]
            if cell == "":
                if entry.get("required"):
                    messages.append(f'{where}: "{column}" is empty')
                continue
            try:
                row[column] = PARSERS[entry["type"]](cell)
            except (ValueError, KeyError):
                messages.append(f'{where}: {column} "{cell}" is not {EXPECTED[entry["type"]]}')
                continue
            if "minimum" in entry and row[column] < entry["minimum"]:
                messages.append(f'{where}: {column} "{cell}" must be {entry["minimum"]} or more')
                del row[column]
        for column, entry in schema.items():
            if entry.get("required") and column in header and len(cells) < header.index(column) + 1:
                messages.append(f'{where}: "{column}" is empty')
        name = row.get("name")
        if name is not None:
            where = f"{where} ({name})"
            if not NAME_PATTERN.match(name) or name in RESERVED_NAMES:
                messages.append(f'{where}: name "{name}" must be letters, digits, "_", ".", "+", "-" and '
                                f"not one of {', '.join(sorted(RESERVED_NAMES))}")
            elif name in first_row_of:
                messages.append(f'{where}: name "{name}" is already used on row {first_row_of[name]}')
            else:
                first_row_of[name] = line_number - 1
        source = row.get("source")
        if source is not None:
            first = row.get("first", 1)
            frame = frame_path(source, first)
            if frame is None:
                messages.append(f'{where}: source "{source}" needs exactly one integer conversion such as '
                                f"%04d (or ^04d), or none for a TIFF stack")
            elif not os.path.isfile(frame):
                what = "file" if frame == source else f"frame {first}"
                messages.append(f'{where}: source "{source}": {what} "{frame}" does not exist')
        if "extra" in row:
            try:
                row["extra"] = shlex.split(row["extra"])
            except ValueError as e:
                messages.append(f'{where}: extra "{row["extra"]}" cannot be split into words ({e})')
            else:
                for word in row["extra"]:
                    if word in OWNED_OPTIONS:
                        messages.append(f"{where}: extra holds {word}, which the workflow gives itself "
                                        f"(from {OWNED_OPTIONS[word]}): leave it out")
        rows.append(row)
    if not rows and not messages:
        messages.append(f"sample sheet {path}: no series")
    if messages:
        raise SheetError(messages)
    return rows


def program_options(row, schema=None):
    """The program's options for one row, in schema order, then the extra words. -output is
    left to the caller."""
    schema = schema or load_schema()
    words = []
    for column, entry in schema.items():
        option = entry.get("option")
        if not option or column not in row:
            continue
        value = row[column]
        if entry["type"] == "switch":
            if value:
                words.append(option)
        elif entry["type"] == "range":
            words += [option, value[0], value[1]]
        else:
            words += [option, str(value)]
    return words + list(row.get("extra", []))


# Job sizes. The program's working memory grows with the window (about 60 bytes a pixel
# measured, on about 120 MB for the program and the OpenCL runtime); both are taken about four
# times over. The program's check before a run also counts each thread's decoding cap (256 MiB),
# and refuses a -threads whose count exceeds the job's memory: the job asks for it too. Time grows with pixels times frames (about 1.4 s per megapixel-frame measured on
# a busy two-core machine), taken three times over, on a fixed start-up allowance.
MEMORY_BASE_MB = 512
MEMORY_BYTES_PER_PIXEL = 256
SECONDS_PER_MEGAPIXEL_FRAME = 2.0
TIME_BASE_MINUTES = 10
LARGE_FRAME_PIXELS = 1_000_000
DECODE_CAP_MB = 256


def job_resources(row):
    """threads, mem_mb and runtime (minutes) of a row's job; sheet columns win."""
    pixels = max(row.get("w", 1), 1) * max(row.get("h", 1), 1)
    frames = max(row.get("count", 1), 1)
    threads = row.get("threads", 4 if pixels >= LARGE_FRAME_PIXELS else 2)
    mem_mb = MEMORY_BASE_MB + math.ceil(pixels * MEMORY_BYTES_PER_PIXEL / 2**20) + threads * DECODE_CAP_MB
    runtime = TIME_BASE_MINUTES + math.ceil(pixels / 1e6 * frames * SECONDS_PER_MEGAPIXEL_FRAME * 3 / 60)
    return {
        "threads": threads,
        "mem_mb": row.get("mem_mb", mem_mb),
        "runtime": row.get("runtime", runtime),
    }


# Node sizes of a cluster, as "CPUSxMEMORY_MB" words separated by commas (the form kept in the
# environment for the jobs' own Snakemake), read from `sinfo -h -N -o "%c %m"`.
def parse_sinfo_nodes(text):
    """(cpus, mem_mb) of every distinct node size in sinfo's "%c %m" lines, largest first.
    Memory such as "24105+" (nodes of one line differing) counts as its lower bound."""
    sizes = set()
    for line in text.splitlines():
        parts = line.split()
        if len(parts) < 2:
            continue
        try:
            sizes.add((int(parts[0].rstrip("+")), int(parts[1].rstrip("+"))))
        except ValueError:
            continue
    return sorted(sizes, reverse=True)


def format_nodes(nodes):
    return ",".join(f"{cpus}x{mem_mb}" for cpus, mem_mb in nodes)


def parse_nodes(text):
    nodes = []
    for word in text.split(","):
        cpus, _, mem_mb = word.strip().partition("x")
        nodes.append((int(cpus), int(mem_mb)))
    return nodes


def cpus_text(count):
    return f"{count} CPU" + ("s" if count != 1 else "")


def fit_to_nodes(row, resources, nodes):
    """A row's job sizes fitted to a cluster's nodes [(cpus, mem_mb), ...]. Sizes derived from
    the frame size are capped at the largest node's; sizes the sheet gives are kept. Returns
    (resources, None), or (resources, message) when no node holds the job, the message naming
    what the row asks and what the largest nodes offer."""
    if not nodes:
        return resources, None
    fitted = dict(resources)
    for key, index in (("threads", 0), ("mem_mb", 1)):
        if key not in row:
            fitted[key] = min(fitted[key], max(node[index] for node in nodes))
    if any(fitted["threads"] <= cpus and fitted["mem_mb"] <= mem_mb for cpus, mem_mb in nodes):
        return fitted, None
    asked = [cpus_text(fitted["threads"]) + (" (threads column)" if "threads" in row else ""),
             f"{fitted['mem_mb']} MiB" + (" (mem_mb column)" if "mem_mb" in row else "")]
    offers = " or ".join(f"{cpus_text(cpus)} and {mem_mb} MiB" for cpus, mem_mb in nodes)
    return fitted, f"asks for {' and '.join(asked)}, more than any node of the cluster offers ({offers})"
