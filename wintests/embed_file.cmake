# Writes a C++ source that holds a file's bytes, so that the test program carries the file into a Wine
# prefix without depending on where the script runs it from:
#   cmake -DINPUT=<file> -DOUTPUT=<source> -DSYMBOL=<name> -P embed_file.cmake
# The bytes are taken as they are (hexadecimal), whatever the file's encoding; one zero byte follows
# them so that an empty file still makes a valid array, and <name>Size leaves it out.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}"
    "// Generated from ${INPUT}; do not edit.\n"
    "#include <cstddef>\n\n"
    "namespace wintest {\n\n"
    "extern const unsigned char ${SYMBOL}[] = {\n    ${bytes}0x00};\n"
    "extern const std::size_t ${SYMBOL}Size = ${size};\n\n"
    "}  // namespace wintest\n")
