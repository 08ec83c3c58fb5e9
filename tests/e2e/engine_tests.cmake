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
