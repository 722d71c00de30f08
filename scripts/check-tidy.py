#!/usr/bin/env python3
"""Runs clang-tidy-15 over the product code of a build; non-zero exit on any finding.

Usage: check-tidy.py <build dir> <jobs>

The checks spend most of their time matching in the Qt and standard headers, which every
source parses again. So the sources of each target are checked together, included one after
another by a generated file that compiles with the target's own flags from the build's
compile_commands.json; a finding still names the source and line it is about. A target whose
sources do not compile as one (two of them define the same internal name) is checked source
by source instead.
"""
import concurrent.futures
import json
import os
import re
import shlex
import subprocess
import sys

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT_CODE = "^" + re.escape(SOURCE_DIR) + "/(src|tools|modules|sdk)/"
DIAGNOSTIC = re.compile(r"^(/\S+?):\d+:\d+: (?:error|warning): .*\[([\w.-]+)[,\]]")



def target_flags(entry):
    """The compile command without its output and source: the same for one target's sources."""
    words = shlex.split(entry["command"])
    flags, skip = [], False
    for word in words:
        if skip:
            skip = False
        elif word in ("-o", "-c"):
            skip = True
        else:
            flags.append(word)
    target = re.search(r"([^/]+)\.dir/", words[words.index("-o") + 1]).group(1)
    return entry["directory"], tuple(flags), target


def grouped_entries(build_dir):
    with open(os.path.join(build_dir, "compile_commands.json"), encoding="utf-8") as database:
        entries = json.load(database)
    groups, seen = {}, set()
    for entry in entries:
        # A source built into two targets (main.cpp of a test double) is checked once.
        if re.match(PRODUCT_CODE, entry["file"]) and entry["file"] not in seen:
            seen.add(entry["file"])
            groups.setdefault(target_flags(entry), []).append(entry)
    return groups


def write_database(tidy_dir, entries):
    with open(os.path.join(tidy_dir, "compile_commands.json"), "w", encoding="utf-8") as file:
        json.dump(entries, file, indent=1)
    return tidy_dir


def unity_entry(tidy_dir, group, entries):
    directory, flags, target = group
    unit = os.path.join(tidy_dir, target + ".cpp")
    with open(unit, "w", encoding="utf-8") as file:
        file.writelines(f'#include "{entry["file"]}"\n' for entry in entries)
    return {"directory": directory, "command": shlex.join(list(flags) + ["-c", unit]), "file": unit}


def tidy(database_dir, source):
    # -Wno-error: the compiler's own warnings are the build's business, not the checks'.
    command = ["clang-tidy-15", "-quiet", "-p", database_dir, "--extra-arg=-Wno-error",
               "--config-file=" + os.path.join(SOURCE_DIR, ".clang-tidy"),
               "-header-filter=" + PRODUCT_CODE, source]
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    output = re.sub(r"(?m)^\d+ warnings?( and \d+ errors?)? generated\.\n", "", result.stdout)
    return result.returncode, output


def tolerated(path, check):
    """A finding in a generated file: they include sources by design."""
    return not re.match(PRODUCT_CODE, path)


def without_tolerated(output):
    """The output without tolerated findings; whether any was left out; whether any remains."""
    kept, keep, left_out, remaining = [], True, False, False
    for line in output.splitlines(keepends=True):
        diagnostic = DIAGNOSTIC.match(line)
        if diagnostic:
            keep = not tolerated(*diagnostic.groups())
            left_out, remaining = left_out or not keep, remaining or keep
        if keep:
            kept.append(line)
    return "".join(kept), left_out, remaining


def check(unity_dir, single_dir, group, entries):
    """(status, output) of each clang-tidy run that covers these sources of one target."""
    status, output = tidy(unity_dir, unity_entry(unity_dir, group, entries)["file"])
    failing = set(re.findall(r"(?m)^(/\S+?):\d+:\d+: error: .*\[clang-diagnostic-error\]$", output))
    # A library header that clang rejects (qpdf's JSON.hh in C++20) fails every source that
    # includes it alike: checking them one by one would only repeat it.
    if not any(re.match(PRODUCT_CODE, path) for path in failing) or len(entries) == 1:
        return [(status, output)]
    # The source where the compiler stopped (a name its predecessor defined too) goes alone.
    rest = [entry for entry in entries if entry["file"] not in failing]
    alone = [entry for entry in entries if entry["file"] in failing]
    if not alone or not rest:
        return [tidy(single_dir, entry["file"]) for entry in entries]
    return check(unity_dir, single_dir, group, rest) + [tidy(single_dir, entry["file"]) for entry in alone]


def main():
    build_dir, jobs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    unity_dir = os.path.join(build_dir, "tidy")
    single_dir = os.path.join(unity_dir, "single")
    os.makedirs(single_dir, exist_ok=True)
    groups = grouped_entries(build_dir)
    write_database(unity_dir, [unity_entry(unity_dir, group, entries) for group, entries in groups.items()])
    write_database(single_dir, [entry for entries in groups.values() for entry in entries])
    failed = False
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for results in pool.map(lambda item: check(unity_dir, single_dir, *item), groups.items()):
            for status, output in results:
                output, left_out, remaining = without_tolerated(output)
                sys.stdout.write(output)
                failed = failed or remaining or (status != 0 and not left_out)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
