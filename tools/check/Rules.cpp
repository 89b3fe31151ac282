#include "tools/check/Rules.h"

#include "tools/check/StaticRules.h"

namespace check {

// The words are the README's rule table's (a test holds them equal).
const TRule Rules[] = {
    {rule::QiIdentity,
     "answer QueryInterface for IUnknown, from every interface it has, with one and the same pointer",
     "COM's identity: two references are to one object exactly when their IUnknown pointers are equal",
     true, TGroup::Com, &CheckQiIdentity},
    {rule::QiRules,
     "keep QueryInterface reflexive, symmetric, transitive and stable; set the out pointer to null when it "
     "refuses; answer E_POINTER for a null out pointer",
     "a client may ask any interface for any other, and trusts a refusal's null",
     true, TGroup::Com, &CheckQiRules},
    {rule::Refcount,
     "balance AddRef and Release: after the client's last Release the object is gone — its events stop and "
     "every sink it held is released",
     "the object lives exactly as long as a reference to it; a sink held after the end keeps the client's "
     "objects alive",
     true, TGroup::Com, &CheckRefcount},
    {rule::Unload,
     "answer DllCanUnloadNow with S_FALSE while an object of the module lives (S_FALSE at all times is "
     "allowed)",
     "the system unloads a module that says S_OK (CoFreeUnusedLibraries), under its live objects",
     true, TGroup::Com, &CheckUnload},
    {rule::ClassFactory,
     "give a non-null object on success and a null one on failure; refuse aggregation with "
     "CLASS_E_NOAGGREGATION unless it supports it",
     "IClassFactory::CreateInstance's contract. Supporting aggregation means delegating: every interface "
     "the inner object hands out answers QueryInterface for IUnknown with the outer object and takes "
     "AddRef and Release to it; an object that takes the outer object and ignores it is blamed, as is a "
     "refusal of IUnknown other than CLASS_E_NOAGGREGATION; an outer object may ask only for IUnknown, so "
     "any refusal of another interface with a null object is right",
     true, TGroup::Com, &CheckClassFactory},
    {rule::ConnectionPoint,
     "answer FindConnectionPoint for its event interface and CONNECT_E_NOCONNECTION for others; give "
     "distinct non-zero cookies; answer Unadvise of an unknown cookie with CONNECT_E_NOCONNECTION; after "
     "Unadvise hold no reference to the sink",
     "how a client receives and stops the events; 0 is no cookie",
     true, TGroup::Com, &CheckConnectionPoint},
    {rule::EventAfterUnadvise,
     "send no data event to a sink after its Unadvise, neither one on its way nor one from a call made "
     "after it (GenerateEvent, ReadWeight)",
     "the client may destroy the sink as soon as Unadvise returns; the checker keeps its own sink alive, "
     "so that a driver calling a released sink is seen doing so",
     true, TGroup::Com, &CheckEventAfterUnadvise},
    {rule::Typeinfo,
     "answer GetTypeInfoCount with 0 or 1; when 1, describe ITrutina with the member table's order and "
     "types",
     "IDispatch::GetTypeInfoCount; early-binding clients build their calls from the type information",
     true, TGroup::Com, &CheckTypeInfo},
    {rule::DispatchNames,
     "give every member of the member table its dispatch id through GetIDsOfNames, whatever the case of "
     "the name — the table's id where the table gives one, an id Invoke knows for every property; answer "
     "an unknown name with DISP_E_UNKNOWNNAME and DISPID_UNKNOWN",
     "late-bound clients (scripts) call members by name, in any case, and Ponderix's control by the fixed "
     "ids",
     true, TGroup::Dispatch, &CheckDispatchNames},
    {rule::DispatchInvoke,
     "answer Invoke of an unknown dispatch id with DISP_E_MEMBERNOTFOUND, a wrong argument count with "
     "DISP_E_BADPARAMCOUNT, a write to a read-only property with DISP_E_MEMBERNOTFOUND, an argument of a "
     "wrong type with DISP_E_TYPEMISMATCH and its index; never crash on them",
     "a script host tells its user what was wrong from these statuses",
     true, TGroup::Dispatch, &CheckDispatchInvoke},
    {rule::DualAgree,
     "answer a read through the interface table and through Invoke with the same status and value",
     "a dual interface is one interface reached two ways",
     false, TGroup::Dispatch, &CheckDualAgree},
    {rule::ResultCode,
     "after every write and method, answer ResultCode and ResultDescription; 0 means success; a method "
     "that fails answers its ResultCode as its integer result",
     "the result convention: Ponderix reads both after each operation; a ResultCode left from the "
     "operation before blames the wrong one",
     false, TGroup::Sequences, nullptr},
    {rule::FailureDescribed,
     "give a non-zero ResultCode a non-empty ResultDescription",
     "Ponderix shows the description of every refusal",
     false, TGroup::Sequences, nullptr},
    {rule::RefusedWriteKeepsValue,
     "leave a property as it was when it refuses a write to it (non-zero ResultCode)",
     "a refused value snaps back to the driver's in the windows, which must then be the old one",
     false, TGroup::Sequences, nullptr},
    {rule::DeviceList,
     "keep DeviceCount, CurrentDeviceIndex and CurrentDeviceNumber consistent through AddDevice, "
     "DeleteDevice and selection",
     "the current device is one of the list: a successful AddDevice adds one, DeleteDevice removes one, a "
     "refusal changes nothing, a selection selects what was asked",
     false, TGroup::Sequences, nullptr},
    {rule::EventThread,
     "raise data events on the thread that created the object",
     "a single-threaded apartment's object calls its client on that thread only. Each sequence's object is "
     "watched for 1.2 s after the sequence (the slowest polling interval is 1 s), and the finding names "
     "the call that started the driver's thread",
     false, TGroup::Sequences, nullptr},
    {rule::Exception,
     "let no C++ exception leave a call",
     "COM calls cross modules and compilers: failures are statuses",
     true, TGroup::Sequences, nullptr},
    {rule::Crash,
     "survive every call (a crash names the member and its argument)",
     "the driver runs in its client's process",
     true, TGroup::Sequences, nullptr},
    {rule::Hang,
     "return from every call within the limit (default 5 s, --call-limit)",
     "a single-threaded apartment's calls are synchronous: one that does not return stops the client",
     true, TGroup::Sequences, nullptr},
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
