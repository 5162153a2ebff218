cmake_minimum_required(VERSION 3.25)

# Fails when a source file includes from a layer above its own, or when the
# portable core includes a platform header.
#   cmake -DSOURCE_DIR=<repo>/src -P check_layers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

# Each folder and the folders its files may include from; "*" is anything.
set(rules
  "common=common"
  "config=common config"
  "camera=common config camera"
  "update=common config camera update"
  "app=common config camera update app"
  "camera/sim=common config camera camera/sim"
  "camera/dshow=common config camera camera/dshow"
  "camera/uvc=common config camera camera/uvc"
  "update/posix=common config camera update update/posix"
  "update/win32=common config camera update update/win32"
  "app/win32=*"
  "app/terminal=*")
# The portable core: the standard library only.
set(core_folders common config camera update app)
set(platform_header_pattern
    "^(windows|winsock2|objbase|dshow|strmif|ks|ksmedia|ksproxy|dbt|commctrl|unistd|fcntl|poll|pwd|libudev)\\.h$|^(sys|linux)/")

file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp)
set(problems "")
foreach(file IN LISTS files)
  get_filename_component(folder ${file} DIRECTORY)
  set(allowed "")
  foreach(rule IN LISTS rules)
    string(REPLACE "=" ";" parts "${rule}")
    list(GET parts 0 rule_folder)
    if(rule_folder STREQUAL folder)
      list(GET parts 1 allowed)
    endif()
  endforeach()
  if(allowed STREQUAL "")
    string(APPEND problems "  ${file}: its folder has no layer\n")
    continue()
  endif()
  if(allowed STREQUAL "*")
    continue()
  endif()
  string(REPLACE " " ";" allowed "${allowed}")

  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      get_filename_component(included_folder ${CMAKE_MATCH_1} DIRECTORY)
      if(NOT included_folder IN_LIST allowed)
        string(APPEND problems "  ${file}: includes \"${CMAKE_MATCH_1}\" from a layer above it\n")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>" AND folder IN_LIST core_folders)
      set(header ${CMAKE_MATCH_1})
      if(header MATCHES "${platform_header_pattern}")
        string(APPEND problems "  ${file}: the portable core includes <${header}>\n")
      endif()
    endif()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Layering broken:\n${problems}")
endif()
list(LENGTH files count)
message(STATUS "layering: ${count} files checked")
