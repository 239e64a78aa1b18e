#!/usr/bin/env python3
"""Plausible one-line slips in one subsystem's code, and whether its own tests notice them.

    tools/mutants.py SUBSYSTEM [--count N] [--seed S] [--build DIR] [--file PATH ...]

Each mutant changes one line of src/SUBSYSTEM/ the way a tired developer would: a comparison
loosened or tightened (< for <=, > for >=, == for !=), a sign or an operator flipped (+ for -,
&& for ||), a negation dropped, a small constant moved by one, true for false, or an
assignment or call statement skipped. The script applies one mutant at a time, rebuilds the
subsystem's test program (test_SUBSYSTEM, and the tool when the subsystem is the tool),
runs it, and restores the line. A mutant is killed when the build's tests fail, survives
when they pass; one that does not compile is not counted. The file is restored after each
mutant and on Ctrl-C, so the tree is left as it was.

The survivors are printed with file, line and change: for each, either the slip is harmless
(an equivalent mutant: say why in your review) or a test of behaviour is missing.
Expect about a minute per mutant on a 2-core machine.
"""

import argparse
import os
import random
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (pattern, replacement, description); each applies to one occurrence on a line. Binary
# operators stand between spaces in formatted code, which keeps template brackets, rvalue
# references, operator declarations and stream shifts out of the comparisons.
BINARY = r"(?<=\s){}(?=\s|$)"
OPERATORS = [
    (BINARY.format("<="), "<=", "<", "<= to <"),
    (BINARY.format("<"), "<", "<=", "< to <="),
    (BINARY.format(">="), ">=", ">", ">= to >"),
    (BINARY.format(">"), ">", ">=", "> to >="),
    (BINARY.format("=="), "==", "!=", "== to !="),
    (BINARY.format("!="), "!=", "==", "!= to =="),
    (BINARY.format("&&"), "&&", "||", "&& to ||"),
    (BINARY.format(r"\|\|"), "||", "&&", "|| to &&"),
    (BINARY.format(r"\+"), "+", "-", "+ to -"),
    (BINARY.format("-"), "-", "+", "- to +"),
    (r"\+\+", "++", "--", "++ to --"),
    (BINARY.format(r"\+="), "+=", "-=", "+= to -="),
    (BINARY.format("-="), "-=", "+=", "-= to +="),
    (BINARY.format("<<=?"), "<<", ">>", "<< to >>"),
    (BINARY.format(">>=?"), ">>", "<<", ">> to <<"),
    (r"\btrue\b", "true", "false", "true to false"),
    (r"\bfalse\b", "false", "true", "false to true"),
    (r"!(?=[A-Za-z_(])", "!", "", "negation dropped"),
]
# A lone digit, not part of a name, a longer number or a floating literal's exponent.
SMALL_NUMBER = re.compile(r"(?<![\w.])(?<![eE][+-])([0-9])(?![\w.])")
# An array's size in its declaration: one more element is rarely a visible slip.
ARRAY_SIZE = re.compile(r"^\s*(?!return\b)[\w:<>,]+(?:\s+[\w:<>,]+)*[*&]?\s+\w+\[([0-9])\]\s*[=;{]")
STATEMENT = re.compile(r"^\s*[A-Za-z_][\w.\->\[\]]*(\s*[+\-*/|&]?=\s*[^=].*|\(.*\));\s*$")


def code_lines(path):
    """Line numbers worth mutating: code, not comments, includes or static asserts."""
    lines = open(path, encoding="utf-8").read().split("\n")
    wanted = []
    in_comment = False
    for number, line in enumerate(lines):
        stripped = line.strip()
        if in_comment:
            if "*/" in stripped:
                in_comment = False
            continue
        if stripped.startswith("/*"):
            in_comment = "*/" not in stripped
            continue
        if (not stripped or stripped.startswith("//") or stripped.startswith("#")
                or "static_assert" in stripped or "fprintf" in stripped
                or stripped.startswith("template")):
            continue
        wanted.append(number)
    return lines, wanted


def starts_statement(lines, numbers, at):
    """Whether code line `at` begins a statement: the code line before it ended one."""
    index = numbers.index(at)
    if index == 0:
        return True
    previous = lines[numbers[index - 1]].split("//")[0].rstrip()
    return previous.endswith((";", "{", "}", ":")) or previous == ""


def candidate_mutants(path):
    lines, numbers = code_lines(path)
    mutants = []
    for number in numbers:
        line = lines[number]
        code = line.split("//")[0]
        if code.count('"') % 2 == 1:
            continue
        # Never inside string or character literals.
        spans = [m.span() for m in re.finditer(r'"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)+\'', code)]
        def outside(at):
            return all(not (a <= at < b) for a, b in spans)
        for pattern, old, new, what in OPERATORS:
            for match in re.finditer(pattern, code):
                if not outside(match.start()):
                    continue
                at = match.start()
                mutated = code[:at] + new + code[at + len(old):]
                mutants.append((number, line, mutated + line[len(code):], what))
        declared = ARRAY_SIZE.match(code)
        for match in SMALL_NUMBER.finditer(code):
            if not outside(match.start()) or (declared and match.start() == declared.start(1)):
                continue
            value = int(match.group(1))
            mutated = code[:match.start()] + str(value + 1) + code[match.end():]
            mutants.append((number, line, mutated + line[len(code):], f"{value} to {value + 1}"))
        # A whole statement on one line: skipping part of a longer one would not compile.
        if (STATEMENT.match(code) and code.count("(") == code.count(")")
                and starts_statement(lines, numbers, number)
                and not code.strip().startswith(("return", "break", "continue"))):
            mutants.append((number, line, "", "statement skipped"))
    return mutants


