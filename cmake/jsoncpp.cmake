# JsonCpp, built from the Debian source unpacked by tools/setup.sh, linked statically.
set(PIMBREL_JSONCPP_DIR ${PROJECT_SOURCE_DIR}/third_party/jsoncpp CACHE PATH "JsonCpp source tree")
if(NOT EXISTS ${PIMBREL_JSONCPP_DIR}/include/json/reader.h)
  message(FATAL_ERROR "JsonCpp source missing in ${PIMBREL_JSONCPP_DIR}: run tools/setup.sh")
endif()
add_library(jsoncpp_static STATIC
  ${PIMBREL_JSONCPP_DIR}/src/lib_json/json_reader.cpp
  ${PIMBREL_JSONCPP_DIR}/src/lib_json/json_value.cpp
  ${PIMBREL_JSONCPP_DIR}/src/lib_json/json_writer.cpp)
target_include_directories(jsoncpp_static SYSTEM PUBLIC ${PIMBREL_JSONCPP_DIR}/include)
target_compile_options(jsoncpp_static PRIVATE -w)
