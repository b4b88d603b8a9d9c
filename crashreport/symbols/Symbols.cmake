# Symbol lookup: the map and packed symbol readers (portable) and the module glue (Win32).
#
# Run as a script (cmake -DOBJCOPY=.. -DBEFORE=.. -DAFTER=.. -P Symbols.cmake) this file is the
# check that embedding the symbol data left the code and data of an exe byte for byte as linked.
if(CMAKE_SCRIPT_MODE_FILE)
  foreach(section .text .data .rdata)
    foreach(which BEFORE AFTER)
      execute_process(COMMAND ${OBJCOPY} -O binary -j ${section} ${${which}} ${AFTER}.${which}${section}
                      RESULT_VARIABLE rc)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "objcopy failed on ${${which}}")
      endif()
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${AFTER}.BEFORE${section} ${AFTER}.AFTER${section}
                    RESULT_VARIABLE differ)
    file(REMOVE ${AFTER}.BEFORE${section} ${AFTER}.AFTER${section})
    if(differ)
      message(FATAL_ERROR "${section} of ${AFTER} changed when the symbol data was embedded")
    endif()
  endforeach()
  message(STATUS "code and data unchanged: ${AFTER}")
  return()
endif()

target_sources(zcore PRIVATE MapFile.cpp PeLayout.cpp SymbolData.cpp SymbolCache.cpp SymbolResolver.cpp)
if(NOT WIN32)
  return()
endif()
target_sources(zwin PRIVATE SymbolsWin32.cpp)

# The exe's own symbol data, embedded after linking: tools/gen_symbols.py runs as the target's
# linker launcher; after the link it reads the debug information with the tool chain's binutils
# and adds the resource "XUN"/"EXCEPT" in a section of its own behind all others, so no code
# moves. The exe as linked stays beside it as NAME.nosym.exe for the check test; the text map is
# written as NAME.map.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
string(REGEX REPLACE "objcopy$" "" prefix "${CMAKE_OBJCOPY}")
# Cache variables: ze_embed_symbols is also called from the top directory.
set(ZE_BINUTILS_PREFIX ${prefix} CACHE INTERNAL "")
set(ZE_SYMBOLS_CMAKE ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "")

function(ze_embed_symbols target)
  set_property(TARGET ${target} PROPERTY CXX_LINKER_LAUNCHER
    ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_symbols.py --prefix ${ZE_BINUTILS_PREFIX} --embed --map --link --)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/tools/gen_symbols.py)
  # Tests must be declared where testing is enabled: at the end of the top directory (EVAL, so
  # that the arguments are expanded here and now).
  cmake_language(EVAL CODE "
    cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL add_test NAME symbols_code_unchanged_${target}${ZE_TEST_SUFFIX}
      COMMAND [[${CMAKE_COMMAND}]] [[-DOBJCOPY=${CMAKE_OBJCOPY}]]
              [[-DBEFORE=$<TARGET_FILE_DIR:${target}>/${target}.nosym.exe]] [[-DAFTER=$<TARGET_FILE:${target}>]]
              -P [[${ZE_SYMBOLS_CMAKE}]])")
endfunction()

# win_tests carries the same symbol data, so the lookup is tested on its own code.
function(ze_embed_symbols_if_target target)
  if(TARGET ${target})
    ze_embed_symbols(${target})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL ze_embed_symbols_if_target win_tests)
