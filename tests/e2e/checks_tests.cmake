# The environment checks on wine (label wine): the Win32 views through checks_probe.exe, and the
# checks inside real installers made by the packager, answered by mw_driver.exe.
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS)
  add_test(NAME checks_views
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checks_views.sh ${MARLOWICK_DIST})
  set_tests_properties(checks_views PROPERTIES LABELS wine TIMEOUT 900)
  if(TARGET marlowick)
    add_test(NAME checks_installers
      COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/checks_stub.sh ${MARLOWICK_DIST})
    set_tests_properties(checks_installers PROPERTIES LABELS wine TIMEOUT 2400 RUN_SERIAL TRUE)
  endif()
endif()
