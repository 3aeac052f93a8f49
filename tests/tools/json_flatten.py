"""Parses one JSON document (argv[1]) strictly and prints it flattened.

Each scalar becomes a line "path=value", the path made of member names and
array indexes joined by '.', the value in compact JSON; empty arrays and
objects print as [] and {}. Exits 1 when the text is not exactly one JSON
document.
"""
import json
import sys


def reject_constant(name):
    raise ValueError("not JSON: " + name)


def walk(value, path, out):
    if isinstance(value, dict) and value:
        for key, item in value.items():
            walk(item, path + [key], out)
    elif isinstance(value, list) and value:
        for index, item in enumerate(value):
            walk(item, path + [str(index)], out)
    else:
        out.append(".".join(path) + "=" + json.dumps(value, ensure_ascii=False, separators=(",", ":")))


def main():
    try:
        doc = json.loads(sys.argv[1], parse_constant=reject_constant)
    except ValueError as error:
        print("invalid JSON: %s" % error, file=sys.stderr)
        return 1
    lines = []
    walk(doc, [], lines)
    sys.stdout.write("".join(line + "\n" for line in lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
