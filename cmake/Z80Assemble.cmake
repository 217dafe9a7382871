# Z80 code of the project's own, assembled at build time with pasmo (Debian package).
#   arvelo_assemble(NAME <target> SOURCE <file.asm> OUTPUT <file.bin>)
# makes <target>, which produces the binary image OUTPUT from SOURCE.
find_program(PASMO_EXECUTABLE pasmo REQUIRED)

function(arvelo_assemble)
  cmake_parse_arguments(ASM "" "NAME;SOURCE;OUTPUT" "" ${ARGN})
  add_custom_command(
    OUTPUT ${ASM_OUTPUT}
    COMMAND ${PASMO_EXECUTABLE} --bin ${ASM_SOURCE} ${ASM_OUTPUT}
    DEPENDS ${ASM_SOURCE}
    COMMENT "Assembling ${ASM_SOURCE}"
    VERBATIM)
  add_custom_target(${ASM_NAME} DEPENDS ${ASM_OUTPUT})
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
