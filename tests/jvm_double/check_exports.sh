#!/bin/sh
# Checks that the test-double jvm.dll exports the two JNI entry points a launcher looks up, undecorated,
# and imports only system DLLs (it is linked statically, as a real runtime's jvm.dll needs no compiler
# runtime), with ucrtbase.dll as its C library and never msvcrt.dll, the C library a MinGW host links.
#   check_exports.sh OBJDUMP DLL
set -eu
objdump=$1
dll=$2
table=$("$objdump" -p "$dll")
for name in JNI_CreateJavaVM JNI_GetDefaultJavaVMInitArgs; do
    echo "$table" | grep -Eq "^[[:space:]]*\[ *[0-9]+\] \+?(base\) )?$name\$|[[:space:]]$name\$" ||
        { echo "export $name missing or decorated"; echo "$table" | sed -n '/Export Address/,/^$/p'; exit 1; }
done
if echo "$table" | grep -q '@[0-9]'; then
    echo "decorated export found:"; echo "$table" | grep '@[0-9]'; exit 1
fi
imports=$(echo "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll_name in $imports; do
    case $dll_name in
    kernel32.dll|user32.dll|ucrtbase.dll|advapi32.dll|gdi32.dll|api-ms-win-*) ;;
    *) echo "unexpected import $dll_name"; exit 1 ;;
    esac
done
echo "$imports" | grep -qx ucrtbase.dll || { echo "ucrtbase.dll not imported: $(echo $imports)"; exit 1; }
echo "exports and imports ok: $(echo $imports)"
