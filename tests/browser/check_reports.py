#!/usr/bin/env python3
"""Renders the HTML reports of two example jobs in headless Chromium and checks the page.

    check_reports.py --textjob PATH --examples DIR --work DIR --artifacts DIR

For the plain report (examples/html_report) and the profiler report (examples/profile_report) it
runs the job, copies the report and its style sheet to a fresh folder, appends a script that
collects what the browser made of the page (table rows, headings, section titles, cell texts,
computed colours) into <pre id="result">, dumps the DOM with Chromium and checks the result. It
also saves a screenshot of each report as it is (without the script) into the artifacts folder.
"""

import argparse
import csv
import html
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile

CHROMIUM = "/usr/bin/chromium"
TIMEOUT = 60
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--hide-scrollbars",
]

# Heading cells: white text on #194676; data rows "rowon": #f0f0f0 (from marovind.css).
HEADING_BACKGROUND = "rgb(25, 70, 118)"
HEADING_COLOUR = "rgb(255, 255, 255)"
ROWON_BACKGROUND = "rgb(240, 240, 240)"
NBSP = "\u00a0"

# Runs in the page after the report: everything the checks need, as JSON in <pre id="result">.
COLLECT_SCRIPT = """
<script>
(function () {
  var tables = document.querySelectorAll('table');
  var table = tables[tables.length - 1];
  var rows = Array.prototype.map.call(table.rows, function (tr) {
    return {
      cls: tr.className,
      headings: Array.prototype.map.call(tr.querySelectorAll('th'), function (c) { return c.textContent; }),
      cells: Array.prototype.map.call(tr.querySelectorAll('td'), function (c) { return c.textContent; }),
      elementsInCells: Array.prototype.reduce.call(tr.querySelectorAll('td'), function (n, c) {
        return n + (c.classList.contains('subtitle') ? 0 : c.childElementCount); }, 0),
      subtitle: tr.querySelector('td.subtitle a[name]') ?
        [tr.querySelector('td.subtitle a[name]').name, tr.querySelector('td.subtitle a[name]').textContent] : null
    };
  });
  var th = table.querySelector('th');
  var dataCell = table.querySelector('tr.rowon td:not(.subtitle)');
  var index = Array.prototype.map.call(document.querySelectorAll('a[href^="#Lbl"]'), function (a) {
    var target = a.getAttribute('href').slice(1);
    return [target, a.textContent, document.getElementsByName(target).length];
  });
  var result = {
    title: document.title,
    pageTitle: (document.querySelector('td.pagetitle') || {}).textContent,
    date: document.querySelector('td.pagetitle') ? document.querySelector('td.pagetitle').nextElementSibling.textContent : null,
    styleSheets: document.styleSheets.length,
    headingBackground: th ? getComputedStyle(th).backgroundColor : null,
    headingColour: th ? getComputedStyle(th).color : null,
    dataRowBackground: dataCell ? getComputedStyle(dataCell.parentElement).backgroundColor : null,
    index: index,
    rows: rows,
    modern: (function () {
      var count = document.querySelector('.rowcount');
      var title = document.querySelector('td.pagetitle');
      var dataRows = table.querySelectorAll('tr.rowon');
      var cell = function (row, column) {
        return dataRows[row] ? dataRows[row].querySelectorAll('td')[column] : null; };
      return {
        rowCount: count ? count.textContent : null,
        countBelowTitle: !!(count && title && count.getBoundingClientRect().top >= title.getBoundingClientRect().bottom),
        countAboveTable: !!(count && count.getBoundingClientRect().bottom <= table.getBoundingClientRect().top),
        headingPosition: th ? getComputedStyle(th).position : null,
        headingTransform: th ? getComputedStyle(th).textTransform : null,
        numberAlign: cell(1, 5) ? getComputedStyle(cell(1, 5)).textAlign : null,
        textAlign: cell(1, 3) ? getComputedStyle(cell(1, 3)).textAlign : null,
        oddRowBackground: cell(1, 0) ? getComputedStyle(cell(1, 0)).backgroundColor : null,
        evenRowBackground: cell(2, 0) ? getComputedStyle(cell(2, 0)).backgroundColor : null
      };
    })()
  };
  var pre = document.createElement('pre');
  pre.id = 'result';
  pre.textContent = JSON.stringify(result);
  document.body.appendChild(pre);
})();
</script>
"""


class CheckFailed(Exception):
    pass


