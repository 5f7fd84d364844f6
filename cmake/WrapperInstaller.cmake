# wrapper_add_installer: packs (and signs) an installer as a step of a
# product's own build.
#
#   find_package(WrapperInstaller CONFIG REQUIRED)   # installed package, or
#   include(WrapperInstaller)          # with this folder on CMAKE_MODULE_PATH
#   wrapper_add_installer(Setup
#     [STUB path/to/ZuvidaDiroVivuv.exe]   # default: the package's stub
#     PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload
#     OUTPUT      ${CMAKE_BINARY_DIR}/Setup.exe
#     [LEVEL 10] [JOBS N] [EXCLUDE GLOB...] [EXCLUDE_FROM FILE] [DEPENDS target-or-file...]
#     [SIGN_PKCS12 cert.p12 [PASSWORD_ENV VAR] [TIMESTAMP URL]])
#
# Adds the target NAME (built by default) that runs `wrapper-tool pack`, and
# `wrapper-tool sign` when SIGN_PKCS12 is given. The installer is rebuilt
# when the stub, the tool, the certificate or any file below PAYLOAD_DIR
# changes, and when a file or folder is added, removed or renamed there:
# every build lists the folder and compares the list with the last one
# (NAME_inputs). A payload that a target of the same build produces is named
# with DEPENDS. The password is read from the environment variable
# PASSWORD_ENV at build time; it never enters the build files.
#
# OUTPUT only ever holds a finished installer, signed when SIGN_PKCS12 is
# given: it is packed and signed as a temporary in OUTPUT's folder and
# renamed at the end; a failed step leaves neither OUTPUT nor the temporary.
#
# The tool is WRAPPER_TOOL (cache variable), else the imported target
# WrapperInstaller::wrapper-tool, else `wrapper-tool` on PATH.

set(_WRAPPER_INSTALLER_STEP "${CMAKE_CURRENT_LIST_DIR}/WrapperInstallerStep.cmake")

# A value as a bracket argument, so that no character of a path or pattern
# (quotes, ';', '$', '\', parentheses) is read as CMake syntax.
function(_wrapper_bracket out)
  set(quoted "")
  foreach(value IN LISTS ARGN)
    string(APPEND quoted " [==[${value}]==]")
  endforeach()
  set(${out} "${quoted}" PARENT_SCOPE)
endfunction()

function(wrapper_add_installer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
    "STUB;PAYLOAD_DIR;OUTPUT;LEVEL;JOBS;SIGN_PKCS12;PASSWORD_ENV;TIMESTAMP;EXCLUDE_FROM"
    "EXCLUDE;DEPENDS")
  foreach(required PAYLOAD_DIR OUTPUT)
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

  if(WRAPPER_TOOL)
    set(tool "${WRAPPER_TOOL}")
  elseif(TARGET WrapperInstaller::wrapper-tool)
    set(tool "$<TARGET_FILE:WrapperInstaller::wrapper-tool>")
  else()
    find_program(WRAPPER_TOOL wrapper-tool)
    if(NOT WRAPPER_TOOL)
      message(FATAL_ERROR "wrapper_add_installer: set WRAPPER_TOOL to the wrapper-tool program")
    endif()
    set(tool "${WRAPPER_TOOL}")
  endif()
  if(arg_STUB)
    get_filename_component(stub "${arg_STUB}" ABSOLUTE)
  elseif(TARGET WrapperInstaller::stub)
    set(stub "$<TARGET_FILE:WrapperInstaller::stub>")
  else()
    message(FATAL_ERROR "wrapper_add_installer(${name}): STUB is required (no WrapperInstaller::stub)")
  endif()

  get_filename_component(payload "${arg_PAYLOAD_DIR}" ABSOLUTE)
  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(pkcs12 "")
  if(arg_SIGN_PKCS12)
    get_filename_component(pkcs12 "${arg_SIGN_PKCS12}" ABSOLUTE)
  endif()
  set(exclude_from "")
  if(arg_EXCLUDE_FROM)
    get_filename_component(exclude_from "${arg_EXCLUDE_FROM}" ABSOLUTE)
  endif()

  # What the build step needs, written once here: no value travels on a
  # command line, where CMake and the shell would each read it their way.
  set(listing_file "${CMAKE_CURRENT_BINARY_DIR}/${name}.inputs")
  set(config "${CMAKE_CURRENT_BINARY_DIR}/${name}.installer.cmake")
  set(content "")
  foreach(setting tool stub payload output pkcs12 exclude_from listing_file)
    _wrapper_bracket(value "${${setting}}")
    string(APPEND content "set(${setting}${value})\n")
  endforeach()
  foreach(setting LEVEL JOBS PASSWORD_ENV TIMESTAMP EXCLUDE)
    _wrapper_bracket(value ${arg_${setting}})
    string(TOLOWER ${setting} variable)
    string(APPEND content "set(${variable}${value})\n")
  endforeach()
  file(GENERATE OUTPUT "${config}" CONTENT "${content}")

  # Edits to known files are seen through DEPENDS; the folder is re-listed at
  # build time, and the list file changes only when the listing does.
  file(GLOB_RECURSE payload_files LIST_DIRECTORIES false CONFIGURE_DEPENDS "${payload}/*")
  add_custom_target(${name}_inputs
    COMMAND "${CMAKE_COMMAND}" -Dstep=inputs "-Dconfig=${config}" -P "${_WRAPPER_INSTALLER_STEP}"
    BYPRODUCTS "${listing_file}"
    VERBATIM)

  set(comment "Packing ${name}")
  if(pkcs12)
    set(comment "Packing and signing ${name}")
  endif()
  add_custom_command(OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" -Dstep=pack "-Dconfig=${config}" -P "${_WRAPPER_INSTALLER_STEP}"
    DEPENDS "${stub}" "${tool}" "${listing_file}" "${config}" "${_WRAPPER_INSTALLER_STEP}" ${payload_files}
            ${arg_DEPENDS} ${pkcs12} ${exclude_from}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS "${output}")
  add_dependencies(${name} ${name}_inputs)
endfunction()
