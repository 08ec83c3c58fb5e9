# The uninstaller after a real installation: `marlowick build`, `setup.exe /s`, then the
# installed Uninstall.exe answered No and then Yes by the test driver, under wine (label wine).
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS AND TARGET marlowick)
  marlowick_test(uninstall_roundtrip_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/uninstall_roundtrip_test.cpp
            ${PROJECT_SOURCE_DIR}/packager/wine_session.cpp
    LIBS mw_core mw_uninstall
    LABELS wine)
  target_compile_definitions(uninstall_roundtrip_test PRIVATE
    MW_DIST="${MARLOWICK_DIST}" MW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(uninstall_roundtrip_test marlowick stub_image)
  if(TARGET uninstaller_image)
    add_dependencies(uninstall_roundtrip_test uninstaller_image)
  endif()
  set_tests_properties(uninstall_roundtrip_test PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
