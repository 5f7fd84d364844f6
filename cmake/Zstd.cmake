# wrapper_zstd: zstd for every tree, one target name.
#   native   Debian's libzstd (the static archive when there is one, so the
#            tool needs no new run-time library); it compresses too, hence
#            WRAPPER_ZSTD_ENCODER=1.
#   Windows  the decoder alone, built from zstd's own sources (Debian's source
#            package, fetched once by scripts/zstd-source.sh into
#            WRAPPER_ZSTD_SOURCE_DIR, shared by the trees).
# Users include <zstd.h> with ZSTD_STATIC_LINKING_ONLY for the advanced
# decoder API (refPrefix, stableOutBuffer, getFrameHeader).

if(NOT WRAPPER_WINDOWS)
  find_path(WRAPPER_ZSTD_INCLUDE_DIR zstd.h)
  find_library(WRAPPER_ZSTD_LIBRARY NAMES libzstd.a zstd)
  if(NOT WRAPPER_ZSTD_INCLUDE_DIR OR NOT WRAPPER_ZSTD_LIBRARY)
    message(FATAL_ERROR "libzstd missing: run scripts/install-deps.sh")
  endif()
  add_library(wrapper_zstd INTERFACE)
  target_include_directories(wrapper_zstd SYSTEM INTERFACE "${WRAPPER_ZSTD_INCLUDE_DIR}")
  target_link_libraries(wrapper_zstd INTERFACE "${WRAPPER_ZSTD_LIBRARY}")
  target_compile_definitions(wrapper_zstd INTERFACE WRAPPER_ZSTD_ENCODER=1)
  return()
endif()

set(WRAPPER_ZSTD_SOURCE_DIR "${CMAKE_SOURCE_DIR}/build/zstd-source" CACHE PATH
    "zstd's sources for the Windows decoder (fetched by scripts/zstd-source.sh when missing)")
# The stub carries the decoder. The fast one (both Huffman and both sequence
# decoders, -O2; about 94 KB in i686) unpacks a solid installer under Wine in
# about half the time of the small one (-Os, one of each, about 46 KB): the
# bench's stub figures chose it (docs/solid-blocks.md).
option(WRAPPER_ZSTD_SMALL "Build the Windows zstd decoder for size rather than speed" OFF)

if(NOT EXISTS "${WRAPPER_ZSTD_SOURCE_DIR}/lib/zstd.h")
  execute_process(COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/zstd-source.sh" "${WRAPPER_ZSTD_SOURCE_DIR}"
                  RESULT_VARIABLE zstd_fetch)
  if(NOT zstd_fetch EQUAL 0)
    message(FATAL_ERROR "zstd's sources could not be fetched into ${WRAPPER_ZSTD_SOURCE_DIR}")
  endif()
endif()

set(zstd_lib "${WRAPPER_ZSTD_SOURCE_DIR}/lib")
file(GLOB zstd_sources CONFIGURE_DEPENDS "${zstd_lib}/common/*.c" "${zstd_lib}/decompress/*.c")
add_library(wrapper_zstd STATIC ${zstd_sources})
target_include_directories(wrapper_zstd SYSTEM PUBLIC "${zstd_lib}")
# No legacy formats, no hand-written x86_64 loop (its .S is not built), no
# trace hooks, no threads, no debug checks.
target_compile_definitions(wrapper_zstd PRIVATE
  ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM ZSTD_NO_TRACE ZSTD_TRACE=0 DEBUGLEVEL=0)
if(WRAPPER_ZSTD_SMALL)
  target_compile_definitions(wrapper_zstd PRIVATE
    HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_STRIP_ERROR_STRINGS)
  target_compile_options(wrapper_zstd PRIVATE -Os)
else()
  target_compile_options(wrapper_zstd PRIVATE -O2)
endif()
# zstd's code, not ours: our warning set is not its. Nothing unwinds through
# it (the stub has no exceptions), so it needs no unwind tables, and unused
# functions drop out at the link.
target_compile_options(wrapper_zstd PRIVATE -w -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
