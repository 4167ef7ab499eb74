#!/usr/bin/env python3
"""The Home Assistant recipe: each sensor's command, run as written but on the
files the real logger wrote, and its value template on the command's output.

    home_assistant_test.py YAML DEMO_OUT

The YAML is parsed with PyYAML and the templates are rendered with Jinja2 when
they are installed (python3-yaml, python3-jinja2); without them the commands
are taken from the file's text and the readings checked on the raw output.
"""
import os
import re
import subprocess
import sys
import tempfile

recipe, demo = sys.argv[1], sys.argv[2]
SHIPPED_DIR = "/var/lib/kelvinlog/"

# What each sensor must read from the demo bus (see sim/scenarios/demo.txt):
# the value after its template, and the first line of its file.
EXPECTED = {
    "kelvinlog_kitchen_temperature": ("21.5", "21.500"),
    "kelvinlog_meter_counter": ("10000", "10000;100;0"),
    "kelvinlog_cellar_temperature": ("22.25", "22.250;50;45;10;0"),
    "kelvinlog_cellar_humidity": ("50", "22.250;50;45;10;0"),
    # The S0 count grows with every bus search: a whole number of Wh.
    "kelvinlog_garage_energy": (re.compile(r"^\d+$"), re.compile(r"^\d+$")),
}

failures = []


def check(what, expected, got):
    ok = expected.match(got) if isinstance(expected, re.Pattern) else expected == got
    if not ok:
        failures.append(f"{what}: expected {expected!r}, got {got!r}")


def sensors_from_yaml(text):
    import yaml  # noqa: PLC0415 - optional

    doc = yaml.safe_load(text)
    return [entry["sensor"] for entry in doc["command_line"]]


def sensors_from_text(text):
    """Fallback without PyYAML: unique_id and command of each sensor."""
    sensors = []
    for block in text.split("- sensor:")[1:]:
        fields = dict(re.findall(r'^\s+(\w+): "?(.*?)"?\s*$', block, re.M))
        sensors.append(fields)
    return sensors


def run(command, directory):
    """The command as Home Assistant runs it (a shell), on `directory`."""
    command = command.replace(SHIPPED_DIR, directory.rstrip("/") + "/")
    out = subprocess.run(command, shell=True, capture_output=True, text=True, timeout=10)
    if out.returncode != 0:
        failures.append(f"{command!r} failed: {out.stderr.strip()}")
    return out.stdout.strip()  # Home Assistant strips the output too


def render(template, value):
    try:
        import jinja2  # noqa: PLC0415 - optional
    except ImportError:
        return None
    return jinja2.Environment().from_string(template).render(value=value)


with open(recipe, encoding="utf-8") as f:
    text = f.read()
try:
    sensors = sensors_from_yaml(text)
except ImportError:
    print("PyYAML not installed: the file is not checked as YAML")
    sensors = sensors_from_text(text)

ids = [s.get("unique_id") for s in sensors]
if sorted(ids) != sorted(EXPECTED):
    failures.append(f"sensors {ids} instead of {sorted(EXPECTED)}")
for sensor in sensors:
    uid = sensor.get("unique_id")
    if uid not in EXPECTED:
        continue
    if SHIPPED_DIR not in sensor["command"]:
        failures.append(f"{uid}: the command does not read {SHIPPED_DIR}")
    want_value, want_line = EXPECTED[uid]
    line = run(sensor["command"], demo)
    check(f"{uid} command output", want_line, line)
    value = render(sensor.get("value_template", "{{ value }}"), line)
    if value is not None:
        check(f"{uid} value", want_value, value)
        # A value file caught empty while the logger rewrites it: no number, no error.
        check(f"{uid} value of an empty read", "None", render(sensor["value_template"], ""))

# A module's file has two lines: the command takes only the reading.
with tempfile.TemporaryDirectory() as d:
    with open(os.path.join(d, "Meterv.txt"), "w", encoding="utf-8") as f:
        f.write("12;3;1\ncounter [Wh]; consumption[Wh]; limit/LED\n")
    meter = next(s for s in sensors if s.get("unique_id") == "kelvinlog_meter_counter")
    check("meter command on a two-line file", "12;3;1", run(meter["command"], d))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
