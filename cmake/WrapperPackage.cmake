# `cmake --install` and `cpack -G DEB`: wrapper-tool, the stub and the CMake
# package that lets another product call wrapper_add_installer().
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(WRAPPER_STUB_NAME "ZuvidaDiroVivuv.exe")
set(WRAPPER_DATA_DIR "${CMAKE_INSTALL_DATADIR}/WrapperInstaller")
set(WRAPPER_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/WrapperInstaller")

install(TARGETS wrapper-tool EXPORT WrapperInstallerTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ZuvidaDiroVivuv)
  install(PROGRAMS $<TARGET_FILE:ZuvidaDiroVivuv> DESTINATION ${WRAPPER_DATA_DIR})
else()
  # The native tree does not build the stub: it ships the cross-built one,
  # by default the i686 tree's, when that exists at install time.
  set(WRAPPER_STUB_EXE "" CACHE FILEPATH
      "The cross-built stub to install (default: ${WRAPPER_BIN_DIR}/${WRAPPER_STUB_NAME} if built)")
  if(WRAPPER_STUB_EXE)
    install(PROGRAMS "${WRAPPER_STUB_EXE}" DESTINATION ${WRAPPER_DATA_DIR} RENAME ${WRAPPER_STUB_NAME})
  else()
    install(PROGRAMS "${WRAPPER_BIN_DIR}/${WRAPPER_STUB_NAME}" DESTINATION ${WRAPPER_DATA_DIR} OPTIONAL)
  endif()
endif()

install(EXPORT WrapperInstallerTargets NAMESPACE WrapperInstaller:: DESTINATION ${WRAPPER_CMAKE_DIR})
configure_package_config_file(cmake/WrapperInstallerConfig.cmake.in
  ${CMAKE_BINARY_DIR}/WrapperInstallerConfig.cmake
  INSTALL_DESTINATION ${WRAPPER_CMAKE_DIR}
  PATH_VARS WRAPPER_DATA_DIR)
# Only programs inside: any consumer, whatever its languages, may use it.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/WrapperInstallerConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/WrapperInstallerConfig.cmake
              ${CMAKE_BINARY_DIR}/WrapperInstallerConfigVersion.cmake
              cmake/WrapperInstaller.cmake cmake/WrapperInstallerStep.cmake
        DESTINATION ${WRAPPER_CMAKE_DIR})

set(CPACK_PACKAGE_NAME "wrapper-installer")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Norvik")
set(CPACK_PACKAGE_CONTACT "Norvik release engineering")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "wrapper-tool and the ${WRAPPER_STUB_NAME} stub: pack, sign and verify installers")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "devel")
# The run-time libraries the tool links (zlib, libdeflate), as dpkg finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "osslsigncode, cmake")
include(CPack)
