# Writes a C++ source that holds the bytes of INPUT as SYMBOL (an EmbeddedFile),
# its length taken with sizeof, so the length can never disagree with the file.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_bytes.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
if(hex_length EQUAL 0)
  message(FATAL_ERROR "embed_bytes: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
       "\\1\n  " bytes "${bytes}")
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.partial"
"// Generated from ${source_name} at build time; do not edit.
#include \"resources/splash_artwork.h\"

namespace {
const unsigned char kBytes[] = {
  ${bytes}
};
}  // namespace

extern const EmbeddedFile ${SYMBOL}{kBytes, sizeof kBytes};
")
file(RENAME "${OUTPUT}.partial" "${OUTPUT}")
