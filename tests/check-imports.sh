#!/bin/sh
# Fails when an executable imports a DLL that is not one of the system DLLs the launcher may use.
#   check-imports.sh OBJDUMP EXE
set -eu
allowed="kernel32.dll user32.dll advapi32.dll msvcrt.dll gdi32.dll"
dlls=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$dlls" ] || { echo "no import table read from $2"; exit 1; }
status=0
for dll in $dlls; do
    case " $allowed " in
    *" $dll "*) echo "imports $dll" ;;
    *) echo "imports $dll, which is not a system DLL"; status=1 ;;
    esac
done
exit $status
