"""check_record.py PASSES_CSV RESULTS_TXT: reads a per-pass record with the csv
module and compares it value for value with the series' results file, which
writes "%.6g", "nan" for a missing value and 0 for an unmeasured HDMI delay.
Prints "ok N" (N rows) or the first difference."""
import csv
import datetime
import sys

COLUMNS = ["pass", "time", "src2rf_ms", "src2hd", "src2snk_ms", "start_repeats",
           "failed_acquisitions", "tsrc_s", "trf_s", "tsnk_s", "outlier"]
DELAYS = ["src2rf_ms", "src2hd", "src2snk_ms"]


def fail(why):
    print(why)
    sys.exit(1)


def main(record_path, results_path):
    with open(record_path, newline="", encoding="utf-8") as f:
        lines = f.readlines()
    header = {}
    for line in lines:
        if not line.startswith("# "):
            break
        key, _, value = line[2:].rstrip("\n").partition(": ")
        header[key] = value
    reader = csv.DictReader(line for line in lines if not line.startswith("#"))
    rows = list(reader)
    if reader.fieldnames != COLUMNS or not lines[-1].startswith("# outliers: "):
        fail("columns %r, last line %r" % (reader.fieldnames, lines[-1]))

    with open(results_path, encoding="utf-8") as f:
        results = f.read().split("\n")
    values = {name: results[2 * k].split(":", 1)[1].split() for k, name in enumerate(DELAYS)}
    if any(len(v) != len(rows) for v in values.values()):
        fail("%d rows, results file %r" % (len(rows), {k: len(v) for k, v in values.items()}))

    hdmi = header.get("hdmi_measurement") == "on"
    for i, row in enumerate(rows):
        if int(row["pass"]) != i + 1:
            fail("row %d is pass %s" % (i + 1, row["pass"]))
        datetime.datetime.fromisoformat(row["time"])
        for name in DELAYS:
            text = row[name]
            want = values[name][i]
            if name == "src2hd" and not hdmi:
                got = "0" if text == "" else "measured: " + text
            else:
                got = "nan" if text == "" else "%.6g" % float(text)
            if got != want:
                fail("pass %d %s: record %r, results file %r" % (i + 1, name, text, want))
        for name in row["outlier"].split():
            if name not in DELAYS:
                fail("pass %d: outlier %r" % (i + 1, name))
    print("ok %d" % len(rows))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
