# The wizard's wine end-to-end test: installers made by the packager, driven page by page by
# wizard_driver.exe (label wine).
if(NOT MARLOWICK_WINDOWS AND MARLOWICK_WITH_WINDOWS AND TARGET marlowick)
  add_test(NAME wizard_e2e
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/wizard_e2e.sh ${MARLOWICK_DIST})
  set_tests_properties(wizard_e2e PROPERTIES LABELS wine TIMEOUT 2400 RUN_SERIAL TRUE)
endif()
