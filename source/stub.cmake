# The stub's Windows-only parts, as a library the tests link, and the stub itself.
add_library(wrapper_stub STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/EntryFailureLog_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/EntryFile_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/EntryPlace_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Launch_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/LongPath_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/OsGate_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RetryPolicy_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/RunInputs_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/UnpackDriver_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WorkArea_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/WorkAreaLock_win.cpp
)
target_include_directories(wrapper_stub PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(wrapper_stub PUBLIC wrapper_zip wrapper_core wrapper_mapping wrapper_unpack wrapper_win wrapper_logger wrapper_version
                      shell32 shlwapi advapi32 user32)

# The stub: small, GUI subsystem, Windows Vista (6.0) as the oldest loader.
add_executable(ZuvidaDiroVivuv WIN32
  ${CMAKE_CURRENT_SOURCE_DIR}/DuzoRizedAroriva_win.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/StubRuntime.cpp
  ${CMAKE_SOURCE_DIR}/resources/DuzoRizedAroriva.rc
)
target_link_libraries(ZuvidaDiroVivuv PRIVATE wrapper_stub)
target_compile_options(ZuvidaDiroVivuv PRIVATE -Os)
target_link_options(ZuvidaDiroVivuv PRIVATE
  -s -Wl,--gc-sections
  -Wl,--major-os-version=6,--minor-os-version=0
  -Wl,--major-subsystem-version=6,--minor-subsystem-version=0
  -Wl,--dynamicbase,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Up to 4 GiB of address space on 64-bit Windows (3 GiB on /3GB systems),
  # so the payload's views and the heap do not compete for 2 GiB. A 64-bit
  # image has it already.
  target_link_options(ZuvidaDiroVivuv PRIVATE -Wl,--large-address-aware)
endif()
