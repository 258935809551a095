# trajix_core_module(NAME [DEPENDS mod...] [LIBS lib...])
# Builds the static library trajix_NAME from every .cpp in the current folder.
function(trajix_core_module name)
  cmake_parse_arguments(ARG "" "" "DEPENDS;LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(trajix_${name} STATIC ${sources})
  target_include_directories(trajix_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(trajix_${name} PUBLIC fmt::fmt Threads::Threads)
  foreach(dep ${ARG_DEPENDS})
    target_link_libraries(trajix_${name} PUBLIC trajix_${dep})
  endforeach()
  if(ARG_LIBS)
    target_link_libraries(trajix_${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# trajix_test_suite(NAME LIBS lib... [LABELS label...])
# Called from tests/NAME/CMakeLists.txt: builds test_NAME from every .cpp in that
# folder and registers its cases with CTest, labelled NAME (plus LABELS).
function(trajix_test_suite name)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE ${ARG_LIBS} trajix_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE TRAJIX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${name};${ARG_LABELS}" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
