# Shared settings and helpers for both configurations.

if(MARLOWICK_WINDOWS)
  # The Windows programs link no C runtime: our own entry, our own memcpy/memset
  # (core/crt_win32.cpp), only system DLLs. They are built for size: -Oz (the decoder, whose
  # loops an installation waits for, -Os), and -malign-data=abi keeps arrays and strings at the
  # alignment their type needs instead of padding them to 32 bytes. Functions get sections of
  # their own (the stub's layout places them one by one); data does not: with a section per
  # variable this compiler stores zero-filled variables in the file instead of leaving them to
  # the zero-filled section, and the link-time optimiser drops unused data anyway.
  set(MARLOWICK_FREESTANDING_FLAGS
      $<IF:$<STREQUAL:$<TARGET_PROPERTY:NAME>,mw_decompress>,-Os,-Oz> -ffreestanding
      -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
      -fomit-frame-pointer -fno-stack-protector -fno-threadsafe-statics -fno-builtin
      -mno-stack-arg-probe -march=i686 -mpreferred-stack-boundary=2 -malign-data=abi
      -ffunction-sections -flto -flto-partition=one)
  add_compile_options(${MARLOWICK_FREESTANDING_FLAGS} -Wall -Wextra)
  add_compile_definitions(MARLOWICK_FREESTANDING=1 WIN32_LEAN_AND_MEAN)
  # The whole program is optimised at the link (inlining across files, register arguments for
  # functions nobody outside calls); the code is generated there, so the link line repeats the
  # flags. Static libraries hold the compiler's intermediate code and need its archiver.
  set(MARLOWICK_FREESTANDING_LINK ${MARLOWICK_FREESTANDING_FLAGS}
      -nostdlib -nostartfiles -Wl,--gc-sections -Wl,--disable-reloc-section
      -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,-s -Wl,--subsystem,windows)
  get_filename_component(mw_compiler_dir "${CMAKE_CXX_COMPILER}" DIRECTORY)
  find_program(MW_GCC_AR NAMES i686-w64-mingw32-gcc-ar HINTS "${mw_compiler_dir}" REQUIRED)
  find_program(MW_GCC_RANLIB NAMES i686-w64-mingw32-gcc-ranlib HINTS "${mw_compiler_dir}" REQUIRED)
  set(CMAKE_AR "${MW_GCC_AR}")
  set(CMAKE_RANLIB "${MW_GCC_RANLIB}")
else()
  add_compile_options(-Wall -Wextra)
  if(MARLOWICK_FUZZ)
    # libFuzzer build (clang): every library is instrumented for coverage and checked by the
    # sanitizers; the fuzz targets add the fuzzer's own main.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=address,undefined)
  elseif(MARLOWICK_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
  find_package(GTest REQUIRED)
  enable_testing()
endif()

# marlowick_windows_exe(NAME SOURCES... LIBS lib...) : a freestanding GUI program copied to dist/.
function(marlowick_windows_exe name)
  cmake_parse_arguments(ARG "" "ENTRY" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_ENTRY)
    set(ARG_ENTRY entryPoint)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_options(${name} PRIVATE ${MARLOWICK_FREESTANDING_LINK} -Wl,-e,_${ARG_ENTRY}@0)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gcc)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MARLOWICK_DIST}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> ${MARLOWICK_DIST}/)
endfunction()

# marlowick_test(NAME SOURCES... LIBS lib... LABELS l...) : a GoogleTest binary registered with CTest.
function(marlowick_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  if(MARLOWICK_FUZZ)
    # The fuzzing configuration builds libraries and fuzz targets; tests only on request.
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

# marlowick_fuzzer(NAME SOURCES... LIBS lib...) : a libFuzzer target (fuzzing configuration only).
function(marlowick_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT MARLOWICK_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
