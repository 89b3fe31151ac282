# Sourced by the scripts that need the driver's identifiers: they read them from the IDL the build
# generates from driver/Trutina_TLB.h (<build>/driver/Trutina.idl), never keep a copy.

# The id the IDL gives one of its items, braced: idl_uuid <idl> library Trutina,
# idl_uuid <idl> interface ITrutina, idl_uuid <idl> coclass Statera. Fails when there is none.
idl_uuid() { # idl kind name
  awk -v kind="$2" -v name="$3" '
    match($0, /uuid\([0-9A-Fa-f-]+\)/) { id = substr($0, RSTART + 5, RLENGTH - 6) }
    $1 == kind && $2 == name && id != "" { print "{" id "}"; found = 1; exit }
    END { exit !found }' "$1"
}
