// The scale driver's type library: class Statera, its dual interface ITrutina and its event
// interface. The member list below is the single source of the interface: it declares the vtable
// (in this order, after IUnknown's three and IDispatch's four operations) and the dispatch table
// that IDispatch implementations and the control wrapper use.
#pragma once

#include "platform/ole.h"

#include <cstddef>

// Member list. RO(number, name, type, help): read-only property, one operation get_name(type*).
// RW(number, name, type, help): read-write property, get_name(type*) then put_name(type).
// METHOD(number, name, help): method, one operation name(LONG* Result).
// The dispatch id of every member is its number; help is its help string in the type library
// (plain ASCII without double quotes or backslashes: it is copied into the IDL as it stands).
// The build reads this list to generate the IDL (cmake/TrutinaIdl.cmake): keep one member per
// line in this form.
#define TRUTINA_MEMBERS(RO, RW, METHOD) \
    RO(1, ResultCode, LONG, "Result of the last write or method: 0 on success, a refusal code otherwise") \
    RO(2, ResultDescription, BSTR, "Text of the last result code") \
    RO(3, DriverVersion, BSTR, "Version of the driver") \
    RW(4, CurrentDeviceIndex, LONG, "Index of the current logical device in the device list, from 0") \
    RW(5, CurrentDeviceNumber, LONG, "Number of the current logical device, 1 to 99") \
    RW(6, CurrentDeviceName, BSTR, "Name of the current logical device") \
    RO(7, DeviceCount, LONG, "Number of logical devices") \
    RW(8, LockDevices, VARIANT_BOOL, "While true, the device list and the device settings cannot be changed") \
    RO(9, Connected, VARIANT_BOOL, "True while the scales answer") \
    RW(10, PollingInterval, LONG, "Polling interval code of asynchronous mode: 0 to 4 (50, 100, 200, 500, 1000 ms)") \
    RW(11, EventNumber, LONG, "Number of the current data message") \
    RO(12, DataCount, LONG, "Number of queued data messages") \
    RW(13, WeightStep, DOUBLE, "Least change of a stable weight that queues a data message, in kilograms") \
    RW(14, Model, LONG, "Model code of the current device") \
    RW(15, AsyncMode, VARIANT_BOOL, "Asynchronous mode: the scales are polled and data messages queued") \
    RW(16, PortNumber, LONG, "Serial port number of the current device") \
    RW(17, BaudRate, LONG, "Baud rate code of the current device") \
    RW(18, Parity, LONG, "Parity code of the current device") \
    RW(19, DeviceEnabled, VARIANT_BOOL, "The current device is claimed and enabled") \
    RW(20, UnitPrice, CY, "Price of one kilogram") \
    RO(21, SalesPrice, CY, "Weight times the unit price") \
    RO(22, Weight, DOUBLE, "Weight of the last reading, in kilograms") \
    RW(23, TareWeight, DOUBLE, "Tare weight, in kilograms") \
    RO(24, NettoWeight, VARIANT_BOOL, "The weight is net: a tare is set") \
    RO(25, ZeroScaleWeight, VARIANT_BOOL, "The scales show zero") \
    RO(26, OutOfZero, VARIANT_BOOL, "Zero is outside the zero range") \
    RO(27, NegWeight, VARIANT_BOOL, "The weight is negative") \
    RO(28, BigWeight, VARIANT_BOOL, "Overload: the weight is above capacity") \
    RO(29, NonStable, VARIANT_BOOL, "The weight is not stable") \
    RW(30, Value, LONG, "Parameter value for ReadValue and WriteValue") \
    RW(31, ValuePurpose, LONG, "Parameter for ReadValue and WriteValue: 0 to 4") \
    RO(32, ProtocolVersion, LONG, "Protocol version (after GetDeviceMetrics)") \
    RO(33, DeviceType, LONG, "Device type (after GetDeviceMetrics)") \
    RO(34, DeviceModel, LONG, "Device model (after GetDeviceMetrics)") \
    RO(35, OperatingMode, LONG, "Operating mode (after GetDeviceMetrics)") \
    RO(36, SoftwareVersion, LONG, "Software version (after GetDeviceMetrics)") \
    RO(37, SoftwareSubVersion, LONG, "Software subversion (after GetDeviceMetrics)") \
    RO(38, DeviceName, BSTR, "Device name (after GetDeviceMetrics)") \
    RO(39, CodePage, LONG, "Code page of the device (after GetDeviceMetrics)") \
    RO(40, SoftwareBuild, LONG, "Software build (after GetDeviceMetrics)") \
    RW(41, UpdatePrice, VARIANT_BOOL, "Compute SalesPrice from the weight and the unit price") \
    RO(42, InvalidRange, VARIANT_BOOL, "The weight is outside the valid range") \
    RW(43, AutoDisable, VARIANT_BOOL, "Raising a data event turns DataEventEnabled off") \
    RW(44, DataEventEnabled, VARIANT_BOOL, "Queued data messages raise the data event") \
    RW(45, ApplicationHandle, LONG, "Window handle of the calling application") \
    METHOD(46, ShowProperties, "Opens the driver settings dialog") \
    METHOD(47, AddDevice, "Adds a logical device") \
    METHOD(48, DeleteDevice, "Deletes the current logical device") \
    METHOD(49, DeleteEvent, "Removes the current data message") \
    METHOD(50, ReadWeight, "Takes a weight reading") \
    METHOD(51, Zero, "Sets the scales to zero") \
    METHOD(52, Tare, "Takes the stable gross weight as tare") \
    METHOD(53, SetTare, "Sets TareWeight as tare") \
    METHOD(54, GetDeviceMetrics, "Reads the device report") \
    METHOD(55, ReadValue, "Reads the parameter ValuePurpose into Value") \
    METHOD(56, WriteValue, "Writes Value to the parameter ValuePurpose") \
    METHOD(57, Reset, "Restores the power-on state of the device") \
    METHOD(58, GenerateEvent, "Queues a data message with the current reading") \
    RW(59, Timeout, LONG, "Time the driver waits for an answer of the scales, in milliseconds") \
    RW(60, LogicalNumber, LONG, "Logical number of the current device")

