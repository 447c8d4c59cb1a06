# The download (target "package"): build/win32/corvane-VERSION-win32.zip
# with the program, LICENSE.txt, the guides README.txt and ADMIN.txt made
# from README.md and ADMIN.md, the Task Scheduler definition, and the
# SHA-256 sums of the five; beside it the zip's own sum, ZIP.sha256, for the
# release page. Every build gives the same bytes; every member carries the
# release date.
set(CORVANE_RELEASE_DATE 2026-12-08)
set(CORVANE_RELEASE_ZIP ${CMAKE_BINARY_DIR}/corvane-${PROJECT_VERSION}-win32.zip)
add_custom_command(OUTPUT ${CORVANE_RELEASE_ZIP} ${CORVANE_RELEASE_ZIP}.sha256
  COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/cmake/make_release.py
          --version ${PROJECT_VERSION} --exe $<TARGET_FILE:corvane>
          --readme ${CMAKE_SOURCE_DIR}/README.md
          --admin ${CMAKE_SOURCE_DIR}/ADMIN.md --license ${CMAKE_SOURCE_DIR}/LICENSE
          --task ${CMAKE_SOURCE_DIR}/res/corvane-task.xml
          --date ${CORVANE_RELEASE_DATE} --out ${CORVANE_RELEASE_ZIP}
  DEPENDS corvane ${CMAKE_SOURCE_DIR}/cmake/make_release.py
          ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/ADMIN.md
          ${CMAKE_SOURCE_DIR}/LICENSE
          ${CMAKE_SOURCE_DIR}/res/corvane-task.xml
  COMMENT "Packing corvane-${PROJECT_VERSION}-win32.zip"
  VERBATIM)
add_custom_target(package ALL DEPENDS ${CORVANE_RELEASE_ZIP})
