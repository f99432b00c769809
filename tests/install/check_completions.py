#!/usr/bin/env python3
"""The bash and zsh completions of quorvane-cli, against the program itself.

1. The options each completion knows, per command, are the options `quorvane-cli [COMMAND]
   --help` lists, with an argument exactly where the help shows one; the sources, formats and
   sub-commands are those the help names.
2. What each shell offers on a table of command lines, in a folder holding a list file and a
   folder.

    check_completions.py --cli build/src/cli/quorvane-cli --completions data/completions
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def run_help(cli, command=None):
    args = [cli] + ([command] if command else []) + ["--help"]
    return subprocess.run(args, capture_output=True, text=True, check=True).stdout


def help_options(text):
    """{spelling: takes an argument} from the help's Options: section."""
    options = {}
    in_options = False
    for line in text.splitlines():
        if line.strip() == "Options:":
            in_options = True
            continue
        if in_options and line and not line.startswith(" "):
            break
        m = re.match(r"^  (?:(-\w), )?(--[\w-]+)( <[^>]*>)?", line) if in_options else None
        if m:
            for name in (m.group(1), m.group(2)):
                if name:
                    options[name] = bool(m.group(3))
    return options


def help_section(text, heading):
    """The names an indented section of the help lists: "  name, name   what it is"."""
    names = []
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(heading):
            for entry in lines[i + 1:]:
                if not entry.startswith("  "):
                    break
                m = re.match(r"^  (\w[\w-]*(?:, \w[\w-]*)*)(?:\s{2,}|\s+[A-Z\[]|$)", entry)
                if m:
                    names += m.group(1).split(", ")
            break
    return names


def bash_tables(path):
    text = open(path, encoding="utf-8").read()
    block = re.search(r"_quorvane_cli_options='(.*?)'", text, re.S).group(1)
    options = {}  # command -> {spelling: takes an argument}
    for line in block.strip().splitlines():
        entry, _, kind = line.partition(":")
        command, *names = entry.split()
        for name in names:
            options.setdefault(command, {})[name] = bool(kind.strip())
    values = {
        key: re.search(r"_quorvane_cli_%s='([^']*)'" % key, text).group(1).split()
        for key in ("sources", "formats")
    }
    return options, values


def zsh_tables(path):
    text = open(path, encoding="utf-8").read()
    block = re.search(r"local -a options=\((.*?)\n\)", text, re.S).group(1)
    options = {}
    for entry in re.findall(r"'([^']*)'", block):
        command, names, kind, _ = entry.split("|")
        for name in names.split():
            options.setdefault(command, {})[name] = bool(kind)
    values = {
        key: re.search(r"local -a %s=\(([^)]*)\)" % key, text).group(1).split()
        for key in ("sources", "formats")
    }
    return options, values


def for_command(options, command):
    """The options a command takes: its own and those of every command ("*")."""
    return {**options.get("*", {}), **options.get(command, {})}


BASH_DRIVER = r"""
source /usr/share/bash-completion/bash_completion
source "$1"
line=$2
COMP_LINE=$line
COMP_POINT=${#line}
read -ra COMP_WORDS <<<"$line"
[[ $line == *' ' ]] && COMP_WORDS+=('')
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_quorvane_cli quorvane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
printf '%s\n' "${COMPREPLY[@]}"
"""


def offered_by_bash(completions, line, cwd):
    out = subprocess.run(
        ["bash", "-c", BASH_DRIVER, "bash", os.path.join(completions, "quorvane-cli.bash"), line],
        capture_output=True, text=True, cwd=cwd, timeout=30, check=True).stdout
    return {w.rstrip("/") for w in out.splitlines() if w}


def offered_by_zsh(completions, line, cwd):
    dump = os.path.join(cwd, ".zcompdump")
    out = subprocess.run(
        ["zsh", "-f", os.path.join(HERE, "zsh_complete.zsh"), completions, line, dump],
        capture_output=True, text=True, cwd=cwd, timeout=30, check=True).stdout
    return {w.rstrip("/") for w in out.splitlines() if w}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--completions", required=True)
    args = parser.parse_args()
    args.completions = os.path.abspath(args.completions)
    args.cli = os.path.abspath(args.cli)
    failures = []

    main_help = run_help(args.cli)
    commands = help_section(main_help, "Sub-commands")
    sources = help_section(main_help, "Sources")
    formats = help_section(main_help, "Formats")
    wanted = {"lookup": help_options(main_help)}
    for command in commands:
        wanted[command] = help_options(run_help(args.cli, command))
    if not sources or not formats or not wanted["lookup"]:
        failures.append("the help's options, sources or formats could not be read")

    shells = {
        "bash": (bash_tables(os.path.join(args.completions, "quorvane-cli.bash")), offered_by_bash),
        "zsh": (zsh_tables(os.path.join(args.completions, "_quorvane-cli")), offered_by_zsh),
    }

    # 1. The lists agree with the help.
    for shell, ((options, values), _) in shells.items():
        known = sorted(c for c in options if c not in ("*", "lookup"))
        if known != sorted(commands):
            failures.append(f"{shell}: sub-commands {known}, the help names {sorted(commands)}")
        for command, help_opts in wanted.items():
            have = for_command(options, command)
            for name in sorted(set(help_opts) - set(have)):
                failures.append(f"{shell}: {command} option {name} missing")
            for name in sorted(set(have) - set(help_opts)):
                failures.append(f"{shell}: {command} option {name} is not in the help")
            for name in sorted(set(have) & set(help_opts)):
                if have[name] != help_opts[name]:
                    failures.append(f"{shell}: {command} option {name}: argument "
                                    f"{'expected' if help_opts[name] else 'not taken'}")
        for key, names in (("sources", sources), ("formats", formats)):
            if values[key] != names:
                failures.append(f"{shell}: {key} {values[key]}, the help names {names}")

    # 2. What each shell offers: (line, offered, not offered, offered is the whole answer), in
    # a folder holding a list file and a folder.
    everything = set(wanted["lookup"])
    cases = [
        ("quorvane-cli --so", {"--source"}, {"--header"}, True),
        ("quorvane-cli --source ", set(sources), set(formats) | {"list.txt"}, True),
        ("quorvane-cli -f ", set(formats), set(sources), True),
        ("quorvane-cli --output ", {"list.txt"}, everything, False),
        ("quorvane-cli --save-answers ", {"answers"}, {"list.txt"} | everything, False),
        ("quorvane-cli ", {"list.txt"} | set(commands), everything, False),
        ("quorvane-cli --delay ", set(), {"list.txt"} | set(sources), True),
        ("quorvane-cli -", everything, {"list.txt"}, False),
    ]
    for command, options in wanted.items():
        if command != "lookup":
            others = everything - set(options)
            cases.append((f"quorvane-cli {command} -", set(options), others, False))
    with tempfile.TemporaryDirectory() as folder:
        open(os.path.join(folder, "list.txt"), "w").close()
        os.mkdir(os.path.join(folder, "answers"))
        # (zsh's compinit dump goes there too, as a hidden file no case offers)
        for shell, (_, offered_by) in shells.items():
            for line, offered, refused, whole in cases:
                got = offered_by(args.completions, line, folder)
                if whole and got != offered:
                    failures.append(f"{shell}: [{line}] offers {sorted(got)}, "
                                    f"expected {sorted(offered)}")
                    continue
                if offered - got:
                    failures.append(f"{shell}: [{line}] does not offer {sorted(offered - got)}")
                if got & refused:
                    failures.append(f"{shell}: [{line}] offers {sorted(got & refused)}")

    for failure in failures:
        print(failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
