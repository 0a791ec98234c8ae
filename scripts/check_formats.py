#!/usr/bin/python3
"""Judges what the program wrote in the formats of other monitoring stacks,
for scripts/test-formats.sh. Each command exits 0 when the text passes and
prints why not otherwise.

  check_formats.py checkmk FILE EXIT STATES PREFIX [details]
      Checkmk local lines: the grammar of the local checks' documentation,
      one line per service in the order SMTP, POP, IMAP, Lumicourt,
      Helmstead, connections with the states STATES (six digits), the worst
      of them EXIT; "details": every line of a made run has long output.
  check_formats.py prometheus FILE EXIT
      Prometheus text: both parsers of the Python client (text format 0.0.4
      and OpenMetrics) take it; LF, UTF-8 without BOM, no timestamps, every
      family's HELP and TYPE once, gauges named orvane_[a-z_]*, no label
      named instance, ends with "# EOF"; orvane_check_status is EXIT, and a
      run that could not be made (EXIT 3 without counts) has no counts.
  check_formats.py template TEMPLATE JSONFILE
      Every JSONPath of the Zabbix template finds a value in JSONFILE (null
      only where the run could not be made).
  check_formats.py scrape URL STOPFILE BADFILE
      Scrapes URL again and again until STOPFILE exists; a scrape without
      orvane_check_status, or with node_textfile_scrape_error other than 0,
      is bad (BADFILE is created at the first). Prints "scrapes N bad M".
"""
import json
import re
import sys
import time
import urllib.request

GROUPS = ["SMTP", "POP", "IMAP", "Lumicourt", "Helmstead", "connections"]
RANK = {"0": 0, "1": 1, "3": 2, "2": 3}  # CRITICAL above UNKNOWN above WARNING


def fail(message):
    print("check_formats.py: " + message)
    sys.exit(1)


