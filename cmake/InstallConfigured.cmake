# Included by the install code of data/CMakeLists.txt, with TEMPLATE,
# DESTINATION (below the prefix), PHOTOMANAGER_LIBEXECDIR, PHOTOMANAGER_DATADIR
# and the other PHOTOMANAGER_* values set. Runs when installing, so that the
# paths inside follow the prefix given to cmake --install as well.
set(file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${DESTINATION}")

# The same paths as manual pages print them: minus signs as \-, and a break
# point (\:) after each slash so that a long prefix still fits the line.
function(photomanager_roff_path out path)
  string(REPLACE "-" "\\-" path "${path}")
  string(REPLACE "/" "/\\:" path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
photomanager_roff_path(PHOTOMANAGER_ROFF_PREFIX "${CMAKE_INSTALL_PREFIX}")
photomanager_roff_path(PHOTOMANAGER_ROFF_LIBEXECDIR "${PHOTOMANAGER_LIBEXECDIR}")
photomanager_roff_path(PHOTOMANAGER_ROFF_DATADIR "${PHOTOMANAGER_DATADIR}")

message(STATUS "Installing: ${file}")
configure_file("${TEMPLATE}" "${file}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
