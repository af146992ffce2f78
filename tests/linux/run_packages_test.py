#!/usr/bin/python3
"""Proves that the packages scripts/run installs suffice to configure and build
the Linux programs: configures and builds them as scripts/run does, in a folder
of its own, with every file opened and every program started recorded (strace);
maps each file to the Debian package it came from (dpkg's file lists); and
fails for any such package outside what installing scripts/run's list on a
fresh system brings: the list itself, what it depends on (first installed
choice of each alternative, as apt picks), and the packages every Debian system
has (essential or required). Files that belong to no package (the source, the
build, caches) are not judged.

    run_packages_test.py --source DIR --build DIR

Exit code 0 when every file came from that closure, 1 when one did not, 77
without strace or dpkg (skipped)."""
import argparse
import os
import re
import shutil
import subprocess
import sys

SKIPPED = 77
DPKG_INFO = "/var/lib/dpkg/info"
DPKG_STATUS = "/var/lib/dpkg/status"
# With the usr merge a file can be reached through either name, and dpkg lists one.
MERGED = ("/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32")


def run_list(source):
    script = f'source "{source}/scripts/lib.sh" >/dev/null && echo "${{RUN_PACKAGES[@]}}"'
    result = subprocess.run(["bash", "-c", script], capture_output=True, text=True, check=True)
    return result.stdout.split()


def bare(name):
    return name.split(":")[0].strip()


def installed_packages():
    """Every installed package: its fields as dpkg's status file has them."""
    packages = {}
    with open(DPKG_STATUS, encoding="utf-8", errors="replace") as status:
        for stanza in status.read().split("\n\n"):
            fields, last = {}, None
            for line in stanza.splitlines():
                if line.startswith((" ", "\t")) and last:
                    fields[last] += " " + line.strip()
                elif ":" in line:
                    last, value = line.split(":", 1)
                    fields[last] = value.strip()
            if "Package" in fields and fields.get("Status", "").endswith(" installed"):
                packages[fields["Package"]] = fields
    return packages


def closure(wanted, packages):
    providers = {}
    for name, fields in packages.items():
        for provided in fields.get("Provides", "").split(","):
            if provided.strip():
                providers.setdefault(bare(provided.split("(")[0]), []).append(name)
    base = [name for name, fields in packages.items()
            if fields.get("Essential") == "yes" or fields.get("Priority") == "required"]
    found, todo = set(), list(wanted) + base
    while todo:
        name = todo.pop()
        if name in found:
            continue
        found.add(name)
        fields = packages.get(name)
        if fields is None:
            continue
        for relation in ("Pre-Depends", "Depends"):
            for group in fields.get(relation, "").split(","):
                for choice in group.split("|"):
                    choice = bare(choice.split("(")[0])
                    if not choice:
                        continue
                    if choice in packages:
                        todo.append(choice)
                        break
                    if choice in providers:
                        todo.append(providers[choice][0])
                        break
    return found


def file_owners():
    owners = {}
    for entry in os.listdir(DPKG_INFO):
        if not entry.endswith(".list"):
            continue
        package = bare(entry[:-len(".list")])
        with open(os.path.join(DPKG_INFO, entry), encoding="utf-8", errors="replace") as listing:
            for line in listing:
                owners.setdefault(line.rstrip("\n"), package)
    return owners


def names_of(path):
    """The names dpkg may list a file under: as given, with the usr merge's
    other spelling, and with its links resolved."""
    names = {path, os.path.realpath(path)}
    for name in list(names):
        for top in MERGED:
            if name.startswith(top + "/"):
                names.add("/usr" + name)
            elif name.startswith("/usr" + top + "/"):
                names.add(name[len("/usr"):])
    return names


# Read where present, needed nowhere: the linker reads every configuration file
# of the dynamic loader and loads every LTO plugin there is (with the libraries
# it links), the C library looks for locale aliases.
LOOKED_AT = re.compile(r'^/etc/ld\.so\.conf\.d/|/bfd-plugins/|^/usr/share/locale/locale\.alias$')

CALL = re.compile(r'^(\d+)\s+(openat|open|execve)\((?:AT_FDCWD, )?"([^"]+)"(.*)\)\s+=\s+(-?\d+)')
EXITED = re.compile(r'^(\d+)\s+\+\+\+ exited with (\d+) \+\+\+')
ARGUMENT = re.compile(r'"([^"]*)"')
# The programs of a build whose every file is a need: compilers, assembler and
# linker (headers, libraries, start files), Qt's code generators, the build tool.
BUILDERS = ("c++", "g++", "cc1plus", "cc1", "as", "ld", "collect2", "ar", "ranlib", "moc", "rcc",
            "uic", "ninja")


