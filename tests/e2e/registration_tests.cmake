# What the system's list of programs shows of an installed product: `marlowick build` with the
# product's version, publisher and icon given on the command line and in the project,
# `setup.exe /s`, then the uninstall registration read back from the prefix's registry and
# removed by the installed Uninstall.exe, under wine (label wine).
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS AND TARGET marlowick)
  marlowick_test(registration_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/registration_test.cpp
            ${PROJECT_SOURCE_DIR}/packager/wine_session.cpp
    LIBS mw_core
    LABELS wine)
  target_compile_definitions(registration_test PRIVATE
    MW_DIST="${MARLOWICK_DIST}" MW_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(registration_test marlowick stub_image)
  if(TARGET uninstaller_image)
    add_dependencies(registration_test uninstaller_image)
  endif()
  set_tests_properties(registration_test PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
