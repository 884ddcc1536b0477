#!/usr/bin/env python3
"""Lists the function members of jni.h's two tables, in declaration order, as X-macro lines:
KR_NATIVE(name) for JNINativeInterface_ and KR_INVOKE(name) for JNIInvokeInterface_. Every member that
is not reserved must be listed, so the double's tables have no empty slot."""
import re
import sys

text = open(sys.argv[1], encoding="latin-1").read()
lines = ["/* Generated from jni.h by gen_jni_names.py. */"]
for struct, macro in (("JNINativeInterface_", "KR_NATIVE"), ("JNIInvokeInterface_", "KR_INVOKE")):
    start = text.find("struct %s {" % struct)
    body = text[start:text.find("};", start)] if start >= 0 else ""
    names = re.findall(r"\(JNICALL \*(\w+)\)", body)
    if not names or len(names) + body.count("void *reserved") != body.count(";"):
        sys.exit("gen_jni_names: cannot list every member of %s in %s" % (struct, sys.argv[1]))
    lines += ["%s(%s)" % (macro, name) for name in names]
with open(sys.argv[2], "w") as out:
    out.write("\n".join(lines) + "\n")
