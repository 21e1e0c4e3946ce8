# Script mode: -DBUILD_DIR=<build tree> -DSOURCE_DIR=<source tree> -DPREFIX=<scratch folder>
#   -DVERSION=<project version> -DPHOTO_OWNER=<user:group of the photo folder>
#   [-DRUN_CLIENT=0 when the binaries are for another machine]
# Installs the build tree, and the simulated device's component, into PREFIX
# and checks what landed there: the files and the paths inside them, the
# systemd unit (verify, security exposure), the tmpfiles entry, the manual
# pages, the shell completion, the pkg-config file, and, when the binaries
# run here, the daemon's --version and D-Bus activation of the installed
# daemon.
cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE "${PREFIX}")
foreach(component "" --component=sim)
  execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}" ${component}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install ${component} failed:\n${output}")
  endif()
endforeach()
if(NOT DEFINED RUN_CLIENT)
  set(RUN_CLIENT 1)
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

# run(<what> <expected output or *> <command>...): the command succeeds, writes
# nothing on standard error and, unless * is given, exactly the expected output.
function(run what expected)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(run_output "${out}" PARENT_SCOPE)
  if(NOT result EQUAL 0 OR NOT err STREQUAL "" OR NOT (expected STREQUAL "*" OR out STREQUAL expected))
    message(SEND_ERROR "${what}: status ${result}\n${out}\n${err}")
  endif()
endfunction()

set(daemon libexec/photomanager/photomanager)
foreach(file ${daemon} bin/photomanager-ctl bin/photomanager-sim share/photomanager/sim/device
    share/photomanager/sim/cameramanager.py)
  expect_lines(${file})
endforeach()
# The command of the simulated device finds its launcher below the prefix.
run("photomanager-sim --help" * "${PREFIX}/bin/photomanager-sim" --help)
if(RUN_CLIENT)
  run("photomanager --version" "photomanager ${VERSION}" "${PREFIX}/${daemon}" --version)
  run("photomanager-ctl --help" * "${PREFIX}/bin/photomanager-ctl" --help)
  set(help "${run_output}")
  run("photomanager-ctl --version" "photomanager-ctl ${VERSION}"
    "${PREFIX}/bin/photomanager-ctl" --version)
endif()

set(interfaces share/dbus-1/interfaces)
foreach(interface photointerface photostate)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
    "${SOURCE_DIR}/data/com.zandrel.quor.${interface}.xml"
    "${PREFIX}/${interfaces}/com.zandrel.quor.${interface}.xml" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(SEND_ERROR "${interfaces}: ${interface} missing or not the interface file")
  endif()
endforeach()
# A client build finds the interface through pkg-config.
set(ENV{PKG_CONFIG_LIBDIR} "${PREFIX}/share/pkgconfig")
run("pkg-config interfaces_dir" "${PREFIX}/${interfaces}"
  pkg-config --variable=interfaces_dir photomanager)
run("pkg-config --modversion" "${VERSION}" pkg-config --modversion photomanager)

set(unit lib/systemd/user/photomanager.service)
expect_lines(${unit} "ConditionUser=!root" "Type=dbus" "BusName=com.zandrel.quor.photomanager"
  "ExecStart=${PREFIX}/${daemon}" "Restart=on-failure" "PrivateUsers=yes")
expect_lines(share/dbus-1/services/com.zandrel.quor.photomanager.service
  "[D-BUS Service]" "Name=com.zandrel.quor.photomanager" "Exec=${PREFIX}/${daemon}"
  "SystemdService=photomanager.service")
# The unit is clean (its Documentation= page is looked up among the installed
# ones) and its sandbox rates 2.0 or lower.
set(ENV{MANPATH} "${PREFIX}/share/man")
run("systemd-analyze verify" "" systemd-analyze verify "${PREFIX}/${unit}")
run("systemd-analyze security" * systemd-analyze security --offline=true "${PREFIX}/${unit}")
if(NOT run_output MATCHES "Overall exposure level for photomanager.service: ([0-9.]+)")
  message(SEND_ERROR "systemd-analyze security: no exposure level in\n${run_output}")
elseif(CMAKE_MATCH_1 GREATER 2.0)
  message(SEND_ERROR "systemd-analyze security: exposure ${CMAKE_MATCH_1}, more than 2.0")
endif()

# tmpfiles.d creates the photo folder for the account of the user unit: the
# owner set when building, resolved in the scratch root when it is a name.
set(root "${PREFIX}/tmpfiles-root")
file(MAKE_DIRECTORY "${root}/etc")
string(REPLACE ":" ";" owner "${PHOTO_OWNER}")
set(ids)
foreach(name passwd group)
  list(POP_FRONT owner id)
  if(NOT id MATCHES "^[0-9]+$")
    file(APPEND "${root}/etc/${name}" "${id}:x:4321:4321::/:/bin/false\n")
    set(id 4321)
  endif()
  string(APPEND ids "${id} ")
endforeach()
run("systemd-tmpfiles --create" "" systemd-tmpfiles --create "--root=${root}"
  "${PREFIX}/lib/tmpfiles.d/photomanager.conf")
run("photo folder owner and mode" "${ids}775 directory" stat -c "%u %g %a %F" "${root}/opt/quor/data/photo")

# The manual pages render without a warning.
foreach(page man8/photomanager.8 man1/photomanager-ctl.1 man1/photomanager-sim.1)
  expect_lines(share/man/${page})
  run("${page}" * groff -man -Tutf8 -ww -z "${PREFIX}/share/man/${page}")
endforeach()

# The completion offers the commands of --help, and on and off after enable.
set(completion "${PREFIX}/share/bash-completion/completions/photomanager-ctl")
foreach(words "''" "enable ''")
  run("completion of ${words}" * bash -c "source '${completion}' && COMP_WORDS=(photomanager-ctl ${words}) && COMP_CWORD=\${#COMP_WORDS[@]}-1 && _photomanager_ctl && echo \${COMPREPLY[*]}")
  list(APPEND completed "${run_output}")
endforeach()
string(REGEX REPLACE ".*\nCommands:\n(.*)\n\n'<command>.*" "\\1" commands "${help}")
string(REGEX MATCHALL "(^|\n)  ([a-z]+) " commands "${commands}")
string(REGEX REPLACE "\n?  ([a-z]+) " "\\1" commands "${commands}")
string(REPLACE ";" " " commands "${commands}")
if(NOT RUN_CLIENT)
  set(commands "take stream stop enable status show monitor")
endif()
if(NOT completed STREQUAL "${commands};on off")
  message(SEND_ERROR "completion offers '${completed}', --help lists '${commands}'")
endif()

if(RUN_CLIENT)
  run("activation" "" "${SOURCE_DIR}/tests/install/check-activation.sh" "${PREFIX}")
endif()

file(REMOVE_RECURSE "${PREFIX}")
