#!/usr/bin/python3
"""Makes a 32-bit delay-import library from a MinGW import library.

    make_delay_library.py --nm NM --as AS --ar AR --lib libNAME.a --dll NAME.dll --out libNAME_delay.a
                          [--skip libOTHER.a ...]

The linker of Debian's 32-bit MinGW (binutils 2.40) drops the code of the
delay-import thunks that `dlltool --output-delaylib` makes whenever a
function is called through its __imp_ pointer (as the system headers
declare them): the function's slot then holds 0 and its first call jumps
there. This library holds the same parts as plain data and code, which the
linker keeps: per export an __imp_ slot that first points at a stub, the
stub (which hands the slot to __delayLoadHelper2, the program's own helper
in src/base/SystemLibrary.cpp, and jumps where it resolved it), a plain
thunk for calls without __imp_, the name table and one delay-import
descriptor whose fields are addresses (its attributes 0). A function that
an import library named with --skip exports too (wintrust.dll forwards
crypt32.dll's) is left to that library's delay-import library.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


def exports(nm, library):
    """(symbol, name) of each function: "_CertOpenStore@20", "CertOpenStore"."""
    text = subprocess.run([nm, "-g", library], check=True, capture_output=True, text=True).stdout
    found = []
    for symbol in sorted(set(re.findall(r" I __imp_(_[A-Za-z0-9_@?]+)", text))):
        name = re.sub(r"@[0-9]+$", "", symbol[1:])
        found.append((symbol, name))
    return found


def assembly(dll, functions):
    tag = re.sub(r"[^A-Za-z0-9]", "_", dll)
    lines = ["\t.section .data$zdly_%s,\"w\"" % tag, "\t.balign 4"]
    lines.append("__zdly_iat_%s:" % tag)
    for i, (symbol, _) in enumerate(functions):
        lines += ["\t.globl __imp_%s" % symbol, "__imp_%s:" % symbol, "\t.long __zdly_stub_%s_%d" % (tag, i)]
    lines += ["\t.long 0", "__zdly_module_%s:" % tag, "\t.long 0"]
    lines += ["\t.section .rdata$zdly_%s,\"dr\"" % tag, "\t.balign 4", "__zdly_int_%s:" % tag]
    lines += ["\t.long __zdly_name_%s_%d" % (tag, i) for i in range(len(functions))]
    lines += ["\t.long 0", "__zdly_descriptor_%s:" % tag,
              "\t.long 0",                          # attributes: the fields are addresses
              "\t.long __zdly_dll_%s" % tag,
              "\t.long __zdly_module_%s" % tag,
              "\t.long __zdly_iat_%s" % tag,
              "\t.long __zdly_int_%s" % tag,
              "\t.long 0", "\t.long 0", "\t.long 0",
              "__zdly_dll_%s:" % tag, "\t.asciz \"%s\"" % dll]
    for i, (_, name) in enumerate(functions):
        lines += ["\t.balign 2", "__zdly_name_%s_%d:" % (tag, i), "\t.short 0", "\t.asciz \"%s\"" % name]
    lines += ["\t.text", "\t.balign 4", "__zdly_tail_%s:" % tag,
              "\tpushl %ecx", "\tpushl %edx", "\tpushl %eax",
              "\tpushl $__zdly_descriptor_%s" % tag,
              "\tcall ___delayLoadHelper2@8",
              "\tpopl %edx", "\tpopl %ecx", "\tjmp *%eax"]
    for i, (symbol, _) in enumerate(functions):
        lines += ["__zdly_stub_%s_%d:" % (tag, i), "\tmovl $__imp_%s, %%eax" % symbol, "\tjmp __zdly_tail_%s" % tag,
                  "\t.globl %s" % symbol, "%s:" % symbol, "\tjmp *__imp_%s" % symbol]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--nm", "--as", "--ar", "--lib", "--dll", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--skip", action="append", default=[])
    args = parser.parse_args()
    skipped = {symbol for other in args.skip for symbol, _ in exports(args.nm, other)}
    functions = [f for f in exports(args.nm, args.lib) if f[0] not in skipped]
    if not functions:
        sys.exit("make_delay_library: %s exports no function" % args.lib)
    with tempfile.TemporaryDirectory() as scratch:
        source = os.path.join(scratch, "delay.s")
        with open(source, "w") as out:
            out.write(assembly(args.dll, functions))
        obj = os.path.join(scratch, os.path.basename(args.out) + ".o")
        subprocess.run([getattr(args, "as"), "--32", "-o", obj, source], check=True)
        partial = args.out + ".tmp"
        if os.path.exists(partial):
            os.remove(partial)
        subprocess.run([args.ar, "rcs", partial, obj], check=True)
        os.replace(partial, args.out)


if __name__ == "__main__":
    main()
