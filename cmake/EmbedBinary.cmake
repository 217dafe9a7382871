# cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedBinary.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT} by the build.\n"
     "extern const unsigned char ${SYMBOL}[] = {\n${bytes}};\n"
     "extern const unsigned ${SYMBOL}_size = ${size};\n")
