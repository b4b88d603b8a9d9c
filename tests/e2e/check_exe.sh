#!/usr/bin/env bash
# The shipped program: a 32-bit (PE32, i386) GUI exe that imports nothing but system DLLs and
# carries its icon, manifest, pictures and settings resource.
set -euo pipefail
exe=$1
[ -f "$exe" ] || { echo "missing $exe (build the win32 preset first)"; exit 1; }
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
grep -q 'file format pei-i386' <<<"$dump" || { echo "not a PE32 i386 image"; fail=1; }
grep -qE 'Subsystem[[:space:]]+00000002' <<<"$dump" || { echo "not a GUI subsystem exe"; fail=1; }
system='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|ADVAPI32|msvcrt|ole32|OLEAUT32|WS2_32|WSOCK32|VERSION|PSAPI|WININET|IPHLPAPI|WTSAPI32|SETUPAPI|MAPI32|WINSPOOL|SHLWAPI|ntdll)\.(dll|DLL)$'
while read -r dll; do
  grep -qiE "$system" <<<"$dll" || { echo "imports a non-system DLL: $dll"; fail=1; }
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
# Resource names are stored as UTF-16 strings.
for name in MAINICON STONE00 STONE17 SELECTTOOL TOOL10 TXUNEXCEPT; do
  utf16=$(printf '%s' "$name" | iconv -f ascii -t utf-16le | od -An -tx1 | tr -d ' \n')
  od -An -tx1 -v "$exe" | tr -d ' \n' | grep -q "$utf16" || { echo "resource $name missing"; fail=1; }
done
[ $fail -eq 0 ] && echo "LevelEditor.exe: PE32 i386 GUI, system DLLs only, resources present"
exit $fail
