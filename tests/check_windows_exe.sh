#!/bin/sh
# The Windows build must be a 64-bit console program that needs no DLL
# beyond those every Windows has. Exits 77 (skipped) when EXE is missing,
# 1 when VORKEL_REQUIRE_ALL is set.
exe=${1:?usage: check_windows_exe.sh EXE}
if [ ! -e "$exe" ]; then
  echo "$exe is missing: make the Windows build with cmake --preset windows && cmake --build --preset windows"
  case ${VORKEL_REQUIRE_ALL:-0} in 0) exit 77 ;; *) exit 1 ;; esac  # skipped, or failed
fi
dump=$(x86_64-w64-mingw32-objdump -p "$exe") || exit 1
echo "$dump" | grep -q '^Magic.*020b' || { echo "$exe: not a PE32+ (64-bit) image"; exit 1; }
echo "$dump" | grep -qE '^Subsystem[[:space:]]+00000003' || { echo "$exe: not a console program"; exit 1; }
dlls=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
[ -n "$dlls" ] || { echo "$exe: no import table found"; exit 1; }
status=0
for dll in $dlls; do
  case "$dll" in
    KERNEL32.DLL|ADVAPI32.DLL|NTDLL.DLL|MSVCRT.DLL|USER32.DLL) ;;
    *) echo "$exe imports $dll, which not every Windows has"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "$exe imports only: $(echo $dlls)"
exit $status
