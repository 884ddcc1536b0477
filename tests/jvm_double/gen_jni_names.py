#!/usr/bin/env python3
"""Lists the function members of jni.h's two tables, in declaration order, as X-macro lines:
KR_NATIVE(name) for JNINativeInterface_ and KR_INVOKE(name) for JNIInvokeInterface_. The double fills
every listed member, so a jni.h with more functions still gives complete tables."""
import re
import sys

text = open(sys.argv[1], encoding="latin-1").read()
lines = ["/* Generated from jni.h by gen_jni_names.py. */"]
for struct, macro, least in (("JNINativeInterface_", "KR_NATIVE", 200), ("JNIInvokeInterface_", "KR_INVOKE", 5)):
    start = text.find("struct %s {" % struct)
    names = re.findall(r"\(JNICALL \*(\w+)\)", text[start:text.find("};", start)]) if start >= 0 else []
    if len(names) < least:
        sys.exit("gen_jni_names: unexpected jni.h (%d functions in %s)" % (len(names), struct))
    lines += ["%s(%s)" % (macro, name) for name in names]
with open(sys.argv[2], "w") as out:
    out.write("\n".join(lines) + "\n")
