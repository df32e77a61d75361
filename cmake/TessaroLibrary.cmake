# tessaro_add_codec_library(NAME DIR [PUBLIC_HEADER H]): a static library of every .cpp in DIR. On x86-64 the files
# in DIR/x86 are added too (unless TESSARO_SIMD is OFF), each compiled with only its own
# instruction-set flags: *Sse2.cpp with -msse2, *Avx2.cpp with -mavx2 (dispatch at run time picks
# the best the processor has).
# Only the library's public header (copied to build/include/NAME) is on its users' include path;
# its other headers stay internal and are reached, by tests and benchmarks, as "DIR/Header.h" from
# the source root.
function(tessaro_add_codec_library name dir)
  cmake_parse_arguments(arg "" "PUBLIC_HEADER" "" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(TESSARO_X86)
    file(GLOB sse2 CONFIGURE_DEPENDS ${dir}/x86/*Sse2.cpp)
    file(GLOB avx2 CONFIGURE_DEPENDS ${dir}/x86/*Avx2.cpp)
    set_source_files_properties(${sse2} PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties(${avx2} PROPERTIES COMPILE_OPTIONS "-mavx2")
    list(APPEND sources ${sse2} ${avx2})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PRIVATE ${dir})
  if(arg_PUBLIC_HEADER)
    set(public_dir ${CMAKE_BINARY_DIR}/include/${name})
    configure_file(${dir}/${arg_PUBLIC_HEADER} ${public_dir}/${arg_PUBLIC_HEADER} COPYONLY)
    target_include_directories(${name} PUBLIC ${public_dir})
  endif()
endfunction()
