# Helpers shared by every folder of the project.

set(GLOWSNAP_EXPORTED_TARGETS "" CACHE INTERNAL "")

# glowsnap_add_library(NAME <short> SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
# Builds libglowsnap_<short>, aliased glowsnap::<short>, installed with its
# headers under include/glowsnap/<folder>/ and exported in the CMake package.
function(glowsnap_add_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  set(target glowsnap_${ARG_NAME})
  add_library(${target} ${ARG_SOURCES})
  add_library(glowsnap::${ARG_NAME} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_NAME}
                        OUTPUT_NAME glowsnap_${ARG_NAME})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/glowsnap>)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/glowsnap/${folder})
  install(TARGETS ${target} EXPORT GlowsnapTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set(GLOWSNAP_EXPORTED_TARGETS "${GLOWSNAP_EXPORTED_TARGETS};${target}" CACHE INTERNAL "")
endfunction()

# glowsnap_add_test(NAME <exe> SOURCES ... DEPS ... [ENVIRONMENT ...] [LABELS ...])
# One GoogleTest executable; every test in it becomes a CTest test.
function(glowsnap_add_test)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS;ENVIRONMENT;LABELS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${ARG_NAME} PRIVATE
    GLOWSNAP_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    GLOWSNAP_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    GLOWSNAP_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(environment ${ARG_ENVIRONMENT})
  if(GLOWSNAP_SANITIZE)
    # Full stacks for what is allocated, so that tests/lsan.supp can name
    # the library that keeps it.
    # (One variable: the property takes a single value here.)
    list(APPEND environment
         "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:fast_unwind_on_malloc=0")
  endif()
  if(GLOWSNAP_TSAN)
    list(APPEND environment "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
  endif()
  gtest_discover_tests(${ARG_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${environment}" LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# glowsnap_add_benchmark(NAME <exe> SOURCES ... DEPS ...)
function(glowsnap_add_benchmark)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(${ARG_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
endfunction()

function(glowsnap_install_package)
  include(CMakePackageConfigHelpers)
  set(GLOWSNAP_PACKAGE_NEEDS_QT FALSE)
  if(TARGET glowsnap_qt)
    set(GLOWSNAP_PACKAGE_NEEDS_QT TRUE)
  endif()
  install(EXPORT GlowsnapTargets NAMESPACE glowsnap::
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Glowsnap)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/GlowsnapConfig.cmake.in
    ${PROJECT_BINARY_DIR}/GlowsnapConfig.cmake
    INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Glowsnap)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/GlowsnapConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/GlowsnapConfig.cmake
                ${PROJECT_BINARY_DIR}/GlowsnapConfigVersion.cmake
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Glowsnap)
endfunction()