// Class, interface and library identifiers. Plain constexpr (internal linkage): inline variables
// would become unique symbols that keep a server module from ever being unloaded.
constexpr CLSID CLSID_Statera = {0xC4A2BE69, 0x0BC1, 0x4709, {0xA6, 0x13, 0x79, 0xDD, 0x2E, 0x28, 0x10, 0xA2}};
constexpr IID IID_ITrutina = {0xBCB614C5, 0x50F3, 0x48F7, {0xB3, 0x7C, 0x4A, 0x39, 0xE0, 0xB0, 0x60, 0x7D}};
constexpr IID DIID_ITrutinaEvents = {0x597AA8FC, 0x63D8, 0x471C, {0xB9, 0xFF, 0x45, 0x7B, 0x2E, 0x48, 0x37, 0x42}};
constexpr GUID LIBID_Trutina = {0xE4D6B138, 0x9C9A, 0x4932, {0xA1, 0x51, 0x03, 0xE1, 0x80, 0x3E, 0x97, 0xB7}};

// The class's ProgID and version-independent ProgID (CreateObject("Trutina.Statera")), and the
// type library's version.
constexpr const char* TRUTINA_PROGID = "Trutina.Statera.1";
constexpr const char* TRUTINA_VERSION_INDEPENDENT_PROGID = "Trutina.Statera";
constexpr WORD TRUTINA_TYPELIB_MAJOR = 1;
constexpr WORD TRUTINA_TYPELIB_MINOR = 0;

// The one event of the event interface: the data event, no arguments.
constexpr DISPID DISPID_TRUTINA_DATAEVENT = 1;

// The driver's module file name.
constexpr const char* TRUTINA_MODULE_NAME = "Trutina.dll";

#define TRUTINA_DECLARE_RO(n, name, type, ...) virtual HRESULT STDMETHODCALLTYPE get_##name(type* Value) = 0;
#define TRUTINA_DECLARE_RW(n, name, type, ...) \
    TRUTINA_DECLARE_RO(n, name, type)     \
    virtual HRESULT STDMETHODCALLTYPE put_##name(type Value) = 0;
#define TRUTINA_DECLARE_METHOD(n, name, ...) virtual HRESULT STDMETHODCALLTYPE name(LONG* Result) = 0;

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
    const char* Help;    // help string of the type library
};

namespace trutina_detail {
template <typename T> struct VarType;
template <> struct VarType<LONG> { static constexpr VARTYPE value = VT_I4; };
template <> struct VarType<BSTR> { static constexpr VARTYPE value = VT_BSTR; };
template <> struct VarType<VARIANT_BOOL> { static constexpr VARTYPE value = VT_BOOL; };
template <> struct VarType<DOUBLE> { static constexpr VARTYPE value = VT_R8; };
template <> struct VarType<CY> { static constexpr VARTYPE value = VT_CY; };
} // namespace trutina_detail

#define TRUTINA_INFO_RO(n, name, type, help) \
    {n, #name, TrutinaMemberKind::ReadOnly, trutina_detail::VarType<type>::value, help},
#define TRUTINA_INFO_RW(n, name, type, help) \
    {n, #name, TrutinaMemberKind::ReadWrite, trutina_detail::VarType<type>::value, help},
#define TRUTINA_INFO_METHOD(n, name, help) {n, #name, TrutinaMemberKind::Method, VT_I4, help},

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
