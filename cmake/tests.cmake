# Every tests/*_test.cpp is one GoogleTest program, run by CTest. The programs
# link the driver's objects directly, so they reach the routines behind
# ZamMain as well as ZamMain itself.
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

file(GLOB ZAMKT_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(zamkt_test_support STATIC ${ZAMKT_TEST_SUPPORT_SOURCES} $<TARGET_OBJECTS:zamkt_core>)
target_include_directories(zamkt_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zamkt_test_support PUBLIC qorpro GTest::gtest Threads::Threads ${CMAKE_DL_LIBS})
target_compile_definitions(zamkt_test_support PUBLIC
  ZAMKT_BUILD_DIR="${CMAKE_BINARY_DIR}" ZAMKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
if(TARGET n2sim_core)
  target_link_libraries(zamkt_test_support PUBLIC n2sim_core)
endif()

file(GLOB ZAMKT_TEST_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
foreach(test_file ${ZAMKT_TEST_FILES})
  get_filename_component(test_name ${test_file} NAME_WE)
  add_executable(${test_name} ${test_file})
  target_link_libraries(${test_name} PRIVATE zamkt_test_support GTest::gtest_main)
  add_test(NAME ${test_name} COMMAND ${test_name})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
endforeach()

# A host that dlopens the driver without linking the logging library.
add_executable(dlopen_host ${CMAKE_SOURCE_DIR}/tests/hosts/dlopen_host.c)
target_include_directories(dlopen_host PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(dlopen_host PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(dlopen_host zamkt)
if(TARGET driver_library_test)
  add_dependencies(driver_library_test dlopen_host zamkt)
endif()
