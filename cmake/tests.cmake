# Every tests/*_test.cpp is one GoogleTest program, run by CTest. The programs
# link the driver's objects directly, so they reach the routines behind
# ZamMain as well as ZamMain itself.
if(WIN32)
  # The Windows test programs, cross-built and run under Wine (CTest runs them
  # through the toolchain's emulator; tests/wine/run.sh prepares Wine).
  # GoogleTest comes from Debian's googletest source package, built here with
  # the cross compiler.
  set(ZAMKT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built with the cross compiler")

  # The host of the end-to-end check over a COM port (tests/wine/run.sh).
  add_executable(wine_host ${CMAKE_SOURCE_DIR}/tests/wine/wine_host.cpp)
  target_include_directories(wine_host PRIVATE ${CMAKE_SOURCE_DIR})
  add_dependencies(wine_host zamkt)

  if(NOT EXISTS ${ZAMKT_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(WARNING "No GoogleTest sources in ${ZAMKT_GTEST_SOURCE_DIR} (Debian package googletest): "
                    "the Windows unit tests are not built")
    return()
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${ZAMKT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

  # The test support without the pseudo-terminal parts; LogCapture and
  # TempWorkDir in their Windows form.
  add_library(zamkt_test_support STATIC
    ${CMAKE_SOURCE_DIR}/tests/support/driver_channel.cpp
    ${CMAKE_SOURCE_DIR}/tests/wine/test_environment_win32.cpp
    ${ZAMKT_DRIVER_OBJECTS})
  target_include_directories(zamkt_test_support PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(zamkt_test_support PUBLIC qorpro gtest)
  target_compile_definitions(zamkt_test_support PUBLIC
    ZAMKT_BUILD_DIR="${CMAKE_BINARY_DIR}" ZAMKT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

  # The driver's tests that run on Windows: those that need no POSIX
  # pseudo-terminal (PtyPair, ScriptedDevice). A listed file that comes to
  # use one is left out with a warning rather than breaking the build.
  set(ZAMKT_WINDOWS_TESTS
    tests/decode_test.cpp
    tests/encode_test.cpp
    tests/point_tables_test.cpp
    tests/reply_check_test.cpp
    tests/tag_parse_test.cpp
    tests/n2open_tag_parse_test.cpp
    # Windows only: the Win32 serial layer, the DLL and channels on Windows.
    tests/wine/port_win32_test.cpp
    tests/wine/port_win32_calls_test.cpp
    tests/wine/driver_win32_test.cpp)
  foreach(test_file ${ZAMKT_WINDOWS_TESTS})
    set(test_path ${CMAKE_SOURCE_DIR}/${test_file})
    if(NOT EXISTS ${test_path})
      continue()
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${test_path})
    file(READ ${test_path} test_text)
    if(test_text MATCHES "tests/support/(pty|scripted_device)\\.h|write_test_helpers\\.h")
      message(WARNING "${test_file} needs a pseudo-terminal: not built for Windows")
      continue()
    endif()
    get_filename_component(test_name ${test_file} NAME_WE)
    add_executable(${test_name} ${test_path})
    target_link_libraries(${test_name} PRIVATE zamkt_test_support gtest_main)
    target_compile_options(${test_name} PRIVATE -include ${CMAKE_SOURCE_DIR}/tests/wine/posix_compat.h)
    add_dependencies(${test_name} zamkt)
    add_test(NAME ${test_name} COMMAND ${test_name})
    set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
    if(test_file MATCHES "^tests/wine/")
      # One at a time on the COM port: Wine lets two programs open it at once.
      set_tests_properties(${test_name} PROPERTIES RESOURCE_LOCK zamkt_com_port)
    endif()
  endforeach()
  return()
endif()

find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

file(GLOB ZAMKT_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
add_library(zamkt_test_support STATIC ${ZAMKT_TEST_SUPPORT_SOURCES} ${ZAMKT_DRIVER_OBJECTS})
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
  # Tests that run the programs as a user does need them built first.
  foreach(program n2sim zamhost zamkt dlopen_host)
    if(TARGET ${program})
      add_dependencies(${test_name} ${program})
    endif()
  endforeach()
  set_tests_properties(${test_name} PROPERTIES TIMEOUT 300)
endforeach()

# The fault-injection soak (tests/soak/): the program build/zamkt_soak, which
# ./soak.sh runs in full; CTest runs a short soak of the same program.
# Its oracle and plant comparison have a test program of their own.
if(TARGET n2sim_core)
  file(GLOB ZAMKT_SOAK_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/soak/soak_*.cpp)
  list(FILTER ZAMKT_SOAK_SOURCES EXCLUDE REGEX "(_test|soak_main)\\.cpp$")
  add_library(zamkt_soak_core STATIC ${ZAMKT_SOAK_SOURCES})
  target_link_libraries(zamkt_soak_core PUBLIC zamkt_test_support)

  add_executable(zamkt_soak ${CMAKE_SOURCE_DIR}/tests/soak/soak_main.cpp)
  target_link_libraries(zamkt_soak PRIVATE zamkt_soak_core)
  add_test(NAME zamkt_soak_short COMMAND zamkt_soak --requests 2000 --seed 7 --reports 5)
  set_tests_properties(zamkt_soak_short PROPERTIES TIMEOUT 600)

  add_executable(soak_oracle_test ${CMAKE_SOURCE_DIR}/tests/soak/soak_oracle_test.cpp)
  target_link_libraries(soak_oracle_test PRIVATE zamkt_soak_core GTest::gtest_main)
  add_test(NAME soak_oracle_test COMMAND soak_oracle_test)
  set_tests_properties(soak_oracle_test PROPERTIES TIMEOUT 300)
endif()

# A host that dlopens the driver without linking the logging library.
add_executable(dlopen_host ${CMAKE_SOURCE_DIR}/tests/hosts/dlopen_host.c)
target_include_directories(dlopen_host PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(dlopen_host PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(dlopen_host zamkt)
add_dependencies(driver_library_test dlopen_host)

# The hosts' capture of the driver's messages (host/common).
if(TARGET n2host)
  target_link_libraries(driver_log_test PRIVATE n2host)
endif()

# The gateway's tests (tests/zamgate_*_test.cpp) link the gateway's parts
# (MQTT, JSON, HTTP) and run the program itself.
if(TARGET zamgate_core)
  foreach(test_file ${ZAMKT_TEST_FILES})
    get_filename_component(test_name ${test_file} NAME_WE)
    if(test_name MATCHES "^zamgate_")
      target_link_libraries(${test_name} PRIVATE zamgate_core)
      add_dependencies(${test_name} zamgate)
    endif()
  endforeach()
endif()

# The installed files and the manual pages (tests/package/): what
# `cmake --install` puts down runs from there alone, and every program's
# --help, --version and manual page agree. tests/package/run.sh, as root,
# does the same with the Debian package (.ci/run).
if(TARGET zamgate AND TARGET zamhost AND TARGET n2sim)
  add_test(NAME package_install_test COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/install_test.sh ${CMAKE_BINARY_DIR})
  add_test(NAME package_man_pages_test
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/man_pages_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(package_install_test package_man_pages_test PROPERTIES TIMEOUT 120)
  # The unit's system-call filter against the calls zamgate makes (a
  # sanitizer's runtime makes calls of its own: the plain build only).
  if(NOT ZAMKT_SANITIZE)
    add_test(NAME package_syscalls_test
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/syscalls_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    set_tests_properties(package_syscalls_test PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
  endif()
endif()