def run_bounded(command, **kwargs):
    """Runs a command in its own process group; kills the whole group after TIMEOUT seconds."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True, **kwargs)
    try:
        out, err = process.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise CheckFailed(f"timed out after {TIMEOUT} s: {' '.join(command)}")
    return process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")


def chromium(args, scratch):
    """Runs headless Chromium with a fresh profile folder; returns its standard output."""
    profile = tempfile.mkdtemp(prefix="profile-", dir=scratch)
    try:
        code, out, err = run_bounded([CHROMIUM, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", *args])
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    if code != 0:
        raise CheckFailed(f"chromium exited with {code}:\n{err[-2000:]}")
    return out


def run_example(textjob, examples, name, work, options=(), copy_name=None):
    """Runs examples/NAME/job.json on a copy of its folder; returns the copy's out/ folder."""
    copy = os.path.join(work, copy_name or name)
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(os.path.join(examples, name), copy,
                    ignore=shutil.ignore_patterns("out", "expected"))
    os.mkdir(os.path.join(copy, "out"))
    code, out, err = run_bounded([textjob, "run", "--quiet", os.path.join(copy, "job.json"), *options])
    if code != 0:
        raise CheckFailed(f"textjob failed on {name} with {code}:\n{out}{err}")
    return os.path.join(copy, "out")


def render(out_dir, report, work, screenshot):
    """Saves a screenshot of the report, then loads a copy with COLLECT_SCRIPT and returns its result."""
    url = "file://" + os.path.join(out_dir, report)
    chromium([f"--screenshot={screenshot}", "--window-size=1200,900", url], work)
    if not os.path.getsize(screenshot):
        raise CheckFailed(f"empty screenshot {screenshot}")

    page_dir = tempfile.mkdtemp(prefix="page-", dir=work)
    for name in (report, "marovind.css"):
        if os.path.exists(os.path.join(out_dir, name)):
            shutil.copy(os.path.join(out_dir, name), page_dir)
    with open(os.path.join(page_dir, report), "a", encoding="utf-8") as page:
        page.write(COLLECT_SCRIPT)
    dom = chromium(["--dump-dom", "file://" + os.path.join(page_dir, report)], work)
    found = re.search(r'<pre id="result">(.*?)</pre>', dom, re.S)
    if not found:
        raise CheckFailed(f"no result in the dumped page of {report}:\n{dom[-2000:]}")
    return json.loads(html.unescape(found.group(1)))


class Checker:
    def __init__(self, report):
        self.report = report
        self.failures = []

    def equal(self, what, got, expected):
        if got != expected:
            self.failures.append(f"{self.report}: {what}: expected {expected!r}, got {got!r}")

    def true(self, what, condition):
        if not condition:
            self.failures.append(f"{self.report}: {what}")


def check_common(check, page, title):
    check.equal("head title", page["title"], title)
    check.equal("page title cell", page["pageTitle"], title)
    check.true(f"date cell {page['date']!r} is 'Date: M/D/YYYY'",
               re.fullmatch(r"Date: [1-9]\d?/[1-9]\d?/\d{4}", page["date"] or ""))
    check.equal("style sheets loaded", page["styleSheets"], 1)
    check.equal("heading cell background", page["headingBackground"], HEADING_BACKGROUND)
    check.equal("heading cell text colour", page["headingColour"], HEADING_COLOUR)
    check.equal("data row background", page["dataRowBackground"], ROWON_BACKGROUND)
    for row in page["rows"]:
        check.equal(f"elements created inside the cells of {row['cells']}", row["elementsInCells"], 0)


def check_plain(page, examples):
    """The ticket report: one heading row, then one row per ticket, string values as in the CSV."""
    check = Checker("tickets.html")
    check_common(check, page, "Support tickets, first week of May")
    rows = page["rows"]
    headings = ["Ticket", "Opened", "Customer", "Subject", "Priority", "Hours spent", "Resolved"]
    check.equal("heading row", rows[0]["headings"] if rows else None, headings)
    check.equal("index links", page["index"], [])

    with open(os.path.join(examples, "html_report", "tickets.csv"), encoding="utf-8", newline="") as f:
        tickets = list(csv.DictReader(f))
    data = rows[1:]
    check.equal("data row count", len(data), len(tickets))
    check.true("the data has a value with < & ' \" and multi-byte characters",
               any("x<y & 'z'" in t["subject"] for t in tickets)
               and any('"' in t["subject"] for t in tickets)
               and any(ord(ch) > 0x7FF for t in tickets for ch in t["customer"] + t["subject"]))
    for number, (row, ticket) in enumerate(zip(data, tickets), 1):
        check.equal(f"row {number} class", row["cls"], "rowon")
        check.equal(f"row {number} headings", row["headings"], [])
        for column in ("ticket", "customer", "subject"):
            position = ["ticket", "opened", "customer", "subject"].index(column)
            shown = row["cells"][position] if len(row["cells"]) > position else None
            check.equal(f"row {number} {column}", shown, ticket[column] or NBSP)
    if len(data) >= 2:
        check.equal("typed cells of row 2", [data[1]["cells"][1], data[1]["cells"][5]],
                    ["2024-05-02 10:40:00", "0.25"])
        check.equal("empty boolean of row 5", data[-1]["cells"][6], NBSP)
    return check.failures


