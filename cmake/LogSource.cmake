# Each log line names its source file relative to src/ and without extension
# ("dbus/DBusInterface"). The name is fixed per translation unit here, so the
# log call needs no string work at run time.
function(photomanager_set_log_sources target base_dir)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.cpp$" AND NOT IS_ABSOLUTE "${source}")
      get_filename_component(dir "${source}" DIRECTORY)
      get_filename_component(name "${source}" NAME_WE)
      if(dir)
        set(log_name "${dir}/${name}")
      else()
        set(log_name "${name}")
      endif()
      set_property(SOURCE "${source}" APPEND PROPERTY
        COMPILE_DEFINITIONS "PHOTOMANAGER_LOG_SOURCE=\"${log_name}\"")
    endif()
  endforeach()
endfunction()

# Turns an interface XML file into a header that defines MACRO_NAME as the
# file's <interface> element, comments included, as a C string literal.
# qdbusxml2cpp drops comments, and clients read them through introspection.
function(photomanager_introspection_header xml_file macro_name out_header)
  add_custom_command(
    OUTPUT "${out_header}"
    COMMAND ${CMAKE_COMMAND} -DXML=${xml_file} -DMACRO=${macro_name} -DOUT=${out_header}
            -P ${PROJECT_SOURCE_DIR}/cmake/IntrospectionToHeader.cmake
    DEPENDS "${xml_file}" ${PROJECT_SOURCE_DIR}/cmake/IntrospectionToHeader.cmake
    COMMENT "Embedding introspection of ${xml_file}"
    VERBATIM)
endfunction()
