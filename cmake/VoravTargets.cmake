# Helpers shared by the source, test, benchmark and fuzz folders.
#
# Every source folder is one static library made of the .cpp and .h files it
# holds (not those of its sub-folders). New files are picked up at the next
# build without touching a CMakeLists.txt.

set(VORAV_WARNINGS -Wall -Wextra)

# Each library sees only its own headers and those of the libraries it
# declares: its headers are linked one by one into a staging folder of its own
# under the build tree (keeping their path below src/), and that folder is its
# only include root. A header that reaches into a library not declared fails
# to build.
function(vorav_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  file(RELATIVE_PATH rel "${PROJECT_SOURCE_DIR}/src" "${CMAKE_CURRENT_SOURCE_DIR}")
  set(stage "${PROJECT_BINARY_DIR}/include/${name}")
  file(REMOVE_RECURSE "${stage}")
  file(MAKE_DIRECTORY "${stage}/${rel}")
  foreach(source ${sources})
    if(source MATCHES "\\.h$")
      get_filename_component(header_name "${source}" NAME)
      file(CREATE_LINK "${source}" "${stage}/${rel}/${header_name}" SYMBOLIC)
    endif()
  endforeach()
  if(NOT sources MATCHES "\\.cpp")
    # A folder with no sources yet still provides its include path and deps.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${stage}")
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${stage}")
  target_compile_options(${name} PRIVATE ${VORAV_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One test executable per *_test.cpp file of the calling folder, linked with
# the given libraries and a shared test main: vorav_test_main (which creates a
# QCoreApplication) unless MAIN names another. Files ending in _integration_test.cpp are labelled
# "integration", files ending in _threaded_test.cpp "threaded" (these also run
# under ThreadSanitizer in CI), all others "unit".
function(vorav_tests prefix)
  cmake_parse_arguments(ARG "" "MAIN" "LIBS" ${ARGN})
  if(NOT ARG_MAIN)
    set(ARG_MAIN vorav_test_main)
  endif()
  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    set(target ${prefix}_${test_name})
    add_executable(${target} ${test_source})
    target_compile_options(${target} PRIVATE ${VORAV_WARNINGS})
    target_compile_definitions(${target} PRIVATE
      VORAV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
      VORAV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} ${ARG_MAIN} GTest::gtest GTest::gmock)
    set(label unit)
    if(test_name MATCHES "_integration_test$")
      set(label integration)
    elseif(test_name MATCHES "_threaded_test$")
      set(label threaded)
      add_dependencies(vorav_threaded_tests ${target})
    endif()
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      TEST_PREFIX "${prefix}."
      PROPERTIES LABELS ${label} TIMEOUT 120)
  endforeach()
endfunction()

# Every fuzz/<name>_fuzz.cpp defines LLVMFuzzerTestOneInput. It always builds
# into a corpus runner that replays fuzz/corpus/<name>/ as a ctest case (so the
# seeds and every kept crash input are checked by any compiler); with
# VORAV_BUILD_FUZZERS (clang) it also builds into a libFuzzer binary.
function(vorav_fuzz_targets)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB fuzzers CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_fuzz.cpp")
  foreach(fuzz_source ${fuzzers})
    get_filename_component(fuzz_name ${fuzz_source} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" corpus_name ${fuzz_name})
    set(runner ${fuzz_name}_corpus)
    add_executable(${runner} ${fuzz_source} "${CMAKE_CURRENT_SOURCE_DIR}/support/corpus_runner.cpp")
    target_compile_options(${runner} PRIVATE ${VORAV_WARNINGS})
    target_link_libraries(${runner} PRIVATE ${ARG_LIBS})
    add_test(NAME fuzz.${corpus_name}.corpus
             COMMAND ${runner} "${CMAKE_CURRENT_SOURCE_DIR}/corpus/${corpus_name}")
    set_tests_properties(fuzz.${corpus_name}.corpus PROPERTIES LABELS fuzz TIMEOUT 300)
    if(VORAV_BUILD_FUZZERS)
      add_executable(${fuzz_name} ${fuzz_source})
      target_compile_options(${fuzz_name} PRIVATE ${VORAV_WARNINGS} -fsanitize=fuzzer)
      target_link_options(${fuzz_name} PRIVATE -fsanitize=fuzzer)
      target_link_libraries(${fuzz_name} PRIVATE ${ARG_LIBS})
    endif()
  endforeach()
endfunction()

# One Google Benchmark executable per bench/<name>_bench.cpp.
function(vorav_benchmarks)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB benches CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_bench.cpp")
  foreach(bench_source ${benches})
    get_filename_component(bench_name ${bench_source} NAME_WE)
    add_executable(${bench_name} ${bench_source})
    target_compile_options(${bench_name} PRIVATE ${VORAV_WARNINGS})
    target_link_libraries(${bench_name} PRIVATE ${ARG_LIBS} benchmark::benchmark benchmark::benchmark_main)
  endforeach()
endfunction()

# Every header under src/ must compile on its own and together with all the
# others: one generated source per header, plus one including them all.
function(vorav_header_check)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}/src"
       "${PROJECT_SOURCE_DIR}/src/*.h")
  set(check_dir "${CMAKE_CURRENT_BINARY_DIR}/header_check")
  set(sources)
  set(all_includes "")
  foreach(header ${headers})
    string(MAKE_C_IDENTIFIER "${header}" stem)
    set(source "${check_dir}/${stem}.cpp")
    set(content "#include \"${header}\"\n")
    if(EXISTS "${source}")
      file(READ "${source}" old_content)
    else()
      set(old_content "")
    endif()
    if(NOT old_content STREQUAL content)
      file(WRITE "${source}" "${content}")
    endif()
    list(APPEND sources "${source}")
    string(APPEND all_includes "#include \"${header}\"\n")
  endforeach()
  set(all_source "${check_dir}/all_headers.cpp")
  file(WRITE "${all_source}.new" "${all_includes}")
  file(COPY_FILE "${all_source}.new" "${all_source}" ONLY_IF_DIFFERENT)
  list(APPEND sources "${all_source}")
  add_library(vorav_header_check OBJECT ${sources})
  set_target_properties(vorav_header_check PROPERTIES AUTOMOC OFF)
  target_compile_options(vorav_header_check PRIVATE ${VORAV_WARNINGS})
  target_include_directories(vorav_header_check PRIVATE "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(vorav_header_check PRIVATE Qt5::Core Qt5::Network Qt5::SerialPort Qt5::Widgets)
endfunction()
