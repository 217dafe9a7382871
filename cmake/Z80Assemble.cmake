# Z80 code of our own (the open system ROM, the M4 board's open ROM) is assembled at
# build time with pasmo, a Debian-packaged assembler (scripts/install-deps.sh installs it).
#
#   arvelo_assemble(NAME <target> SOURCE <file.asm> OUTPUT <file.bin>
#                   [INCLUDE_DIRS <dir>...] [DEPENDS <file>...])
#
# makes the raw binary OUTPUT (a path in the build tree, for example
# ${ARVELO_BIN_DIR}/x.rom) from SOURCE and a target NAME that is built with ALL.
# The directory of SOURCE is searched for INCLUDE and INCBIN files, then INCLUDE_DIRS
# (for files generated in the build tree); DEPENDS names further inputs (included
# sources, generated binaries) whose change reassembles the output.
include_guard(GLOBAL)

find_program(PASMO_EXECUTABLE pasmo)

function(arvelo_assemble)
  cmake_parse_arguments(ASM "" "NAME;SOURCE;OUTPUT" "INCLUDE_DIRS;DEPENDS" ${ARGN})
  if(NOT ASM_NAME OR NOT ASM_SOURCE OR NOT ASM_OUTPUT)
    message(FATAL_ERROR "arvelo_assemble needs NAME, SOURCE and OUTPUT")
  endif()
  if(NOT PASMO_EXECUTABLE)
    message(FATAL_ERROR "The Z80 assembler pasmo was not found; it assembles ${ASM_SOURCE}. "
                        "Install it with scripts/install-deps.sh (Debian package pasmo).")
  endif()
  get_filename_component(source ${ASM_SOURCE} ABSOLUTE)
  get_filename_component(source_dir ${source} DIRECTORY)
  get_filename_component(output_dir ${ASM_OUTPUT} DIRECTORY)
  set(include_flags -I ${source_dir})
  foreach(dir ${ASM_INCLUDE_DIRS})
    list(APPEND include_flags -I ${dir})
  endforeach()
  add_custom_command(OUTPUT ${ASM_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND ${PASMO_EXECUTABLE} --bin ${include_flags} ${source} ${ASM_OUTPUT}
    DEPENDS ${source} ${ASM_DEPENDS}
    COMMENT "Assembling ${ASM_SOURCE}"
    VERBATIM)
  add_custom_target(${ASM_NAME} ALL DEPENDS ${ASM_OUTPUT})
endfunction()

# Turns a binary file into a C++ source defining `const unsigned char SYMBOL[]` and
# `const unsigned SYMBOL_size`, so a program carries the image without a data file.
function(arvelo_embed_binary)
  cmake_parse_arguments(EMB "" "INPUT;OUTPUT;SYMBOL" "" ${ARGN})
  add_custom_command(
    OUTPUT ${EMB_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${EMB_INPUT} -DOUTPUT=${EMB_OUTPUT} -DSYMBOL=${EMB_SYMBOL}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedBinary.cmake
    DEPENDS ${EMB_INPUT} ${CMAKE_SOURCE_DIR}/cmake/EmbedBinary.cmake
    VERBATIM)
endfunction()
