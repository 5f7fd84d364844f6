# wrapper_add_installer: packs (and signs) an installer as a step of a
# product's own build.
#
#   include(WrapperInstaller)   # with this folder on CMAKE_MODULE_PATH
#   wrapper_add_installer(Setup
#     STUB        path/to/ZuvidaDiroVivuv.exe
#     PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload
#     OUTPUT      ${CMAKE_BINARY_DIR}/Setup.exe
#     [LEVEL 10] [JOBS N] [EXCLUDE GLOB...] [DEPENDS target-or-file...]
#     [SIGN_PKCS12 cert.p12 [PASSWORD_ENV VAR] [TIMESTAMP URL]])
#
# Adds the target NAME (built by default) that runs `wrapper-tool pack`, and
# `wrapper-tool sign` when SIGN_PKCS12 is given. The installer is rebuilt
# when the stub, the tool or any file below PAYLOAD_DIR changes; files added
# to or removed from PAYLOAD_DIR are noticed at the next build (the list is
# re-read with CONFIGURE_DEPENDS). A payload that a target of the same build
# produces is named with DEPENDS. The password is read from the environment
# variable PASSWORD_ENV at build time; it never enters the build files.
#
# The tool is WRAPPER_TOOL (cache variable), else `wrapper-tool` on PATH.

function(wrapper_add_installer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
    "STUB;PAYLOAD_DIR;OUTPUT;LEVEL;JOBS;SIGN_PKCS12;PASSWORD_ENV;TIMESTAMP"
    "EXCLUDE;DEPENDS")
  foreach(required STUB PAYLOAD_DIR OUTPUT)
    if(NOT arg_${required})
      message(FATAL_ERROR "wrapper_add_installer(${name}): ${required} is required")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "wrapper_add_installer(${name}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(arg_PASSWORD_ENV AND NOT arg_SIGN_PKCS12)
    message(FATAL_ERROR "wrapper_add_installer(${name}): PASSWORD_ENV goes with SIGN_PKCS12")
  endif()

  if(NOT WRAPPER_TOOL)
    find_program(WRAPPER_TOOL wrapper-tool)
    if(NOT WRAPPER_TOOL)
      message(FATAL_ERROR "wrapper_add_installer: set WRAPPER_TOOL to the wrapper-tool program")
    endif()
  endif()

  get_filename_component(stub "${arg_STUB}" ABSOLUTE)
  get_filename_component(payload "${arg_PAYLOAD_DIR}" ABSOLUTE)
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")

  # Every payload file is a dependency; CONFIGURE_DEPENDS re-lists the folder
  # at build time so that a new or deleted file also triggers a repack.
  file(GLOB_RECURSE payload_files LIST_DIRECTORIES false CONFIGURE_DEPENDS "${payload}/*")

  set(pack_args pack "${stub}" "${payload}" -o "${output}" --quiet)
  if(DEFINED arg_LEVEL)
    list(APPEND pack_args --level ${arg_LEVEL})
  endif()
  if(arg_JOBS)
    list(APPEND pack_args -j ${arg_JOBS})
  endif()
  foreach(pattern IN LISTS arg_EXCLUDE)
    list(APPEND pack_args "--exclude=${pattern}")
  endforeach()

  set(comment "Packing ${name}")
  if(arg_SIGN_PKCS12)
    # Packed beside, then signed into OUTPUT: a failed signing leaves no
    # OUTPUT behind, so the next build tries again instead of shipping an
    # unsigned installer.
    get_filename_component(pkcs12 "${arg_SIGN_PKCS12}" ABSOLUTE)
    set(unsigned "${CMAKE_CURRENT_BINARY_DIR}/${name}.unsigned.exe")
    list(TRANSFORM pack_args REPLACE "^${output}$" "${unsigned}")
    set(sign_args sign "${unsigned}" --pkcs12 "${pkcs12}" -o "${output}")
    if(arg_PASSWORD_ENV)
      list(APPEND sign_args --password-env ${arg_PASSWORD_ENV})
    endif()
    if(arg_TIMESTAMP)
      list(APPEND sign_args --timestamp "${arg_TIMESTAMP}")
    endif()
    set(commands COMMAND "${WRAPPER_TOOL}" ${pack_args} COMMAND "${WRAPPER_TOOL}" ${sign_args})
    set(comment "Packing and signing ${name}")
  else()
    set(commands COMMAND "${WRAPPER_TOOL}" ${pack_args})
  endif()

  add_custom_command(OUTPUT "${output}"
    ${commands}
    DEPENDS "${stub}" "${WRAPPER_TOOL}" ${payload_files} ${arg_DEPENDS} ${pkcs12}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
endfunction()