def traced(command, trace, env):
    """The files the command needs: every program it runs, every file a builder
    opens, every CMake file CMake reads, and the .pc file of every module that
    pkg-config found. Not judged: what a program merely looks at while
    searching (pkg-config reads every .pc file there is; the C library looks
    for locale aliases), and directories."""
    subprocess.run(["strace", "-f", "-q", "-e", "trace=open,openat,execve", "-o", trace]
                   + command, env=env, check=True, stdout=subprocess.DEVNULL)
    program, opened, exit_code, modules = {}, {}, {}, {}
    with open(trace, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            ended = EXITED.match(line)
            if ended:
                exit_code[ended.group(1)] = int(ended.group(2))
                continue
            call = CALL.match(line)
            if not call or int(call.group(5)) < 0 or not call.group(3).startswith("/"):
                continue
            pid, kind, path = call.group(1), call.group(2), call.group(3)
            if kind == "execve":
                program[pid] = path
                arguments = ARGUMENT.findall(call.group(4))
                modules[pid] = [a for a in arguments[1:] if not a.startswith("-")]
            else:
                opened.setdefault(pid, []).append(path)
    files = set(program.values())
    for pid, paths in opened.items():
        name = os.path.basename(program.get(pid, ""))
        for path in paths:
            if os.path.isdir(path):
                continue
            if name in BUILDERS or name == "cmake" and path.endswith(".cmake"):
                files.add(path)
            elif name in ("pkg-config", "pkgconf") and exit_code.get(pid) == 0 and \
                    os.path.basename(path)[:-len(".pc")] in modules.get(pid, []):
                files.add(path)
    return files


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    args = parser.parse_args(argv[1:])
    if not shutil.which("strace") or not os.path.isdir(DPKG_INFO):
        print("strace or dpkg is missing: skipped")
        return SKIPPED

    wanted = run_list(args.source)
    packages = installed_packages()
    missing = [name for name in wanted if name not in packages]
    if missing:
        print("scripts/run's packages are not all installed here:", " ".join(missing))
        return 1
    allowed = closure(wanted, packages)

    # As scripts/run builds: no compiler cache or other launcher from outside.
    env = {key: value for key, value in os.environ.items()
           if not key.startswith("CCACHE") and not key.endswith("_COMPILER_LAUNCHER")}
    shutil.rmtree(args.build, ignore_errors=True)
    os.makedirs(args.build)
    trace = os.path.join(args.build, "trace")
    files = traced(["cmake", "-S", args.source, "-B", args.build, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DBUILD_TESTING=OFF"], trace, env)
    files |= traced(["cmake", "--build", args.build, "--target", "vespra-updater",
                     "vespra-updater-sim"], trace, env)

    owners = file_owners()

    def owner_of(path):
        return next((owners[name] for name in names_of(path) if name in owners), None)

    looked_at = {path for path in files if LOOKED_AT.search(path)}
    plugins = {owner_of(path) for path in looked_at if "/bfd-plugins/" in path} - {None}
    plugin_libraries = closure(plugins, {name: fields for name, fields in packages.items()
                                         if name not in allowed}) - plugins if plugins else set()
    files = {path for path in files - looked_at
             if not (owner_of(path) in plugin_libraries and ".so" in os.path.basename(path))}
    used, outside = {}, {}
    for path in sorted(files):
        owner = owner_of(path)
        if owner is None:
            continue
        used.setdefault(owner, 0)
        used[owner] += 1
        if owner not in allowed:
            outside.setdefault(owner, []).append(path)
    print(f"{len(files)} files needed by the configure and the build, "
          f"{sum(used.values())} of them from {len(used)} packages; "
          f"scripts/run's {len(wanted)} packages bring {len(allowed)} with the base system")
    if outside:
        for owner, paths in sorted(outside.items()):
            print(f"  {owner}: not installed by scripts/run, yet read: {', '.join(paths[:3])}"
                  + (f" and {len(paths) - 3} more" if len(paths) > 3 else ""))
        return 1
    print("every one of them is installed by scripts/run or comes with every Debian system")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
