# Writes the IDL of the driver's type library from the member list of driver/Trutina_TLB.h, so
# that the two cannot drift: the interface ITrutina (dual), the event interface ITrutinaEvents and
# the class Statera, with every member's name, dispatch id, type and help string.
#
#   cmake -DINPUT=driver/Trutina_TLB.h -DOUTPUT=Trutina.idl [-DPROXY_OUTPUT=TrutinaProxy.idl] -P cmake/TrutinaIdl.cmake
#
# A member line or identifier the reader does not understand stops the build (the test
# TrutinaIdlTest compares the result with the compiled member table).
cmake_minimum_required(VERSION 3.25)

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "TrutinaIdl.cmake: INPUT and OUTPUT must be given")
endif()
file(READ "${INPUT}" header)

include(${CMAKE_CURRENT_LIST_DIR}/TrutinaGuid.cmake)
trutina_read_guid("${INPUT}" LIBID_Trutina libid)
trutina_read_guid("${INPUT}" IID_ITrutina iid)
trutina_read_guid("${INPUT}" DIID_ITrutinaEvents diid)
trutina_read_guid("${INPUT}" CLSID_Statera clsid)
if(NOT header MATCHES "DISPID_TRUTINA_DATAEVENT = ([0-9]+);")
  message(FATAL_ERROR "TrutinaIdl.cmake: no DISPID_TRUTINA_DATAEVENT in ${INPUT}")
endif()
set(event_id "${CMAKE_MATCH_1}")

# The list: from its #define to the first line that does not continue it.
string(FIND "${header}" "#define TRUTINA_MEMBERS(RO, RW, METHOD)" start)
if(start LESS 0)
  message(FATAL_ERROR "TrutinaIdl.cmake: no TRUTINA_MEMBERS in ${INPUT}")
endif()
string(SUBSTRING "${header}" ${start} -1 rest)
string(REPLACE ";" "," rest "${rest}") # a list separator would split lines
# A backslash before a list separator would escape it: continuations become a word of their own.
string(REPLACE "\\\n" " CONTINUED\n" rest "${rest}")
string(REPLACE "\n" ";" lines "${rest}")
list(POP_FRONT lines)

set(idl_types_LONG "long")
set(idl_types_BSTR "BSTR")
set(idl_types_VARIANT_BOOL "VARIANT_BOOL")
set(idl_types_DOUBLE "double")
set(idl_types_CY "CURRENCY")

set(members "")
set(count 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    break()
  endif()
  set(continued FALSE)
  if(line MATCHES " CONTINUED$")
    set(continued TRUE)
    string(REGEX REPLACE " *CONTINUED$" "" line "${line}")
  endif()
  if(line MATCHES "^(RO|RW)\\(([0-9]+), ([A-Za-z_][A-Za-z0-9_]*), ([A-Z_]+), \"([^\"\\\\]*)\"\\)$")
    set(kind "${CMAKE_MATCH_1}")
    set(id "${CMAKE_MATCH_2}")
    set(name "${CMAKE_MATCH_3}")
    set(type "${CMAKE_MATCH_4}")
    set(help "${CMAKE_MATCH_5}")
    if(NOT DEFINED idl_types_${type})
      message(FATAL_ERROR "TrutinaIdl.cmake: member ${name} has the type ${type}, which has no IDL form here")
    endif()
    set(idl_type "${idl_types_${type}}")
    string(APPEND members
      "        [id(${id}), propget, helpstring(\"${help}\")]\n"
      "        HRESULT ${name}([out, retval] ${idl_type}* Value);\n")
    if(kind STREQUAL "RW")
      string(APPEND members
        "        [id(${id}), propput, helpstring(\"${help}\")]\n"
        "        HRESULT ${name}([in] ${idl_type} Value);\n")
    endif()
  elseif(line MATCHES "^METHOD\\(([0-9]+), ([A-Za-z_][A-Za-z0-9_]*), \"([^\"\\\\]*)\"\\)$")
    string(APPEND members
      "        [id(${CMAKE_MATCH_1}), helpstring(\"${CMAKE_MATCH_3}\")]\n"
      "        HRESULT ${CMAKE_MATCH_2}([out, retval] long* Result);\n")
  else()
    message(FATAL_ERROR "TrutinaIdl.cmake: a line of TRUTINA_MEMBERS that is no member: ${line}")
  endif()
  math(EXPR count "${count} + 1")
  if(NOT continued)
    break()
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "TrutinaIdl.cmake: TRUTINA_MEMBERS lists no member")
endif()

set(interface "    [
        object,
        uuid(${iid}),
        dual,
        oleautomation,
        helpstring(\"Scale driver interface\")
    ]
    interface ITrutina : IDispatch
    {
${members}    };
")
set(header "// Generated from driver/Trutina_TLB.h by cmake/TrutinaIdl.cmake: edit the member list there.
import \"oaidl.idl\";
import \"ocidl.idl\";
")

set(idl "${header}
[
    uuid(${libid}),
    version(1.0),
    helpstring(\"Trutina scale driver\")
]
library Trutina
{
    importlib(\"stdole2.tlb\");

${interface}
    [
        uuid(${diid}),
        helpstring(\"Scale driver events\")
    ]
    dispinterface ITrutinaEvents
    {
    properties:
    methods:
        [id(${event_id}), helpstring(\"A data message was queued\")]
        void DataEvent();
    };

    [
        uuid(${clsid}),
        helpstring(\"Scale driver\")
    ]
    coclass Statera
    {
        [default] interface ITrutina;
        [default, source] dispinterface ITrutinaEvents;
    };
};
")
# The interface alone, outside any library, from which widl writes its proxy and stub (a driver in
# a process of its own). Not in the library's IDL: widl then writes a wrong library id.
set(proxy_idl "${header}
${interface}")
# Written only when it changed, so that what depends on it is not rebuilt for nothing.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${idl}" @ONLY)
if(PROXY_OUTPUT)
  file(CONFIGURE OUTPUT "${PROXY_OUTPUT}" CONTENT "${proxy_idl}" @ONLY)
endif()
