# Delay-import libraries for the DLLs that are not among Windows' known DLLs
# (wininet, gdiplus, bcrypt): a DLL beside the exe, say in a Downloads folder,
# must not be loaded in their place. Linked instead of the normal import
# libraries, they defer each load to the first call, after WinMain has
# restricted the DLL search to System32. Made once at configure time from the
# toolchain's own import libraries.
set(pimbrel_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
find_program(PIMBREL_NM ${pimbrel_triple}-nm REQUIRED)
find_program(PIMBREL_DLLTOOL ${pimbrel_triple}-dlltool REQUIRED)

# pimbrel_delay_import(NAME): an imported target NAME_delay for NAME.dll.
function(pimbrel_delay_import name)
  find_file(pimbrel_${name}_importlib lib${name}.a PATHS /usr/${pimbrel_triple}/lib NO_DEFAULT_PATH REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delayimp/lib${name}_delay.a)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delayimp)
  execute_process(
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/make_delaylib.sh ${PIMBREL_NM} ${PIMBREL_DLLTOOL}
            ${pimbrel_${name}_importlib} ${name}.dll ${out} ${CMAKE_SYSTEM_PROCESSOR}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not make the delay-import library for ${name}.dll")
  endif()
  add_library(${name}_delay STATIC IMPORTED GLOBAL)
  set_target_properties(${name}_delay PROPERTIES IMPORTED_LOCATION ${out})
endfunction()

foreach(dll wininet gdiplus bcrypt)
  pimbrel_delay_import(${dll})
endforeach()
