# stub.exe: the installer engine. Included by startup/CMakeLists.txt in the Windows configuration.
#
# A freestanding 32-bit GUI program (no C runtime, system DLLs only) with the wizard's dialog
# template, the icon group and the manifest, and 12 bytes at file offset 15856 that belong to no
# code or data: the packager writes the locator record there. They lie in the file padding at
# the end of the first section (stub_win32.ld). A probe link measures every function and
# constant; the real link fills the first section with as many as fit before the offset and
# puts the rest after it (tools/stub_layout.cmake). The host build finishes the image and
# verifies it; the build fails if anything covers the bytes.

set(MW_STUB_DIR ${CMAKE_CURRENT_SOURCE_DIR})
set(MW_STUB_GEN ${CMAKE_CURRENT_BINARY_DIR}/stub)
file(MAKE_DIRECTORY ${MW_STUB_GEN})

# The resources, compiled once by windres into an object both links take.
set(MW_STUB_RC ${PROJECT_SOURCE_DIR}/resources/stub/stub.rc)
add_custom_command(
  OUTPUT ${MW_STUB_GEN}/stub_res.o
  COMMAND ${CMAKE_RC_COMPILER} -O coff
          -I ${PROJECT_SOURCE_DIR}/resources/stub -I ${PROJECT_SOURCE_DIR}/resources/common
          -i ${MW_STUB_RC} -o ${MW_STUB_GEN}/stub_res.o
  DEPENDS ${MW_STUB_RC} ${PROJECT_SOURCE_DIR}/resources/stub/dialog.rc
          ${PROJECT_SOURCE_DIR}/resources/common/common.rc
          ${PROJECT_SOURCE_DIR}/resources/common/manifest.xml
          ${PROJECT_SOURCE_DIR}/resources/common/marlowick.ico
  COMMENT "Compiling the engine's resources"
  VERBATIM)
set_source_files_properties(${MW_STUB_GEN}/stub_res.o PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)

add_library(mw_stub_objects OBJECT main_win32.cpp)
target_link_libraries(mw_stub_objects PUBLIC mw_core)

set(MW_STUB_LIBS mw_startup mw_format mw_checks_win32 mw_wizard_win32 mw_install mw_helpers mw_win32 mw_crt
    kernel32 user32 gdi32 advapi32 shell32 ole32 comctl32)

function(mw_stub_link name)
  add_executable(${name} $<TARGET_OBJECTS:mw_stub_objects> ${MW_STUB_GEN}/stub_res.o ${ARGN})
  target_link_options(${name} PRIVATE ${MARLOWICK_FREESTANDING_LINK} -Wl,-e,_entryPoint@0)
  # The libraries refer to each other (the worker to the decoder, the wizard to the script), so
  # they are grouped for the single-pass linker.
  target_link_libraries(${name} PRIVATE -Wl,--start-group ${MW_STUB_LIBS} gcc -Wl,--end-group)
endfunction()

mw_stub_link(stub_probe)
target_link_options(stub_probe PRIVATE -Wl,-T,${MW_STUB_DIR}/stub_win32.ld
                    -Wl,-Map,${MW_STUB_GEN}/probe.map)
set_target_properties(stub_probe PROPERTIES LINK_DEPENDS ${MW_STUB_DIR}/stub_win32.ld)

add_custom_command(
  OUTPUT ${MW_STUB_GEN}/stub.ld
  COMMAND ${CMAKE_COMMAND} -DMODE=split -DMAP=${MW_STUB_GEN}/probe.map
          -DTEMPLATE=${MW_STUB_DIR}/stub_win32.ld -DOUTPUT=${MW_STUB_GEN}/stub.ld
          -P ${PROJECT_SOURCE_DIR}/tools/stub_layout.cmake
  DEPENDS stub_probe ${PROJECT_SOURCE_DIR}/tools/stub_layout.cmake ${MW_STUB_DIR}/stub_win32.ld
  COMMENT "Filling the room before the locator bytes"
  VERBATIM)
add_custom_target(stub_locator_layout DEPENDS ${MW_STUB_GEN}/stub.ld)

mw_stub_link(stub)
add_dependencies(stub stub_locator_layout)
target_link_options(stub PRIVATE -Wl,-T,${MW_STUB_GEN}/stub.ld)
set_target_properties(stub PROPERTIES LINK_DEPENDS ${MW_STUB_GEN}/stub.ld)
# The linked stub.exe is not the product yet: the host build finishes it (mw_pe_finish, which
# fills in the resource directory entry), verifies the locator bytes and puts it in dist/.
