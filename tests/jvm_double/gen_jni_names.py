#!/usr/bin/env python3
"""Lists the function members of jni.h's two function tables, in declaration order, as X-macro lines:
KR_NATIVE(name) for struct JNINativeInterface_ and KR_INVOKE(name) for struct JNIInvokeInterface_.
The test double fills every listed member, so a jni.h with more functions still gives complete tables."""
import re
import sys


def members(text, struct):
    start = text.find("struct %s {" % struct)
    if start < 0:
        sys.exit("gen_jni_names: struct %s not found" % struct)
    end = text.find("};", start)
    return re.findall(r"\(JNICALL \*(\w+)\)", text[start:end])


def main():
    jni_h, out = sys.argv[1], sys.argv[2]
    with open(jni_h, encoding="latin-1") as f:
        text = f.read()
    lines = ["/* Generated from jni.h by gen_jni_names.py. */"]
    native = members(text, "JNINativeInterface_")
    invoke = members(text, "JNIInvokeInterface_")
    if len(native) < 200 or len(invoke) < 5:
        sys.exit("gen_jni_names: unexpected jni.h (%d and %d functions)" % (len(native), len(invoke)))
    lines += ["KR_NATIVE(%s)" % n for n in native]
    lines += ["KR_INVOKE(%s)" % n for n in invoke]
    with open(out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
