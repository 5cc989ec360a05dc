# Test programs are x86_64 Windows executables that ctest runs under wine64,
# in a private prefix and an Xvfb display that the "wine" fixture starts.
set(PIMBREL_WIN32_DIR "${PROJECT_SOURCE_DIR}/build/win32" CACHE PATH "Build folder of the shipped i686 exe")

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_test(NAME wine_env_start COMMAND bash ${PROJECT_SOURCE_DIR}/tools/wine-env.sh start ${CMAKE_BINARY_DIR})
set_tests_properties(wine_env_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 240)
add_test(NAME wine_env_stop COMMAND bash ${PROJECT_SOURCE_DIR}/tools/wine-env.sh stop ${CMAKE_BINARY_DIR})
set_tests_properties(wine_env_stop PROPERTIES FIXTURES_CLEANUP wine)

# pimbrel_add_wine_test(NAME SOURCES... [LIBS ...] [SERIAL])
# SERIAL tests share the machine-wide state of a real launcher run (HKLM key,
# ProgramData folder, mutex name, the test port), so they never run together.
function(pimbrel_add_wine_test name)
  cmake_parse_arguments(arg "SERIAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE pimbrel_core pimbrel_testsupport gtest_main gtest ${arg_LIBS})
  target_link_options(${name} PRIVATE -mconsole)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
  if(arg_SERIAL)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK launcher_machine_state)
  endif()
endfunction()
