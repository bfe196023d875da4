# Shared settings and helpers for every module of the tree.

if(WIN32)
  set(TOLVARO_WINDOWS ON)
else()
  set(TOLVARO_WINDOWS OFF)
endif()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

# Warnings and platform settings shared by all targets of the tree.
add_library(tolvaro_options INTERFACE)
target_compile_options(tolvaro_options INTERFACE -Wall -Wextra -Wpedantic)
target_include_directories(tolvaro_options INTERFACE ${PROJECT_SOURCE_DIR})
target_link_libraries(tolvaro_options INTERFACE Threads::Threads)
if(TOLVARO_WINDOWS)
  target_compile_definitions(tolvaro_options INTERFACE
    NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE _WIN32_WINNT=0x0A00)
  # Wine cannot find the mingw runtime DLLs, so everything is linked statically.
  target_link_options(tolvaro_options INTERFACE -static)
  # Only the Boost and nlohmann header trees of the build machine are visible to the cross compiler.
  set(TOLVARO_CROSS_INCLUDE ${CMAKE_BINARY_DIR}/cross-include)
  file(MAKE_DIRECTORY ${TOLVARO_CROSS_INCLUDE})
  foreach(tree boost nlohmann)
    if(NOT EXISTS ${TOLVARO_CROSS_INCLUDE}/${tree})
      file(CREATE_LINK ${TOLVARO_HOST_INCLUDE}/${tree} ${TOLVARO_CROSS_INCLUDE}/${tree} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(tolvaro_options SYSTEM INTERFACE ${TOLVARO_CROSS_INCLUDE})
endif()

# Boost (Asio, Beast) and nlohmann-json are header-only here.
add_library(tolvaro_thirdparty INTERFACE)
if(TOLVARO_WINDOWS)
  target_link_libraries(tolvaro_thirdparty INTERFACE ws2_32 mswsock)
else()
  find_package(Boost 1.81 REQUIRED)
  find_package(nlohmann_json 3.11 REQUIRED)
  target_link_libraries(tolvaro_thirdparty INTERFACE Boost::headers nlohmann_json::nlohmann_json)
endif()
target_compile_definitions(tolvaro_thirdparty INTERFACE
  BOOST_ASIO_NO_DEPRECATED BOOST_BEAST_USE_STD_STRING_VIEW)

# GoogleTest is compiled from Debian's sources in both builds, so both use the same code.
macro(tolvaro_setup_googletest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  include(GoogleTest)
endmacro()

# tolvaro_test(NAME name SOURCES ... LIBS ... [TIMEOUT seconds] [UI])
# Natively every test case becomes a CTest test; under Wine each binary is one CTest test,
# since every start of a Windows program costs a Wine start. UI: the Windows binary shows real
# windows, so it runs through cmake/wine-ui-run (a display and a Wine desktop of its own, and
# TOLVARO_ARTIFACTS for its screenshots); natively the flag changes nothing.
function(tolvaro_test)
  cmake_parse_arguments(T "UI" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main tolvaro_options)
  if(TOLVARO_WINDOWS)
    if(T_UI)
      add_test(NAME ${T_NAME} COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-ui-run $<TARGET_FILE:${T_NAME}>)
    else()
      add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()
