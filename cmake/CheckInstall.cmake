# Script mode: -DBUILD_DIR=<build tree> -DSOURCE_DIR=<source tree> -DPREFIX=<scratch folder>
#   [-DRUN_CLIENT=0 when the binaries are for another machine]
# Installs the build tree into PREFIX and checks what landed there.
cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

# expect_lines(<file below PREFIX> <line>...): the file exists and holds each line.
function(expect_lines path)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(SEND_ERROR "not installed: ${path}")
    return()
  endif()
  file(STRINGS "${PREFIX}/${path}" lines)
  foreach(expected IN LISTS ARGN)
    if(NOT expected IN_LIST lines)
      message(SEND_ERROR "${path}: no line '${expected}'")
    endif()
  endforeach()
endfunction()

foreach(program photomanager photomanager-ctl)
  expect_lines(bin/${program})
endforeach()
if(NOT DEFINED RUN_CLIENT OR RUN_CLIENT)
  execute_process(COMMAND "${PREFIX}/bin/photomanager-ctl" --help
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(SEND_ERROR "bin/photomanager-ctl --help: exit status ${result}")
  endif()
endif()

set(interface share/dbus-1/interfaces/com.zandrel.quor.photointerface.xml)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
  "${SOURCE_DIR}/data/com.zandrel.quor.photointerface.xml" "${PREFIX}/${interface}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(SEND_ERROR "${interface}: missing or not the interface file")
endif()

expect_lines(lib/systemd/user/photomanager.service
  "Type=dbus" "BusName=com.zandrel.quor.photomanager" "ExecStart=${PREFIX}/bin/photomanager")
expect_lines(share/dbus-1/services/com.zandrel.quor.photomanager.service
  "[D-BUS Service]" "Name=com.zandrel.quor.photomanager" "Exec=${PREFIX}/bin/photomanager"
  "SystemdService=photomanager.service")
expect_lines(lib/tmpfiles.d/photomanager.conf "d /opt/quor/data/photo 0755 - - -")

file(REMOVE_RECURSE "${PREFIX}")
