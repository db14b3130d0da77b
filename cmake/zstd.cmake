# The zstd decoder for the Windows builds, from Debian's source package (fetched by scripts/install-deps):
# lib/common and lib/decompress only. No compressor, no legacy frame formats, and C in place of the
# x86-64 assembler file, which is written for the System V calling convention.
set(ZSTD_SRC ${VYR_DEPS_DIR}/zstd-src/lib)
if(NOT EXISTS ${ZSTD_SRC}/decompress/zstd_decompress.c)
  message(FATAL_ERROR "zstd sources not found in ${ZSTD_SRC}: run scripts/install-deps")
endif()
add_library(zstd_decoder STATIC
  ${ZSTD_SRC}/common/debug.c
  ${ZSTD_SRC}/common/entropy_common.c
  ${ZSTD_SRC}/common/error_private.c
  ${ZSTD_SRC}/common/fse_decompress.c
  ${ZSTD_SRC}/common/xxhash.c
  ${ZSTD_SRC}/common/zstd_common.c
  ${ZSTD_SRC}/decompress/huf_decompress.c
  ${ZSTD_SRC}/decompress/zstd_ddict.c
  ${ZSTD_SRC}/decompress/zstd_decompress.c
  ${ZSTD_SRC}/decompress/zstd_decompress_block.c)
target_include_directories(zstd_decoder PUBLIC ${ZSTD_SRC})
target_compile_definitions(zstd_decoder PRIVATE ZSTD_DISABLE_ASM=1 ZSTD_LEGACY_SUPPORT=0 ZSTD_TRACE=0
                                                 XXH_NAMESPACE=ZSTD_)
# Built optimised whatever the build type: the decoder's speed is the apply speed.
target_compile_options(zstd_decoder PRIVATE -O2 -w)
