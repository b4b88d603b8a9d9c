# The x86 decoder: opcode tables generated from x86-opcodes.txt at build time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(ZE_X86_TABLES ${CMAKE_BINARY_DIR}/generated/crashreport/capture/X86Tables.inc)
add_custom_command(
  OUTPUT ${ZE_X86_TABLES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/crashreport/capture
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/gen_x86_tables.py
          ${CMAKE_CURRENT_SOURCE_DIR}/x86-opcodes.txt ${ZE_X86_TABLES}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/gen_x86_tables.py ${CMAKE_CURRENT_SOURCE_DIR}/x86-opcodes.txt
  COMMENT "Generating the x86 opcode tables"
  VERBATIM)
add_custom_target(ze_x86_tables DEPENDS ${ZE_X86_TABLES})
add_dependencies(zcore ze_x86_tables)
target_sources(zcore PRIVATE Decoder.cpp Disassembler.cpp FunctionAnalysis.cpp)
target_include_directories(zcore PUBLIC ${CMAKE_BINARY_DIR}/generated)
