#!/usr/bin/env bash
# The substitute driver as a client program sees it, under Wine (whose ole32/oleaut32 and script
# host are a real COM runtime). In the given Wine prefix (created when it does not exist yet):
#   - regsvr32 registers <build>/bin/Trutina.dll: the class with its ProgID and
#     VersionIndependentProgID keys, HKCR\Trutina.Statera (CLSID, CurVer), HKCR\Trutina.Statera.1
#     (CLSID) and the type library (HKCR\TypeLib\{libid}\1.0\0\win64 or win32);
#   - a VBScript run through cscript of the build's bitness: CreateObject by ProgID; every property read (the list taken
#     from the generated <build>/driver/Trutina.idl); a write read back; a write refused with its
#     code; a method; an unknown member's error;
#   - TrutinaComClient.exe: the registered type library member for member against the member
#     table, the object's type information, and a late-bound event sink that receives a data event;
#   - regsvr32 /u removes all of it, and keys of another ProgID and class, written before, stay.
#
#   scripts/wine-com-clients.sh <build folder> <wine prefix>
#
# Prints one "PASS: ..." or "FAIL: ..." line per check and last "wine-com-clients: N passed,
# N failed"; exit code 0 only when nothing failed. The build's bitness (x86_64 or i686) is read from
# Trutina.dll; a 32-bit build uses the prefix's 32-bit registry view and script host.
set -uo pipefail
if [[ $# -ne 2 ]]; then
  echo "usage: $0 <build folder> <wine prefix>" >&2
  exit 2
fi
script_dir=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd) || exit 2
export WINEPREFIX=$2
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
bin=$build/bin
driver=$bin/Trutina.dll
client=$bin/TrutinaComClient.exe
idl=$build/driver/Trutina.idl

passed=0
failed=0
check() { # condition-status description
  if [[ $1 -eq 0 ]]; then
    passed=$((passed + 1))
    echo "PASS: $2"
  else
    failed=$((failed + 1))
    echo "FAIL: $2"
  fi
}
finish() {
  [[ -n "${KEEP_WORK:-}" ]] && cp -r "$work" "$KEEP_WORK"
  echo "wine-com-clients: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
  exit
}

for file in "$driver" "$client" "$idl"; do
  [[ -f "$file" ]] || { check 1 "$file exists"; finish; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ponderix-com-XXXXXX")
trap 'rm -rf "$work"' EXIT
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  WINEARCH=win64 wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; check 1 "wineboot"; finish; }
  wineserver -w
fi

# The machine field of the PE header: 8664 is x86_64, 14c is i386.
pe_offset=$(od -An -tu4 -j60 -N4 "$driver" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$driver" | tr -d ' ')
# Debian's "wine" starts builtin programs such as cscript as 32-bit ones; the 64-bit script host,
# which can load a 64-bit driver, needs the 64-bit loader.
if [[ "$machine" == 8664 ]]; then
  view=64 syskind=win64
  host_loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
else
  view=32 syskind=win32 host_loader=wine
fi

run_wine() { wine "$@" 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# The default value (or the named one) of a key in the build's registry view; empty when absent.
value_of() { # key [name]
  local args=(/ve)
  [[ $# -gt 1 ]] && args=(/v "$2")
  { run_wine reg query "$1" "${args[@]}" "/reg:$view" 2>/dev/null || true; } | sed -n 's/.*REG_SZ *//p' | head -1
}
key_exists() { run_wine reg query "$1" "/reg:$view" >/dev/null 2>&1; }

source "$script_dir/idl-ids.sh"
clsid=$(idl_uuid "$idl" coclass Statera) && libid=$(idl_uuid "$idl" library Trutina) &&
  iid=$(idl_uuid "$idl" interface ITrutina) || { check 1 "the class, library and interface ids in $idl"; finish; }
other_clsid='{0B5E4C1A-6A1E-4C47-9D53-2F6E1A0C7D11}'
path=$(winepath -w "$driver")
export TRUTINA_SETTINGS
TRUTINA_SETTINGS=$(winepath -w "$work/trutina.json")

echo "== COM clients of $path (registry view $view)"
# Another program's entries, which unregistering the driver must leave alone.
run_wine reg add "HKCR\\Ponderix.Other\\CLSID" /ve /d "$other_clsid" /f "/reg:$view" >/dev/null
run_wine reg add "HKCR\\CLSID\\$other_clsid\\InprocServer32" /ve /d 'C:\other.dll' /f "/reg:$view" >/dev/null

run_wine regsvr32 /s "$path" >"$work/regsvr32.log"
check $? "regsvr32 Trutina.dll"
expect_value() { # expected key [name]
  local got
  got=$(value_of "${@:2}")
  [[ "${got,,}" == "${1,,}" ]]
  check $? "${2}${3:+ $3} = $1${got:+ (is $got)}"
}
expect_value "$clsid" 'HKCR\Trutina.Statera\CLSID'
expect_value 'Trutina.Statera.1' 'HKCR\Trutina.Statera\CurVer'
expect_value "$clsid" 'HKCR\Trutina.Statera.1\CLSID'
expect_value 'Trutina.Statera.1' "HKCR\\CLSID\\$clsid\\ProgID"
expect_value 'Trutina.Statera' "HKCR\\CLSID\\$clsid\\VersionIndependentProgID"
expect_value "$path" "HKCR\\TypeLib\\$libid\\1.0\\0\\$syskind"

# ---------------------------------------------------------------- VBScript
# Wine's VBScript has no ChrW: the script is plain ASCII.
vbs=$work/client.vbs
{
  cat <<'EOF'
Option Explicit
Dim o, v, r
Sub Check(ok, what)
  If ok Then
    WScript.Echo "PASS: VBScript " & what
  Else
    WScript.Echo "FAIL: VBScript " & what & " (error " & Err.Number & " " & Err.Description & ")"
  End If
  Err.Clear
End Sub
On Error Resume Next
Set o = CreateObject("Trutina.Statera")
Check Err.Number = 0 And IsObject(o), "CreateObject(""Trutina.Statera"")"
If Not IsObject(o) Then WScript.Quit 1
EOF
  # Every property, in the order of the IDL generated from the member list.
  sed -n 's/^ *HRESULT \([A-Za-z0-9_]*\)(\[out, retval\] [A-Za-z_]*\* Value);$/\1/p' "$idl" | awk '
    seen[$1]++ { next }
    { printf "v = Empty\nv = o.%s\nCheck Err.Number = 0 And Not IsEmpty(v), \"reads %s = \" & v\n", $1, $1 }'
  cat <<'EOF'
o.CurrentDeviceName = "Scales at the till"
Check Err.Number = 0 And o.ResultCode = 0 And o.CurrentDeviceName = "Scales at the till", "writes CurrentDeviceName and reads it back"
o.PortNumber = 999
Check Err.Number = 0 And o.ResultCode = -4, "PortNumber = 999 is refused with ResultCode -4: " & o.ResultCode & " " & o.ResultDescription
o.DeviceEnabled = True
r = o.ReadWeight()
Check Err.Number = 0 And r = 0 And o.ResultCode = 0, "ReadWeight() = " & r & ", Weight " & o.Weight
o.DeviceEnabled = False
v = o.NoSuchMember
Check Err.Number = 438, "an unknown member raises error 438: " & Err.Description
EOF
} >"$vbs"
properties=$(grep -c '"reads ' "$vbs")
checks=$(grep -c '^Check ' "$vbs")
[[ $properties -ge 40 ]]
check $? "the VBScript reads $properties properties"
(cd "$work" && "$host_loader" cscript.exe //nologo "$(winepath -w "$vbs")" 2>&1 | tr -d '\r') >"$work/vbs.log"
cat "$work/vbs.log" | grep -E '^(PASS|FAIL): ' || true
vbs_failed=$(grep -c '^FAIL: ' "$work/vbs.log")
vbs_passed=$(grep -c '^PASS: ' "$work/vbs.log")
passed=$((passed + vbs_passed))
failed=$((failed + vbs_failed))
[[ $vbs_passed -eq $checks ]]
check $? "cscript ran the whole script ($vbs_passed of $checks checks passed)"
[[ $vbs_passed -eq $checks ]] || grep -vE '^(PASS|FAIL): ' "$work/vbs.log" | head -10

# ---------------------------------------------------------------- C++ client
(cd "$bin" && run_wine "$client") >"$work/client.log"
status=$?
grep -E '^(PASS|FAIL): ' "$work/client.log" || true
passed=$((passed + $(grep -c '^PASS: ' "$work/client.log")))
failed=$((failed + $(grep -c '^FAIL: ' "$work/client.log")))
check $status "TrutinaComClient.exe ended with exit code $status"
[[ $status -eq 0 ]] || grep -vE '^(PASS|FAIL): ' "$work/client.log" | head -10

# ---------------------------------------------------------------- unregistration
run_wine regsvr32 /u /s "$path" >"$work/regsvr32.log"
check $? "regsvr32 /u Trutina.dll"
for key in 'HKCR\Trutina.Statera' 'HKCR\Trutina.Statera.1' "HKCR\\CLSID\\$clsid" "HKCR\\TypeLib\\$libid" \
  "HKCR\\Interface\\$iid"; do
  ! key_exists "$key"
  check $? "regsvr32 /u removed $key"
done
expect_value "$other_clsid" 'HKCR\Ponderix.Other\CLSID'
expect_value 'C:\other.dll' "HKCR\\CLSID\\$other_clsid\\InprocServer32"
run_wine reg delete 'HKCR\Ponderix.Other' /f "/reg:$view" >/dev/null 2>&1
run_wine reg delete "HKCR\\CLSID\\$other_clsid" /f "/reg:$view" >/dev/null 2>&1
finish
