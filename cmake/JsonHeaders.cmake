# nlohmann::json (header only, Debian's nlohmann-json3-dev) as the target json_headers. Only its
# own folder is put on the include path: the Windows cross compiler must not see the build
# machine's other headers.
find_path(NLOHMANN_JSON_HEADER_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(PONDERIX_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${PONDERIX_JSON_INCLUDE})
file(CREATE_LINK ${NLOHMANN_JSON_HEADER_DIR}/nlohmann ${PONDERIX_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(json_headers INTERFACE)
target_include_directories(json_headers SYSTEM INTERFACE ${PONDERIX_JSON_INCLUDE})
