# The composed uninstaller image on its own under wine (label wine).
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS AND NOT MARLOWICK_FUZZ)
  # End to end under wine: a composed Uninstall.exe answered No, then Yes, by the test driver.
  marlowick_test(uninstaller_wine_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/uninstaller_wine_test.cpp ${PROJECT_SOURCE_DIR}/packager/wine_session.cpp
    LIBS mw_uninstall_image LABELS wine)
  target_compile_definitions(uninstaller_wine_test PRIVATE
    MW_DIST_DIR="${MARLOWICK_DIST}" MW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_tests_properties(uninstaller_wine_test PROPERTIES TIMEOUT 1800)
endif()
