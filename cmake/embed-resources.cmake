# Writes the compiled resources (the .res file windres makes from the script SCRIPT) into a C++
# source as one byte array, which the Linux layer's FindResourceA reads as Win32 reads a
# module's resource section.
file(READ ${RES} bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${SCRIPT} by windres; do not edit.\n"
    "#include <cstddef>\n"
    "extern const unsigned char w32_resource_data[];\n"
    "extern const size_t w32_resource_size;\n"
    "alignas(16) const unsigned char w32_resource_data[] = {\n${bytes}\n};\n"
    "const size_t w32_resource_size = ${size};\n")
