#include "tools/check/Rules.h"

namespace check {

const TRule Rules[] = {
    {"qi-identity",
     "answer QueryInterface for IUnknown, from every interface it has, with one and the same pointer",
     "COM identity: two references are to one object exactly when their IUnknown pointers are equal", true,
     TGroup::Com},
    {"qi-rules",
     "keep QueryInterface reflexive, symmetric, transitive and stable; set the out pointer to null when it "
     "refuses; answer E_POINTER for a null out pointer",
     "the QueryInterface contract of IUnknown: a client may ask any interface for any other", true, TGroup::Com},
    {"refcount",
     "balance AddRef and Release: after the client's last Release the object is gone - its events stop and "
     "every sink it held is released",
     "IUnknown reference counting: the object lives exactly as long as a reference to it", true, TGroup::Com},
    {"unload",
     "answer DllCanUnloadNow with S_FALSE while an object of the module lives (S_FALSE at all times is allowed)",
     "an in-process server must not be unloaded under a live object (CoFreeUnusedLibraries asks it)", true,
     TGroup::Com},
    {"class-factory",
     "give a non-null object on success and a null one on failure; refuse aggregation with "
     "CLASS_E_NOAGGREGATION unless it supports it",
     "IClassFactory::CreateInstance; an aggregated object delegates IUnknown to its outer object", true,
     TGroup::Com},
    {"connection-point",
     "answer FindConnectionPoint for its event interface and CONNECT_E_NOCONNECTION for others; give distinct "
     "non-zero cookies; answer Unadvise of an unknown cookie with CONNECT_E_NOCONNECTION; after Unadvise hold "
     "no reference to the sink",
     "IConnectionPointContainer and IConnectionPoint: how a client receives and stops the events", true,
     TGroup::Com},
    {"event-after-unadvise", "send no data event to a sink after its Unadvise",
     "IConnectionPoint::Unadvise ends the connection: the client may destroy the sink at once", true,
     TGroup::Com},
    {"typeinfo",
     "answer GetTypeInfoCount with 0 or 1; when 1, describe ITrutina with the member table's order and types",
     "IDispatch::GetTypeInfoCount; a dual interface's type information is its vtable and dispatch ids", true,
     TGroup::Com},
    {"dispatch-names",
     "give every member of the member table its dispatch id through GetIDsOfNames - the table's id where the "
     "table gives one; answer an unknown name with DISP_E_UNKNOWNNAME and DISPID_UNKNOWN",
     "IDispatch::GetIDsOfNames: late-bound clients (scripts) call members by name", true, TGroup::Dispatch},
    {"dispatch-invoke",
     "answer Invoke of an unknown dispatch id with DISP_E_MEMBERNOTFOUND, a wrong argument count with "
     "DISP_E_BADPARAMCOUNT, a write to a read-only property with DISP_E_MEMBERNOTFOUND, an argument of a wrong "
     "type with DISP_E_TYPEMISMATCH and its index; never crash on them",
     "IDispatch::Invoke: a script host tells its user what was wrong from these statuses", true,
     TGroup::Dispatch},
    {"dual-agree", "answer a read through the interface table and through Invoke with the same status and value",
     "a dual interface is one interface reached two ways", false, TGroup::Dispatch},
    {"result-code",
     "after every write and method, answer ResultCode and ResultDescription; 0 means success",
     "the driver's result convention: the program reads both after each operation", false, TGroup::Sequences},
    {"failure-described", "give a non-zero ResultCode a non-empty ResultDescription",
     "the result convention: the program shows the description of every refusal", false, TGroup::Sequences},
    {"refused-write-keeps-value",
     "leave a property as it was when it refuses a write to it (non-zero ResultCode)",
     "the result convention: a refused value snaps back to the driver's value in the windows", false,
     TGroup::Sequences},
    {"device-list",
     "keep DeviceCount, CurrentDeviceIndex and CurrentDeviceNumber consistent through AddDevice, DeleteDevice "
     "and selection",
     "the logical devices: the current device is one of the list, selected by index or number", false,
     TGroup::Sequences},
    {"event-thread", "raise data events on the thread that created the object",
     "a single-threaded apartment: an object's events come on its apartment's thread", false,
     TGroup::Sequences},
    {"exception", "let no C++ exception leave a call",
     "COM calls cross module and compiler boundaries: failures are statuses, never exceptions", true,
     TGroup::Sequences},
    {"crash", "survive every call (a crash names the member and its argument)",
     "a driver runs in its client's process: its crash is the client's", true, TGroup::Sequences},
    {"hang", "return from every call within the limit (default 5 s, --call-limit)",
     "a single-threaded apartment's calls are synchronous: a call that does not return stops the client", true,
     TGroup::Sequences},
};

const std::size_t RuleCount = sizeof Rules / sizeof Rules[0];

const TRule* FindRule(std::string_view id)
{
    for (const TRule& rule : Rules)
        if (id == rule.Id)
            return &rule;
    return nullptr;
}

} // namespace check
