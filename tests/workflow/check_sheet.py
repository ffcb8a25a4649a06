"""The sample sheet's reader on hand-written sheets, without Snakemake:
    check_sheet.py
Exit 77 (skipped) when PyYAML is missing."""

import os
import sys
import tempfile

try:
    import yaml  # noqa: F401
except ImportError as e:
    print(f"skipped: {e}")
    sys.exit(77)

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(REPO, "workflow", "scripts"))
import sheet as sample_sheet  # noqa: E402

HEADER = "name\tsource\tw\th\tcount\tthreshold\tsize"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print(f"FAIL: {what}")


def read(folder, text, binary=None):
    """(rows, None) or (None, messages) for a sheet of the given text."""
    path = os.path.join(folder, "sheet.tsv")
    with open(path, "wb") as f:
        f.write(binary if binary is not None else text.encode("utf-8"))
    try:
        return sample_sheet.read_sheet(path), None
    except sample_sheet.SheetError as e:
        return None, e.messages


def quoting_and_comments(folder, frames):
    # A quoted field holds a tab, a line end and a line starting with #; the rows after it stay.
    text = (f"# a comment before the header\n{HEADER}\textra\n"
            f'a\t{frames}\t64\t64\t5\t20\t56\t"-image\n# still extra\t-id"\n'
            "# a comment between rows, with a \"quote\n"
            f"b\t{frames}\t64\t64\t5\t20\t56\t\n"
            "\n"
            f'c\t"{frames}"\t64\t64\t5\t20\t56\t"-w ""64"""\n')
    rows, messages = read(folder, text)
    check(messages is None, f"a quoted sheet reads: {messages}")
    if rows:
        check([r["name"] for r in rows] == ["a", "b", "c"], f"no row is swallowed by a quoted # line: {rows}")
        check(rows[0]["extra"] == ["-image", "#", "still", "extra", "-id"], f"the quoted field is whole: {rows[0]}")
        check(rows[2]["source"] == frames and rows[2]["extra"] == ["-w", "64"], "quotes are removed, doubled ones kept")
    rows, messages = read(folder, f'{HEADER}\na\t"{frames}\t64\t64\t5\t20\t56\n')
    check(messages and "quote" in messages[0] and "line 2" in messages[0], f"an unclosed quote is named: {messages}")


def separators_and_encoding(folder, frames):
    rows, messages = read(folder, HEADER.replace("\t", ",") + f"\na,{frames},64,64,5,20,56\n")
    check(messages and len(messages) == 1 and "tab-separated" in messages[0], f"a comma sheet is named: {messages}")
    rows, messages = read(folder, None, b"\xef\xbb\xbf" + f"{HEADER}\na\t{frames}\t64\t64\t5\t20\t56\n".encode())
    check(messages and "byte-order mark" in messages[0], f"a byte-order mark is named: {messages}")
    rows, messages = read(folder, f"{HEADER}\na,{frames},64,64,5,20,56\nb\t{frames}\t64\t64\t5\t20\t56\n")
    check(messages and len(messages) == 1 and "row 1" in messages[0] and "tab-separated" in messages[0],
          f"a comma row under a tab header is named: {messages}")


def job_sizes_and_owned_options(folder, frames):
    header = f"{HEADER}\tthreads\tmem_mb\truntime\textra\n"
    rows, messages = read(folder, header + f"a\t{frames}\t64\t64\t5\t20\t56\t-2\t0\t-5\t\n")
    for column in ("threads", "mem_mb", "runtime"):
        check(messages and any(f'{column} "' in m and "1 or more" in m for m in messages),
              f"a {column} below 1 is refused: {messages}")
    rows, messages = read(folder, header + f"a\t{frames}\t64\t64\t5\t20\t56\t1\t1\t1\t\n")
    check(messages is None and rows[0]["threads"] == 1, f"job sizes of 1 pass: {messages}")
    for word in ("-output", "-ctc", "-source"):
        rows, messages = read(folder, header + f"a\t{frames}\t64\t64\t5\t20\t56\t\t\t\t-image {word} /tmp/x\n")
        check(messages and len(messages) == 1 and f"extra holds {word}" in messages[0],
              f"{word} in extra is refused: {messages}")
    rows, messages = read(folder, header + f"a\t{frames}\t64\t64\t5\t20\t56\t\t\t\t-image '-output-like'\n")
    check(messages is None, f"a word that only looks like an owned option passes: {messages}")
    # -ctc comes from the ctc column, as a switch the workflow turns into its own folder.
    rows, messages = read(folder, f"{HEADER}\tctc\na\t{frames}\t64\t64\t5\t20\t56\tyes\n")
    check(messages is None and rows[0]["ctc"] is True and "-ctc" not in sample_sheet.program_options(rows[0]),
          f"the ctc column is a switch the workflow owns: {messages or rows}")


def main():
    folder = tempfile.mkdtemp(prefix="vanto_sheet_")
    frames = os.path.join(folder, "frame_%04d.png")
    with open(frames % 1, "wb") as f:
        f.write(b"present")
    quoting_and_comments(folder, frames)
    separators_and_encoding(folder, frames)
    job_sizes_and_owned_options(folder, frames)
    if failures:
        print(f"{len(failures)} check(s) failed; files kept in {folder}")
        return 1
    print("all sheet checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