def read_text(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xef\xbb\xbf"):
        fail(path + ": starts with a byte-order mark")
    if b"\r" in data:
        fail(path + ": holds CR")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        fail(path + ": not UTF-8: " + str(error))


# The documented grammar: state, one blank, the quoted name (no quotes in
# it), one blank, "-" or metrics name=value;warn;crit;min;max joined by "|",
# one blank, the text (which may not start with a blank; "\n" in it starts
# the long output).
METRIC = r"[A-Za-z_][A-Za-z0-9_]*=-?[0-9]+(?:\.[0-9]+)?(?:;[0-9.]*){0,4}"
LINE = re.compile(r'^(?P<state>[0-3]) "(?P<name>[^"\']+)" (?P<metrics>-|%s(?:\|%s)*) (?P<text>\S.*)$'
                  % (METRIC, METRIC))


def checkmk(path, exit_status, states, prefix, details=False):
    text = read_text(path)
    if not text.endswith("\n"):
        fail(path + ": the last line has no line end")
    lines = text[:-1].split("\n")
    if len(lines) != len(GROUPS):
        fail("%s: %d lines, not one per service" % (path, len(lines)))
    worst = "0"
    for line, group, state in zip(lines, GROUPS, states):
        match = LINE.match(line)
        if not match:
            fail("not a local check line: " + repr(line))
        name = (prefix + " " + group) if prefix else group
        if match.group("name") != name:
            fail("service %r where %r belongs" % (match.group("name"), name))
        if match.group("state") != state:
            fail("%s: state %s, not %s" % (name, match.group("state"), state))
        metrics, summary = match.group("metrics"), match.group("text")
        if state == "3" and exit_status == 3 and states == "333333" and metrics != "-":
            fail(name + ": a run that could not be made has no metrics")
        if details and metrics != "-" and "\\n" not in summary:
            fail(name + ": no long output")
        if RANK[state] > RANK[worst]:
            worst = state
    if int(worst) != exit_status:
        fail("the worst service is %s, the exit status %d" % (worst, exit_status))


def prometheus(path, exit_status):
    from prometheus_client.openmetrics.parser import text_string_to_metric_families as openmetrics
    from prometheus_client.parser import text_string_to_metric_families as classic

    text = read_text(path)
    if not text.endswith("# EOF\n"):
        fail(path + ": does not end with '# EOF' and a line feed")
    try:
        families = {
            "text 0.0.4": list(classic(text)),
            "OpenMetrics": list(openmetrics(text)),
        }
    except Exception as error:  # either parser's refusal
        fail("%s: refused by a parser: %s" % (path, error))
    for kind, parsed in families.items():
        names = [family.name for family in parsed]
        if len(names) != len(set(names)):
            fail("%s (%s): a family twice: %s" % (path, kind, names))
        series = set()
        for family in parsed:
            if family.type != "gauge" or not re.fullmatch(r"orvane_[a-z_]+", family.name):
                fail("%s: family %s of type %s" % (kind, family.name, family.type))
            for sample in family.samples:
                if sample.timestamp is not None:
                    fail("%s: %s has a timestamp" % (kind, sample.name))
                if "instance" in sample.labels:
                    fail("%s: %s has a label instance" % (kind, sample.name))
                key = (sample.name, tuple(sorted(sample.labels.items())))
                if key in series:
                    fail("%s: %s twice" % (kind, key))
                series.add(key)
        status = [s.value for f in parsed for s in f.samples if s.name == "orvane_check_status"]
        if status != [exit_status]:
            fail("%s: orvane_check_status %s, exit status %d" % (kind, status, exit_status))
        counts = [s for f in parsed for s in f.samples if s.name == "orvane_connections"]
        if exit_status == 3 and "This run: Unknown - " in text and counts:
            fail("%s: counts of a run that could not be made" % kind)
    for line in text.splitlines():
        if line.startswith("# HELP ") or line.startswith("# TYPE "):
            continue
        if line.startswith("#") and line != "# EOF":
            fail("a comment other than HELP, TYPE and EOF: " + line)


def json_path(document, path):
    """The subset the template uses: $.key.key and $['key']."""
    value = document
    for dotted, quoted in re.findall(r"\.([A-Za-z_][A-Za-z0-9_]*)|\['([^']*)'\]", path[1:]):
        value = value[dotted or quoted]
    return value


def template(template_path, json_file):
    import yaml

    document = json.loads(read_text(json_file))
    paths = []
    for item in yaml.safe_load(open(template_path))["zabbix_export"]["templates"][0]["items"]:
        for step in item.get("preprocessing", []):
            if step["type"] == "JSONPATH":
                paths.append((step["parameters"][0], step.get("error_handler")))
    if len(paths) < 5:
        fail("only %d JSONPaths in %s" % (len(paths), template_path))
    made = document["reason"] is None
    for path, handler in paths:
        try:
            value = json_path(document, path)
        except (KeyError, TypeError):
            fail("%s finds nothing in %s" % (path, json_file))
        if value is None and (made or handler != "DISCARD_VALUE"):
            fail("%s is null and the item does not pass over it" % path)


def scrape(url, stop_file, bad_file):
    import os

    scrapes = bad = 0
    while not os.path.exists(stop_file):
        try:
            body = urllib.request.urlopen(url, timeout=10).read().decode()
        except OSError as error:
            fail("scrape of %s failed: %s" % (url, error))
        scrapes += 1
        lines = body.splitlines()
        if not any(line.startswith("orvane_check_status ") for line in lines) or \
                "node_textfile_scrape_error 0" not in lines:
            bad += 1
            open(bad_file, "w").close()
        time.sleep(0.001)
    print("scrapes %d bad %d" % (scrapes, bad))


if __name__ == "__main__":
    command, arguments = sys.argv[1], sys.argv[2:]
    if command == "checkmk":
        checkmk(arguments[0], int(arguments[1]), arguments[2], arguments[3],
                len(arguments) > 4 and arguments[4] == "details")
    elif command == "prometheus":
        prometheus(arguments[0], int(arguments[1]))
    elif command == "template":
        template(arguments[0], arguments[1])
    elif command == "scrape":
        scrape(*arguments)
    else:
        fail("no command " + command)
