# A DLL that stands in for one planted beside an installer (Windows configuration): the wine test
# of the DLL search copies it next to setup.exe as netapi32.dll and version.dll.
if(MARLOWICK_WINDOWS)
  add_library(planted_marker SHARED ${CMAKE_CURRENT_LIST_DIR}/engine_planted_dll_win32.cpp)
  set_target_properties(planted_marker PROPERTIES PREFIX "")
  # Relocatable, so it loads wherever the process has room.
  target_link_options(planted_marker PRIVATE ${MARLOWICK_FREESTANDING_LINK} -Wl,--enable-reloc-section
                      -Wl,-e,_DllMain@12)
  target_link_libraries(planted_marker PRIVATE kernel32)
  add_custom_command(TARGET planted_marker POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${MARLOWICK_DIST}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:planted_marker> ${MARLOWICK_DIST}/)
endif()

# The engine's wine end-to-end tests: installers made by `marlowick build` from the programs in
# dist/, run under wine in a prefix shared by the whole binary (label wine).
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS AND TARGET marlowick)
  marlowick_test(engine_install_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine_install_test.cpp
            ${PROJECT_SOURCE_DIR}/packager/wine_session.cpp
    LIBS mw_core
    LABELS wine)
  target_compile_definitions(engine_install_test PRIVATE
    MW_DIST="${MARLOWICK_DIST}" MW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(engine_install_test marlowick stub_image)
  if(TARGET uninstaller_image)
    add_dependencies(engine_install_test uninstaller_image)
  endif()
  set_tests_properties(engine_install_test PROPERTIES TIMEOUT 3600 RUN_SERIAL TRUE)
endif()
