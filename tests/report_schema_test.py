#!/usr/bin/env python3
"""The JSON report against the schema kept with the tool (cli/report.schema.json).

report_schema_test.py SCHEMA MANPAGE CLI [ARG...]: validates the man page's
example and the output of CLI --explain --json [ARG...].
report_schema_test.py SCHEMA -: validates one report read from stdin.
"""
import json
import re
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    print("skipped: needs python3-jsonschema")
    sys.exit(77)


def validate(validator, report, what):
    errors = sorted(validator.iter_errors(report), key=lambda e: list(e.path))
    for error in errors:
        print(f"FAIL {what}: {'/'.join(map(str, error.path))}: {error.message}")
    if not errors:
        print(f"ok   {what}")
    return not errors


def man_page_example(path):
    """The JSON between the page's json-example markers, roff escapes undone."""
    with open(path, encoding="utf-8") as page:
        text = page.read()
    found = re.search(r'\.\\" json-example-begin\n(.*?)\.\\" json-example-end', text, re.S)
    if found is None:
        raise SystemExit(f"FAIL no json-example markers in {path}")
    lines = [l for l in found.group(1).splitlines() if not l.startswith(".")]
    example = "\n".join(lines).replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")
    return json.loads(example)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    if sys.argv[2] == "-":
        return 0 if validate(validator, json.load(sys.stdin), "report from stdin") else 1
    ok = validate(validator, man_page_example(sys.argv[2]), "man page example")
    command = [sys.argv[3], "--explain", "--json"] + sys.argv[4:]
    output = subprocess.run(command, check=True, capture_output=True).stdout
    ok = validate(validator, json.loads(output), "this machine's report") and ok
    return 0 if ok else 1


sys.exit(main())
