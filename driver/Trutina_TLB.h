// The scale driver's type library: class Statera, its dual interface ITrutina and its event
// interface. The member list below is the single source of the interface: it declares the vtable
// (in this order, after IUnknown's three and IDispatch's four operations) and the dispatch table
// that IDispatch implementations and the control wrapper use.
#pragma once

#include "platform/ole.h"

#include <cstddef>

// Member list. RO(number, name, type): read-only property, one operation get_name(type*).
// RW(number, name, type): read-write property, get_name(type*) then put_name(type).
// METHOD(number, name): method, one operation name(LONG* Result).
// The dispatch id of every member is its number.
#define TRUTINA_MEMBERS(RO, RW, METHOD)   \
    RO(1, ResultCode, LONG)               \
    RO(2, ResultDescription, BSTR)        \
    RO(3, DriverVersion, BSTR)            \
    RW(4, CurrentDeviceIndex, LONG)       \
    RW(5, CurrentDeviceNumber, LONG)      \
    RW(6, CurrentDeviceName, BSTR)        \
    RO(7, DeviceCount, LONG)              \
    RW(8, LockDevices, VARIANT_BOOL)      \
    RO(9, Connected, VARIANT_BOOL)        \
    RW(10, PollingInterval, LONG)         \
    RW(11, EventNumber, LONG)             \
    RO(12, DataCount, LONG)               \
    RW(13, WeightStep, DOUBLE)            \
    RW(14, Model, LONG)                   \
    RW(15, AsyncMode, VARIANT_BOOL)       \
    RW(16, PortNumber, LONG)              \
    RW(17, BaudRate, LONG)                \
    RW(18, Parity, LONG)                  \
    RW(19, DeviceEnabled, VARIANT_BOOL)   \
    RW(20, UnitPrice, CY)                 \
    RO(21, SalesPrice, CY)                \
    RO(22, Weight, DOUBLE)                \
    RW(23, TareWeight, DOUBLE)            \
    RO(24, NettoWeight, VARIANT_BOOL)     \
    RO(25, ZeroScaleWeight, VARIANT_BOOL) \
    RO(26, OutOfZero, VARIANT_BOOL)       \
    RO(27, NegWeight, VARIANT_BOOL)       \
    RO(28, BigWeight, VARIANT_BOOL)       \
    RO(29, NonStable, VARIANT_BOOL)       \
    RW(30, Value, LONG)                   \
    RW(31, ValuePurpose, LONG)            \
    RO(32, ProtocolVersion, LONG)         \
    RO(33, DeviceType, LONG)              \
    RO(34, DeviceModel, LONG)             \
    RO(35, OperatingMode, LONG)           \
    RO(36, SoftwareVersion, LONG)         \
    RO(37, SoftwareSubVersion, LONG)      \
    RO(38, DeviceName, BSTR)              \
    RO(39, CodePage, LONG)                \
    RO(40, SoftwareBuild, LONG)           \
    RW(41, UpdatePrice, VARIANT_BOOL)     \
    RO(42, InvalidRange, VARIANT_BOOL)    \
    RW(43, AutoDisable, VARIANT_BOOL)     \
    RW(44, DataEventEnabled, VARIANT_BOOL) \
    RW(45, ApplicationHandle, LONG)       \
    METHOD(46, ShowProperties)            \
    METHOD(47, AddDevice)                 \
    METHOD(48, DeleteDevice)              \
    METHOD(49, DeleteEvent)               \
    METHOD(50, ReadWeight)                \
    METHOD(51, Zero)                      \
    METHOD(52, Tare)                      \
    METHOD(53, SetTare)                   \
    METHOD(54, GetDeviceMetrics)          \
    METHOD(55, ReadValue)                 \
    METHOD(56, WriteValue)                \
    METHOD(57, Reset)                     \
    METHOD(58, GenerateEvent)             \
    RW(59, Timeout, LONG)                 \
    RW(60, LogicalNumber, LONG)

