# zstd from the sources of Debian's libzstd, unpacked by scripts/setup.sh: no
# mingw-w64 package ships it, and one source serves every build. Two parts:
# zstd_decoder, decompression only and small (freshet.exe links it), and
# zstd_encoder, the compressor on top of it (the publisher's kdrelease and the
# tests). Third-party code: its warnings are not ours, and its headers are
# system headers to those who include them.
set(zstd_cache /var/cache/keldora/libzstd)
if(DEFINED ENV{KELDORA_ZSTD_CACHE})
    set(zstd_cache $ENV{KELDORA_ZSTD_CACHE})
endif()
set(KELDORA_ZSTD_SOURCE ${zstd_cache}/source CACHE PATH
    "The unpacked zstd sources (scripts/setup.sh puts them into KELDORA_ZSTD_CACHE/source)")
set(zstd_lib ${KELDORA_ZSTD_SOURCE}/lib)
if(NOT EXISTS ${zstd_lib}/zstd.h OR NOT EXISTS ${zstd_lib}/decompress/zstd_decompress.c)
    message(FATAL_ERROR "The zstd sources are not in ${KELDORA_ZSTD_SOURCE}: run scripts/setup.sh as root, which "
                        "unpacks Debian's libzstd into ${zstd_cache}/source, or point KELDORA_ZSTD_SOURCE at an "
                        "unpacked tree.")
endif()

# The same choices for both parts, so the common code they share is built once:
# no legacy formats, no error strings (we say why ourselves), one Huffman and
# one sequence decoder, no assembly (mingw and native alike), no trace hooks.
set(zstd_definitions ZSTD_LEGACY_SUPPORT=0 ZSTD_STRIP_ERROR_STRINGS HUF_FORCE_DECOMPRESS_X1
    ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_DISABLE_ASM DYNAMIC_BMI2=0 ZSTD_TRACE=0 ZSTD_NO_INLINE)

add_library(zstd_decoder STATIC
    ${zstd_lib}/common/debug.c
    ${zstd_lib}/common/entropy_common.c
    ${zstd_lib}/common/error_private.c
    ${zstd_lib}/common/fse_decompress.c
    ${zstd_lib}/common/xxhash.c
    ${zstd_lib}/common/zstd_common.c
    ${zstd_lib}/decompress/huf_decompress.c
    ${zstd_lib}/decompress/zstd_ddict.c
    ${zstd_lib}/decompress/zstd_decompress.c
    ${zstd_lib}/decompress/zstd_decompress_block.c
)
target_compile_definitions(zstd_decoder PRIVATE ${zstd_definitions})
target_compile_options(zstd_decoder PRIVATE -w -Os)
target_include_directories(zstd_decoder SYSTEM PUBLIC ${zstd_lib})
keldora_fuzz_coverage(zstd_decoder)

add_library(zstd_encoder STATIC
    ${zstd_lib}/common/pool.c
    ${zstd_lib}/common/threading.c
    ${zstd_lib}/compress/fse_compress.c
    ${zstd_lib}/compress/hist.c
    ${zstd_lib}/compress/huf_compress.c
    ${zstd_lib}/compress/zstd_compress.c
    ${zstd_lib}/compress/zstd_compress_literals.c
    ${zstd_lib}/compress/zstd_compress_sequences.c
    ${zstd_lib}/compress/zstd_compress_superblock.c
    ${zstd_lib}/compress/zstd_double_fast.c
    ${zstd_lib}/compress/zstd_fast.c
    ${zstd_lib}/compress/zstd_lazy.c
    ${zstd_lib}/compress/zstd_ldm.c
    ${zstd_lib}/compress/zstd_opt.c
    ${zstd_lib}/compress/zstdmt_compress.c
)
target_compile_definitions(zstd_encoder PRIVATE ${zstd_definitions})
target_compile_options(zstd_encoder PRIVATE -w)
target_link_libraries(zstd_encoder PUBLIC zstd_decoder)
