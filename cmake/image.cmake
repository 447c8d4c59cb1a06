# The executable image: icons, manifest and version resource, the test that
# checks the built image, and the benchmark's do-nothing twin. The .ico
# files and version.h are generated into the build tree.
set(CORVANE_ICON_DIR ${CMAKE_BINARY_DIR}/res)
# The version resource quotes the licence's copyright line.
set(license ${CMAKE_SOURCE_DIR}/LICENSE)
set(manifest ${CMAKE_SOURCE_DIR}/res/corvane.manifest)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license} ${manifest})
file(STRINGS ${license} CORVANE_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
configure_file(${CMAKE_SOURCE_DIR}/res/version.h.in ${CORVANE_ICON_DIR}/version.h @ONLY)
# The manifest is embedded without its comments and the blanks between its
# elements: a file block less.
file(READ ${manifest} text)
string(REGEX REPLACE "<!--([^-]|-[^-])*-->" "" text "${text}")
string(REGEX REPLACE ">[ \t\r\n]+<" "><" text "${text}")
string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
string(STRIP "${text}" text)
file(WRITE ${CORVANE_ICON_DIR}/corvane-compact.manifest "${text}")
set(CORVANE_ICON_ART_500 ${CMAKE_SOURCE_DIR}/res/power-32.txt ${CMAKE_SOURCE_DIR}/res/power-16.txt)
set(CORVANE_ICON_ART_600 ${CMAKE_SOURCE_DIR}/res/power-force-32.txt)
set(CORVANE_ICONS)
foreach(group 500 600)
  set(ico ${CORVANE_ICON_DIR}/corvane-${group}.ico)
  add_custom_command(OUTPUT ${ico}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_ICON_DIR}
    COMMAND ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/res/make_icons.py
            --palette ${CMAKE_SOURCE_DIR}/res/palette.txt --out ${ico}
            ${CORVANE_ICON_ART_${group}}
    DEPENDS ${CMAKE_SOURCE_DIR}/res/make_icons.py ${CMAKE_SOURCE_DIR}/res/palette.txt
            ${CORVANE_ICON_ART_${group}}
    COMMENT "Generating corvane-${group}.ico"
    VERBATIM)
  list(APPEND CORVANE_ICONS ${ico})
endforeach()
add_custom_target(corvane-icons DEPENDS ${CORVANE_ICONS})

# Gives an image target the resources and whole-program optimisation (link-
# time optimisation as one partition: about 600 bytes less code).
function(corvane_image target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-flto -flto-partition=one>)
  target_link_options(${target} PRIVATE ${CORVANE_COMPILE_OPTIONS} -flto -flto-partition=one)
  set(rc ${CMAKE_SOURCE_DIR}/res/corvane.rc)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${CORVANE_ICONS};${CORVANE_ICON_DIR}/corvane-compact.manifest;${CORVANE_ICON_DIR}/version.h")
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${CORVANE_ICON_DIR})
  add_dependencies(${target} corvane-icons)
endfunction()

corvane_image(corvane)
# The map names what went into each section; the image test reads it.
set(CORVANE_MAP ${CMAKE_BINARY_DIR}/corvane.map)
target_link_options(corvane PRIVATE -Wl,-Map=${CORVANE_MAP})
add_subdirectory(${CMAKE_SOURCE_DIR}/bench ${CMAKE_BINARY_DIR}/bench)

# Reads the built image and the download zip. The second test builds the
# sources twice more, in two fresh folders under image-test/, and compares
# the three images and the three zips.
set(CORVANE_IMAGE_TEST
  ${SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tests/image/test_image.py
  --exe $<TARGET_FILE:corvane> --map ${CORVANE_MAP} --zip ${CORVANE_RELEASE_ZIP}
  --icons ${CORVANE_ICON_DIR}
  --work ${CMAKE_BINARY_DIR}/image-test --source ${CMAKE_SOURCE_DIR}
  --generator ${CMAKE_GENERATOR} --build-type ${CMAKE_BUILD_TYPE})
add_test(NAME image.file COMMAND ${CORVANE_IMAGE_TEST})
add_test(NAME image.reproducible COMMAND ${CORVANE_IMAGE_TEST} --reproduce
  ReproducibilityTest.test_two_clean_builds_match_each_other_and_this_build)
set_tests_properties(image.file PROPERTIES TIMEOUT 60)
set_tests_properties(image.reproducible PROPERTIES TIMEOUT 900)