// Class, interface and library identifiers. Plain constexpr (internal linkage): inline variables
// would become unique symbols that keep a server module from ever being unloaded.
constexpr CLSID CLSID_Statera = {0xC4A2BE69, 0x0BC1, 0x4709, {0xA6, 0x13, 0x79, 0xDD, 0x2E, 0x28, 0x10, 0xA2}};
constexpr IID IID_ITrutina = {0xBCB614C5, 0x50F3, 0x48F7, {0xB3, 0x7C, 0x4A, 0x39, 0xE0, 0xB0, 0x60, 0x7D}};
constexpr IID DIID_ITrutinaEvents = {0x597AA8FC, 0x63D8, 0x471C, {0xB9, 0xFF, 0x45, 0x7B, 0x2E, 0x48, 0x37, 0x42}};
constexpr GUID LIBID_Trutina = {0xE4D6B138, 0x9C9A, 0x4932, {0xA1, 0x51, 0x03, 0xE1, 0x80, 0x3E, 0x97, 0xB7}};

// The one event of the event interface: the data event, no arguments.
constexpr DISPID DISPID_TRUTINA_DATAEVENT = 1;

// The driver's module file name.
constexpr const char* TRUTINA_MODULE_NAME = "Trutina.dll";

#define TRUTINA_DECLARE_RO(n, name, type) virtual HRESULT STDMETHODCALLTYPE get_##name(type* Value) = 0;
#define TRUTINA_DECLARE_RW(n, name, type) \
    TRUTINA_DECLARE_RO(n, name, type)     \
    virtual HRESULT STDMETHODCALLTYPE put_##name(type Value) = 0;
#define TRUTINA_DECLARE_METHOD(n, name) virtual HRESULT STDMETHODCALLTYPE name(LONG* Result) = 0;

struct ITrutina : IDispatch {
    TRUTINA_MEMBERS(TRUTINA_DECLARE_RO, TRUTINA_DECLARE_RW, TRUTINA_DECLARE_METHOD)
};

#undef TRUTINA_DECLARE_RO
#undef TRUTINA_DECLARE_RW
#undef TRUTINA_DECLARE_METHOD

// The dispatch table: one row per member, in interface order.
enum class TrutinaMemberKind { ReadOnly, ReadWrite, Method };

struct TrutinaMemberInfo {
    int Number;          // position in the member list, also the dispatch id
    const char* Name;    // member name
    TrutinaMemberKind Kind;
    VARTYPE Type;        // VT_I4, VT_BSTR, VT_BOOL, VT_R8 or VT_CY; VT_I4 (the result) for methods
};

namespace trutina_detail {
template <typename T> struct VarType;
template <> struct VarType<LONG> { static constexpr VARTYPE value = VT_I4; };
template <> struct VarType<BSTR> { static constexpr VARTYPE value = VT_BSTR; };
template <> struct VarType<VARIANT_BOOL> { static constexpr VARTYPE value = VT_BOOL; };
template <> struct VarType<DOUBLE> { static constexpr VARTYPE value = VT_R8; };
template <> struct VarType<CY> { static constexpr VARTYPE value = VT_CY; };
} // namespace trutina_detail

#define TRUTINA_INFO_RO(n, name, type) \
    {n, #name, TrutinaMemberKind::ReadOnly, trutina_detail::VarType<type>::value},
#define TRUTINA_INFO_RW(n, name, type) \
    {n, #name, TrutinaMemberKind::ReadWrite, trutina_detail::VarType<type>::value},
#define TRUTINA_INFO_METHOD(n, name) {n, #name, TrutinaMemberKind::Method, VT_I4},

constexpr TrutinaMemberInfo TrutinaMembers[] = {
    TRUTINA_MEMBERS(TRUTINA_INFO_RO, TRUTINA_INFO_RW, TRUTINA_INFO_METHOD)};

#undef TRUTINA_INFO_RO
#undef TRUTINA_INFO_RW
#undef TRUTINA_INFO_METHOD

constexpr std::size_t TrutinaMemberCount = sizeof(TrutinaMembers) / sizeof(TrutinaMembers[0]);

// The row of a dispatch id, or nullptr.
inline const TrutinaMemberInfo* FindTrutinaMember(DISPID id)
{
    for (const auto& m : TrutinaMembers)
        if (m.Number == id)
            return &m;
    return nullptr;
}
