# Writes a header holding a file's bytes as a constant character array, so a file of the
# program (the window's stored description, the icon) is compiled into the executable.
#   cmake -DINPUT=file -DOUTPUT=header -DSYMBOL=name -P EmbedFile.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# Break the list into lines of 16 bytes for the compiler's and the reader's sake.
string(REGEX REPLACE "(('[^']*',){16})" "\\1\n  " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n#pragma once\n\n"
  "inline constexpr char ${SYMBOL}[${size} + 1] = {\n  ${bytes}'\\0'};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
