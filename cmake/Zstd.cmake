# zstd for every tree: Debian's libzstd natively (the tool packs and reads
# solid blocks). Placeholder until the Windows decoder build lands.
find_path(ZSTD_INCLUDE_DIR zstd.h)
find_library(ZSTD_LIBRARY NAMES libzstd.a zstd)
add_library(wrapper_zstd INTERFACE)
target_include_directories(wrapper_zstd INTERFACE ${ZSTD_INCLUDE_DIR})
target_link_libraries(wrapper_zstd INTERFACE ${ZSTD_LIBRARY})
target_compile_definitions(wrapper_zstd INTERFACE WRAPPER_ZSTD_ENCODER=1)