def run(command, cwd, timeout):
    try:
        return subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("subsystem")
    parser.add_argument("--count", type=int, default=30)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--file", action="append", default=[],
                        help="mutate only these files (paths under src/)")
    parser.add_argument("--at", action="append", default=[],
                        help="only the mutants of this line, as FILE:LINE (to re-run a survivor)")
    parser.add_argument("--list", action="store_true",
                        help="print the mutants that would run, run none")
    parser.add_argument("--timeout", type=int, default=900, help="seconds a build may take")
    args = parser.parse_args()

    folder = os.path.join(ROOT, "src", args.subsystem)
    files = args.file or sorted(os.path.join(folder, f) for f in os.listdir(folder)
                                if f.endswith((".cpp", ".hpp")))
    files = [os.path.abspath(f) for f in files]
    pool = [(path, m) for path in files for m in candidate_mutants(path)]
    random.Random(args.seed).shuffle(pool)
    if args.at:
        wanted = {os.path.relpath(os.path.abspath(a.rsplit(":", 1)[0]), ROOT) + ":" +
                  a.rsplit(":", 1)[1] for a in args.at}
        pool = [(p, m) for p, m in pool if f"{os.path.relpath(p, ROOT)}:{m[0] + 1}" in wanted]
    if args.list:
        for path, (number, line, replacement, what) in pool[:args.count]:
            print(f"{os.path.relpath(path, ROOT)}:{number + 1}: {what}: {line.strip()}")
            print(f"    becomes: {replacement.strip() or '(nothing)'}")
        return 0

    targets = ["test_" + args.subsystem]
    if args.subsystem == "tool":
        targets.append("isocull")
    test_program = os.path.join(args.build, "test_" + args.subsystem)
    jobs = str(os.cpu_count() or 2)
    build = ["cmake", "--build", args.build, "-j", jobs, "--target"]
    # A mutant rebuilds the subsystem's library and its test program alone ("/fast": without
    # their dependencies), so that a slip in a widely included header does not rebuild every
    # subsystem above it. The libraries above keep the unmutated code; the subsystem's own
    # test program is the one judged.
    # "/fast" skips the step that gathers the compiler's header dependencies, so that step is
    # run first: without it a slip in a header would not be rebuilt at all.
    makefile = open(os.path.join(args.build, "Makefile"), encoding="utf-8").read()
    own = [f"isocull_{args.subsystem}"] + targets
    if all(f"\n{t}/fast:" in makefile for t in own):
        steps = [["make", "-s", "-f", f"CMakeFiles/{t}.dir/build.make", f"CMakeFiles/{t}.dir/depend"]
                 for t in own]
        # One at a time, the library first: "/fast" targets built together race, and a program
        # linked before its library is archived again would be judged on the code before.
        steps += [["cmake", "--build", ".", "-j", jobs, "--target", t + "/fast"] for t in own]
    else:
        steps = [["cmake", "--build", ".", "-j", jobs, "--target"] + targets]

    def build_mutant():
        return all(run(step, args.build, args.timeout) == 0 for step in steps)

    # The unmutated tree must build and pass, or every mutant would look killed; its run time
    # bounds a mutant's run (a slip may make the tests loop forever).
    if run(build + targets, ROOT, args.timeout) != 0:
        print(f"the unmutated tree does not build {' '.join(targets)}", file=sys.stderr)
        return 2
    began = time.monotonic()
    if run([test_program], args.build, args.timeout) != 0:
        print(f"{test_program} fails on the unmutated tree", file=sys.stderr)
        return 2
    test_timeout = max(60.0, 10 * (time.monotonic() - began))

    killed = survived = broken = 0
    survivors = []
    original = {}

    def restore(*_):
        for path, text in original.items():
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
        original.clear()

    signal.signal(signal.SIGINT, lambda *a: (restore(), sys.exit(130)))
    signal.signal(signal.SIGTERM, lambda *a: (restore(), sys.exit(143)))
    for path, (number, line, replacement, what) in pool:
        if killed + survived >= args.count:
            break
        text = open(path, encoding="utf-8").read()
        original[path] = text
        lines = text.split("\n")
        lines[number] = replacement
        with open(path, "w", encoding="utf-8") as out:
            out.write("\n".join(lines))
        try:
            began = time.monotonic()
            if not build_mutant():
                broken += 1
                continue
            result = run([test_program], args.build, test_timeout)
            where = f"{os.path.relpath(path, ROOT)}:{number + 1}: {what}: {line.strip()}"
            seconds = f"({time.monotonic() - began:.0f} s)"
            if result == 0:
                survived += 1
                survivors.append(where)
                print("survived", where, seconds, flush=True)
            else:
                killed += 1
                print("killed  ", where, "(timed out)" if result == -1 else "", seconds,
                      flush=True)
        finally:
            restore()
    # Leave the build as the tree is.
    run(build + targets, ROOT, args.timeout)
    total = killed + survived
    share = 100.0 * killed / total if total else 0.0
    print(f"\n{args.subsystem}: {killed} of {total} mutants killed ({share:.0f} %), "
          f"{broken} did not compile")
    for where in survivors:
        print("  survivor", where)
    return 0 if total == 0 or killed * 10 >= total * 9 else 1


if __name__ == "__main__":
    sys.exit(main())
