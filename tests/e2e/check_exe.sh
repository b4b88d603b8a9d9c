#!/usr/bin/env bash
# The program as delivered: `check_exe.sh EXE win32|win64`. A GUI exe of the build's architecture
# (PE32 i386 for the shipped program, PE32+ x86-64 for the 64-bit one) that imports nothing but
# system DLLs, carries its icon, pictures and settings resource, and whose manifest asks for the
# common controls of its own architecture (the other one's stop it from starting).
set -euo pipefail
exe=$1
arch=$2
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
if [ "$arch" = win32 ]; then
  objdump=i686-w64-mingw32-objdump format=pei-i386 manifest=x86 other=amd64
else
  objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 manifest=amd64 other=x86
fi
dump=$($objdump -p "$exe")
fail=0
grep -q "file format $format\$" <<<"$dump" || { echo "not a $format image"; fail=1; }
grep -qE 'Subsystem[[:space:]]+00000002' <<<"$dump" || { echo "not a GUI subsystem exe"; fail=1; }
system='^(KERNEL32|USER32|GDI32|COMCTL32|COMDLG32|SHELL32|ADVAPI32|msvcrt|ole32|OLEAUT32|WS2_32|WSOCK32|VERSION|PSAPI|WININET|IPHLPAPI|WTSAPI32|SETUPAPI|MAPI32|WINSPOOL|SHLWAPI|ntdll)\.(dll|DLL)$'
while read -r dll; do
  grep -qiE "$system" <<<"$dll" || { echo "imports a non-system DLL: $dll"; fail=1; }
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
# Resource names are stored as UTF-16 strings.
hex=$(od -An -tx1 -v "$exe" | tr -d ' \n')
for name in MAINICON STONE00 STONE17 SELECTTOOL TOOL10 TXUNEXCEPT; do
  utf16=$(printf '%s' "$name" | iconv -f ascii -t utf-16le | od -An -tx1 | tr -d ' \n')
  grep -q "$utf16" <<<"$hex" || { echo "resource $name missing"; fail=1; }
done
# The manifest is stored as its own bytes: the program's identity and the common controls.
own=$(grep -ac "processorArchitecture=\"$manifest\"" "$exe" || true)
foreign=$(grep -ac "processorArchitecture=\"$other\"" "$exe" || true)
grep -aq 'Microsoft.Windows.Common-Controls' "$exe" || { echo "the manifest does not ask for the common controls"; fail=1; }
[ "$own" -ge 1 ] && [ "$foreign" -eq 0 ] || { echo "the manifest does not name $manifest alone ($own lines with $manifest, $foreign with $other)"; fail=1; }
[ $fail -eq 0 ] && echo "$(basename "$exe"): $format GUI, system DLLs only, resources present, manifest for $manifest"
exit $fail
