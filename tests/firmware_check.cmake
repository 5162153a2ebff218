# The configure-time check of the carried firmware image: the repository's
# image passes; a file of the wrong size, or whose version word names no
# date, stops the configure with a message that says why.
#   cmake -DSOURCE_DIR=<repo> -DWORK=<scratch dir> -P firmware_check.cmake
set(check ${SOURCE_DIR}/cmake/check_firmware.cmake)
file(MAKE_DIRECTORY ${WORK})

function(expect name file wanted_result wanted_text)
  execute_process(COMMAND ${CMAKE_COMMAND} -DVELTRANE_FIRMWARE_IMAGE=${file} -P ${check}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if((wanted_result EQUAL 0) AND NOT (result EQUAL 0))
    message(FATAL_ERROR "${name}: refused\n${err}")
  endif()
  if(NOT (wanted_result EQUAL 0) AND (result EQUAL 0))
    message(FATAL_ERROR "${name}: accepted")
  endif()
  string(REPLACE "\n" " " said "${out}${err}")
  string(REGEX REPLACE " +" " " said "${said}")
  if(NOT said MATCHES "${wanted_text}")
    message(FATAL_ERROR "${name}: the message does not say '${wanted_text}':\n${out}${err}")
  endif()
  message(STATUS "ok ${name}")
endfunction()

expect("the repository's image" ${SOURCE_DIR}/resources/firmware.bin 0 "version date 2010-1-8")
# The bad files, from the good one.
find_program(PYTHON3 python3 REQUIRED)
execute_process(
  COMMAND ${PYTHON3} -c "import sys
image = open(sys.argv[1], 'rb').read()
open(sys.argv[2] + '/short.bin', 'wb').write(image[:-1])
open(sys.argv[2] + '/nodate.bin', 'wb').write(image[:0xB000] + bytes(4) + image[0xB004:])"
          ${SOURCE_DIR}/resources/firmware.bin ${WORK}
  RESULT_VARIABLE made)
if(NOT made EQUAL 0)
  message(FATAL_ERROR "could not make the bad images")
endif()
expect("a byte short" ${WORK}/short.bin 1 "holds 65535 bytes")
expect("no date in the version word" ${WORK}/nodate.bin 1 "names no date")
expect("no file" ${WORK}/missing.bin 1 "no file")
