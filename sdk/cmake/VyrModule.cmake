# vyr_add_module(<target>
#     SOURCES <file>...
#     [COMMANDS <file.xml>]     command file, placed beside the library as <name>.xml
#     [DESTINATION <dir>]       module directory; default ${VYR_APP_DIR}/dlls
#     [VARIANT qt6]             into <dir>/qt6, the build the server prefers
#     [OUTPUT_NAME <name>]      library file <name>.so; default <target>
#     [UNSIGNED]                leave the signature block off
#     [TAMPER])                 change one byte after signing (tests only)
#
# Builds a plug-in module: a MODULE library without "lib" prefix, linked with Qt6::Core
# only, signed after every link with the build's module-signing key. Its run path is
# $ORIGIN/<name>, the directory for its own additional libraries. Link more with
# target_link_libraries(<target> PRIVATE ...).

set(VYR_SDK_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR}/../include CACHE INTERNAL "Module SDK headers")
# The exception classes a module may throw are declared once, by the server; the SDK
# ships copies of those very headers.
set(VYR_SDK_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/sdk-include CACHE INTERNAL "Generated module SDK headers")
foreach(header ServerClass.h BaseException.h NotImplementedException.h UnsupportedCharsException.h)
  configure_file(${PROJECT_SOURCE_DIR}/src/common/${header} ${VYR_SDK_GENERATED_INCLUDE_DIR}/veltrane/${header} COPYONLY)
endforeach()
set(VYR_SDK_TAMPER_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/vyr-tamper-module.sh CACHE INTERNAL "Spoils a signed module")

function(vyr_add_module name)
  cmake_parse_arguments(ARG "UNSIGNED;TAMPER" "COMMANDS;DESTINATION;VARIANT;OUTPUT_NAME" "SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "vyr_add_module(${name}): SOURCES missing")
  endif()
  if(ARG_UNSIGNED AND ARG_TAMPER)
    message(FATAL_ERROR "vyr_add_module(${name}): TAMPER needs a signed module")
  endif()
  set(output_name ${name})
  if(ARG_OUTPUT_NAME)
    set(output_name ${ARG_OUTPUT_NAME})
  endif()
  set(destination ${VYR_APP_DIR}/dlls)
  if(ARG_DESTINATION)
    set(destination ${ARG_DESTINATION})
  endif()
  if(ARG_VARIANT)
    string(APPEND destination /${ARG_VARIANT})
  endif()

  add_library(${name} MODULE ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${VYR_SDK_INCLUDE_DIR} ${VYR_SDK_GENERATED_INCLUDE_DIR})
  target_link_libraries(${name} PRIVATE Qt6::Core)
  # The run path is fixed at link time and never rewritten: the signature covers it.
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".so" OUTPUT_NAME ${output_name}
    LIBRARY_OUTPUT_DIRECTORY $<1:${destination}>
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN/${output_name}")

  if(ARG_COMMANDS)
    get_filename_component(commands_source ${ARG_COMMANDS} ABSOLUTE)
    set(commands_target ${destination}/${output_name}.xml)
    add_custom_command(OUTPUT ${commands_target}
      COMMAND ${CMAKE_COMMAND} -E copy ${commands_source} ${commands_target}
      DEPENDS ${commands_source}
      COMMENT "Placing the command file of module ${output_name}" VERBATIM)
    target_sources(${name} PRIVATE ${commands_target})
  endif()

  if(NOT ARG_UNSIGNED)
    add_dependencies(${name} vyr-sign-module)
    # Relink, and so re-sign, when the key changes.
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${VYR_MODULE_SIGNING_PRIVATE_KEY_FILE})
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              $<TARGET_FILE:vyr-sign-module> --key ${VYR_MODULE_SIGNING_PRIVATE_KEY_FILE} $<TARGET_FILE:${name}>
      COMMENT "Signing module ${output_name}" VERBATIM)
  endif()
  if(ARG_TAMPER)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND sh ${VYR_SDK_TAMPER_SCRIPT} $<TARGET_FILE:${name}>
      COMMENT "Tampering with module ${output_name}" VERBATIM)
  endif()
endfunction()
