#!/usr/bin/env python3
"""Starts a command as systemd's user manager starts a user service at
login: with the environment its user environment generators make.

Generators come from the given folders (for one file name the earlier
folder wins, as /etc wins over /usr), run in name order, each with the
environment made so far; their output is read as the manager reads it:
NAME=value lines, double and single quotes and backslashes as in
environment files. LD_PRELOAD of the caller is not passed on: a new login
starts without it.

  user_manager_env.py DIR [DIR...] -- COMMAND [ARGS...]
"""
import os
import subprocess
import sys

ESCAPED_IN_DOUBLE_QUOTES = '"\\`$'


def parse_value(text):
    """One value of an environment file line, as systemd's reader takes it."""
    value, i, quote = [], 0, None
    text = text.strip()
    while i < len(text):
        c = text[i]
        if quote == "'":
            if c == "'":
                quote = None
            else:
                value.append(c)
        elif quote == '"':
            if c == '"':
                quote = None
            elif c == "\\" and i + 1 < len(text):
                i += 1
                if text[i] not in ESCAPED_IN_DOUBLE_QUOTES:
                    value.append("\\")
                value.append(text[i])
            else:
                value.append(c)
        elif c in "'\"":
            quote = c
        elif c == "\\" and i + 1 < len(text):
            i += 1
            value.append(text[i])
        else:
            value.append(c)
        i += 1
    return "".join(value)


def generators(folders):
    found = {}
    for folder in folders:
        if not os.path.isdir(folder):
            continue
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if name not in found and os.path.isfile(path) and os.access(path, os.X_OK):
                found[name] = path
    return [found[name] for name in sorted(found)]


def main():
    if "--" not in sys.argv:
        print(__doc__, file=sys.stderr)
        return 2
    split = sys.argv.index("--")
    folders, command = sys.argv[1:split], sys.argv[split + 1:]
    environment = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    for generator in generators(folders):
        result = subprocess.run([generator], env=environment, capture_output=True, text=True, timeout=30)
        sys.stderr.write(result.stderr)
        for line in result.stdout.splitlines():
            line = line.strip()
            if not line or line.startswith("#") or "=" not in line:
                continue
            name, value = line.split("=", 1)
            environment[name.strip()] = parse_value(value)
    os.execvpe(command[0], command, environment)


if __name__ == "__main__":
    sys.exit(main())
