# Fuzz targets. With clang and -DZAMKT_LIBFUZZER=ON they are libFuzzer
# programs; otherwise fuzz/runner.cpp replays files and runs seeded random
# mutations, and CTest runs each target briefly (under the sanitizers in
# build-asan/).
option(ZAMKT_LIBFUZZER "Build the fuzz targets for libFuzzer (clang only)" OFF)
file(GLOB ZAMKT_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(fuzz_file ${ZAMKT_FUZZ_TARGETS})
  get_filename_component(fuzz_name ${fuzz_file} NAME_WE)
  if(ZAMKT_LIBFUZZER)
    add_executable(${fuzz_name} ${fuzz_file} $<TARGET_OBJECTS:zamkt_core>)
    target_compile_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${fuzz_name} ${fuzz_file} ${CMAKE_SOURCE_DIR}/fuzz/runner.cpp $<TARGET_OBJECTS:zamkt_core>)
    if(ZAMKT_TESTS)
      add_test(NAME ${fuzz_name}_smoke COMMAND ${fuzz_name} --random 20000 --seed 7)
      # The driver's messages of 20000 hostile inputs go nowhere.
      set_tests_properties(${fuzz_name}_smoke PROPERTIES ENVIRONMENT "QORPRO_LOG=/dev/null" TIMEOUT 300)
    endif()
  endif()
  target_include_directories(${fuzz_name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${fuzz_name} PRIVATE qorpro)
  set_target_properties(${fuzz_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
