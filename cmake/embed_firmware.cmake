# Turns the firmware data file into a C++ source file. Runs as a script
# (cmake -P) so the cross build needs no host compiler for it.
file(SIZE ${INPUT} size)
if(NOT size EQUAL 65536)
  message(FATAL_ERROR "${INPUT} must hold exactly 65536 bytes, not ${size}")
endif()
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
"// Generated from resources/firmware.bin by cmake/embed_firmware.cmake.\n"
"#include \"camera/image_layout.h\"\n\n"
"namespace veltrane {\nnamespace {\nconstexpr std::uint8_t kFirmware[kImageSize] = {\n${bytes}\n};\n}  // namespace\n\n"
"std::span<const std::uint8_t, kImageSize> EmbeddedFirmware() { return std::span<const std::uint8_t, kImageSize>(kFirmware); }\n\n"
"}  // namespace veltrane\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