def check_modern(page):
    """The ticket report in the modern style: one file, its sheet inside, laid out as asked."""
    check = Checker("tickets.html, STYLE modern")
    modern = page["modern"]
    check.equal("style sheets (the page's own)", page["styleSheets"], 1)
    check.equal("row count text", modern["rowCount"], "5 rows")
    check.true("the row count is under the title", modern["countBelowTitle"])
    check.true("the row count is above the table", modern["countAboveTable"])
    check.equal("heading cells stay in view", modern["headingPosition"], "sticky")
    check.equal("headings as written", modern["headingTransform"], "none")
    check.equal("number column alignment", modern["numberAlign"], "right")
    check.equal("text column alignment", modern["textAlign"], "left")
    check.true(f"alternate rows shaded ({modern['oddRowBackground']} against "
               f"{modern['evenRowBackground']})",
               modern["oddRowBackground"] != modern["evenRowBackground"])
    rows = page["rows"]
    check.equal("heading row", rows[0]["headings"] if rows else None,
                ["Ticket", "Opened", "Customer", "Subject", "Priority", "Hours spent", "Resolved"])
    check.equal("data row count", len(rows) - 1, 5)
    return check.failures


def check_profile(page):
    """The profile report: four titled sections, each with a heading row, then its statistics."""
    check = Checker("sales_profile.html")
    check_common(check, page, "Sales, March: field profile")
    sections = [["Lbl0", "Record Count and Null Values"], ["Lbl1", "Numerical Analysis"],
                ["Lbl2", "Min/Max"], ["Lbl3", "Percentiles"]]
    check.equal("index links (target, text, anchors found)", page["index"],
                [[name, title, 1] for name, title in sections])

    headings = ["Statistic", "Region", "Product", "Units", "Amount", "Sold on", "Returned"]
    statistics = [["Records", "Nulls"], ["Count", "Sum", "Mean", "Standard deviation"],
                  ["Minimum", "Maximum"],
                  ["25th percentile", "50th percentile", "75th percentile", "90th percentile",
                   "99th percentile"]]
    # Expected layout, row by row: spacer (before sections 2-4), title, headings, statistics.
    expected = []
    for number, (section, names) in enumerate(zip(sections, statistics)):
        if number:
            expected.append(("spacer", None))
        expected.append(("title", section))
        expected.append(("headings", headings))
        expected.extend(("statistic", name) for name in names)
    got = []
    for row in page["rows"]:
        if row["subtitle"]:
            got.append(("title", row["subtitle"]))
        elif row["headings"]:
            got.append(("headings", row["headings"]))
        elif row["cls"] == "ROWOFF" and row["cells"] == [NBSP]:
            got.append(("spacer", None))
        else:
            got.append(("statistic", row["cells"][0] if row["cells"] else None))
    check.equal("row layout", [list(r) for r in got], [list(r) for r in expected])
    check.equal("row count", len(page["rows"]), 3 + 4 * 2 + 13)

    by_name = {row["cells"][0]: row["cells"] for row in page["rows"]
               if row["cells"] and not row["subtitle"] and row["cls"] == "rowon"}
    check.equal("Records", by_name.get("Records"), ["Records"] + ["10"] * 6)
    check.equal("Nulls", by_name.get("Nulls"), ["Nulls", "0", "0", "1", "2", "1", "1"])
    check.equal("Sum", by_name.get("Sum"), ["Sum", NBSP, NBSP, "40", "551.45", NBSP, NBSP])
    check.equal("Minimum", by_name.get("Minimum"),
                ["Minimum", "East", "Crème brûlée kit", "1", "18.4", "2024-03-01", "false"])
    check.equal("Maximum", by_name.get("Maximum"),
                ["Maximum", "West", "x<y & 'z' sampler box", "12", "191.4", "2024-03-08", "true"])
    return check.failures


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--textjob", required=True)
    parser.add_argument("--examples", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--artifacts", required=True)
    args = parser.parse_args()

    if not os.access(CHROMIUM, os.X_OK):
        print(f"FAIL: {CHROMIUM} not found. The browser check needs Debian's chromium package: "
              "run scripts/setup.sh (or apt-get install chromium).", file=sys.stderr)
        return 1

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    os.makedirs(args.artifacts, exist_ok=True)
    failures = []
    try:
        reports = [("html_report", "tickets.html", lambda page: check_plain(page, args.examples), ()),
                   ("profile_report", "sales_profile.html", check_profile, ()),
                   ("html_report", "tickets.html", check_modern, ("--set", "ticket report.STYLE=modern"))]
        for example, report, check, options in reports:
            name = example + ("_modern" if options else "")
            out_dir = run_example(args.textjob, args.examples, example, args.work, options, name)
            screenshot = os.path.join(args.artifacts, f"{name}.png")
            page = render(out_dir, report, args.work, screenshot)
            failures += check(page)
            print(f"{report}: {len(page['rows'])} table rows; screenshot {screenshot}")
    except CheckFailed as error:
        failures.append(str(error))

    for failure in failures:
        print("FAIL:", failure, file=sys.stderr)
    if not failures:
        print("OK: every report renders as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
