# Checks a firmware image before the build embeds it: exactly 65,536 bytes,
# and a version word at 0xB000 (little-endian) whose date reads sensibly, as
# the version field shows it (year byte, month in bits 19-16, day byte).
#   include() with VELTRANE_FIRMWARE_IMAGE set; stops the configure on a bad file.
if(NOT EXISTS "${VELTRANE_FIRMWARE_IMAGE}" OR IS_DIRECTORY "${VELTRANE_FIRMWARE_IMAGE}")
  message(FATAL_ERROR "VELTRANE_FIRMWARE_IMAGE: no file '${VELTRANE_FIRMWARE_IMAGE}'")
endif()
file(SIZE "${VELTRANE_FIRMWARE_IMAGE}" firmware_size)
if(NOT firmware_size EQUAL 65536)
  message(FATAL_ERROR "VELTRANE_FIRMWARE_IMAGE: '${VELTRANE_FIRMWARE_IMAGE}' holds "
                      "${firmware_size} bytes; a firmware image holds exactly 65536")
endif()
# 0xB000 = 45056.
file(READ "${VELTRANE_FIRMWARE_IMAGE}" version_bytes OFFSET 45056 LIMIT 4 HEX)
string(SUBSTRING "${version_bytes}" 2 2 day_hex)
string(SUBSTRING "${version_bytes}" 5 1 month_hex)
string(SUBSTRING "${version_bytes}" 6 2 year_hex)
math(EXPR firmware_day "0x${day_hex}")
math(EXPR firmware_month "0x${month_hex}")
math(EXPR firmware_year "0x${year_hex}")
if(firmware_day LESS 1 OR firmware_day GREATER 31 OR firmware_month LESS 1 OR
   firmware_month GREATER 12 OR firmware_year GREATER 99)
  message(FATAL_ERROR
    "VELTRANE_FIRMWARE_IMAGE: '${VELTRANE_FIRMWARE_IMAGE}' is no firmware image of this camera: "
    "its version word at 0xB000 (bytes ${version_bytes}) names no date "
    "(year ${firmware_year}, month ${firmware_month}, day ${firmware_day})")
endif()
math(EXPR firmware_year "2000 + ${firmware_year}")
message(STATUS "Firmware image: ${VELTRANE_FIRMWARE_IMAGE} "
               "(version date ${firmware_year}-${firmware_month}-${firmware_day})")
