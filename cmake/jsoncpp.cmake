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
# json_reader.cpp and json_value.cpp include <iostream> without using its
# streams (std::cerr only when JSON_USE_EXCEPTION is 0). Each such include
# puts a std::ios_base::Init object in the program, which links in the eight
# standard streams with their file buffers, char and wchar_t: 89,088 bytes of
# the static i686 exe. Marking the header as already included keeps it out;
# <istream> and <sstream>, which the reader does use, are included on their own.
target_compile_definitions(jsoncpp_static PRIVATE _GLIBCXX_IOSTREAM)
