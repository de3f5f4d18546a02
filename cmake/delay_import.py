#!/usr/bin/env python3
"""Makes a delay-import library for one system DLL from the toolchain's own import library:
every function that the import library exports, imported through the delay-load helper
instead of the loader, so that the DLL is loaded only when the program first calls it.

    delay_import.py NM DLLTOOL MACHINE IMPORT_LIB DLL_NAME OUTPUT

MACHINE is dlltool's -m value (i386 or i386:x86-64). On i386 the stdcall names carry their
"@N" (the import library's _Name@N), which dlltool strips again for the imported name (-k).

On i386, binutils 2.40's ld writes the delay-import address slots of dlltool's objects as
zeros while they sit in .idata$5 among the ordinary imports (the first call through one jumps
to address 0). Moved into sections of their own (.didat, the name Microsoft's linker gives
them) they keep their thunk addresses; so they are moved there. The x86_64 objects work as
dlltool makes them, and break when moved.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

IDATA_PARTS = ["2", "4", "5", "6", "7"]


def move_to_didat(dlltool, archive):
    """Renames .idata$N to .didat$N (allocated, loaded data) in every member of archive."""
    tools = dlltool[: -len("dlltool")]
    objcopy, ar = tools + "objcopy", tools + "ar"
    members = subprocess.run([ar, "t", archive], check=True, stdout=subprocess.PIPE).stdout.decode().split()
    work = tempfile.mkdtemp(dir=os.path.dirname(os.path.abspath(archive)))
    try:
        subprocess.run([ar, "x", os.path.abspath(archive)], check=True, cwd=work)
        renames = []
        for n in IDATA_PARTS:
            renames += ["--rename-section", ".idata$%s=.didat$%s,alloc,load,data,contents" % (n, n)]
        for m in members:
            subprocess.run([objcopy] + renames + [m], check=True, cwd=work)
        os.remove(archive)
        subprocess.run([ar, "rcs", os.path.abspath(archive)] + members, check=True, cwd=work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    nm, dlltool, machine, import_lib, dll, output = sys.argv[1:7]
    listing = subprocess.run([nm, "-g", import_lib], check=True, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout.decode()
    names = set()
    for line in listing.splitlines():
        m = re.match(r"^[0-9a-fA-F]+ T (\S+)$", line.strip())
        if not m:
            continue
        name = m.group(1)
        if machine == "i386":
            if not name.startswith("_"):
                continue
            name = name[1:]
        names.add(name)
    if not names:
        sys.exit("delay_import.py: no functions found in %s" % import_lib)
    deffile = output + ".def"
    with open(deffile, "w") as f:
        f.write("LIBRARY %s\nEXPORTS\n" % dll)
        for name in sorted(names):
            f.write("  %s\n" % name)
    # dlltool names the library's members and symbols after the output path it is given:
    # the bare file name (it runs in the output's folder) keeps the build folder out of them.
    args = [dlltool, "-m", machine, "-d", deffile, "-D", dll, "-y", os.path.basename(output)]
    if machine == "i386":
        args.append("-k")
    subprocess.run(args, check=True, cwd=os.path.dirname(os.path.abspath(output)) or None)
    if machine == "i386":
        move_to_didat(dlltool, output)


if __name__ == "__main__":
    main()
