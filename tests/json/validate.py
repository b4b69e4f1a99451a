"""validate.py SCHEMA FILE... - every file holds one JSON document of the tool; each must match
the schema. Prints the first mismatch of each file that does not; exit 1 if any. Exit 77 when
the jsonschema package is missing."""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("json contract: python3-jsonschema is missing (skipped)")
    sys.exit(77)

schema = json.load(open(sys.argv[1]))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for path in sys.argv[2:]:
    try:
        doc = json.load(open(path))
    except ValueError as e:
        bad += 1
        print("%s: not one JSON document (%s)" % (path, e))
        continue
    errors = sorted(validator.iter_errors(doc), key=lambda e: list(e.path))
    if errors:
        bad += 1
        print("%s: %s (at %s)" % (path, errors[0].message, list(errors[0].path)))
print("json contract: %d documents, %d do not match" % (len(sys.argv) - 2, bad))
sys.exit(1 if bad else 0)
