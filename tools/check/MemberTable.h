// What the interface fixes of the member table, and what it leaves to the driver: member 9 is one
// operation of any name and type, and of the members after member 58 only LogicalNumber is named
// (by dispatch id 60, at no fixed place in the vtable). Read and write ids are fixed where the
// table gives them; the others are the driver's choice.
#pragma once

#include "driver/Trutina_TLB.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace check {

// The member's vtable place, name and type are the interface's.
inline bool InVtable(const TrutinaMemberInfo& m) { return m.Number <= 58 && m.Number != 9; }
// Its name is the interface's: clients reach it by GetIDsOfNames.
inline bool NamedMember(const TrutinaMemberInfo& m) { return InVtable(m) || m.Number == 60; }
// Its dispatch id is the interface's.
inline bool FixedDispatchId(const TrutinaMemberInfo& m)
{
    return (m.Kind == TrutinaMemberKind::ReadWrite && m.Number <= 45) || m.Number == 60;
}

// The member of this name (one of the table's: a logic error otherwise).
inline const TrutinaMemberInfo& MemberNamed(std::string_view name)
{
    for (const TrutinaMemberInfo& m : TrutinaMembers)
        if (name == m.Name)
            return m;
    throw std::logic_error("no member " + std::string(name));
}

} // namespace check
