# SPDX-License-Identifier: MIT
# vexalo_add_test(NAME SOURCES files... LIBS targets... [GUI])
# Every test runs offscreen so that no display is needed, and with a private
# HOME so that nothing a test does can reach the user's real settings or
# the journal of the user's runs.
function(vexalo_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set(home ${CMAKE_BINARY_DIR}/test-home/${name})
    file(MAKE_DIRECTORY ${home})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;HOME=${home};XDG_CONFIG_HOME=${home}/.config;XDG_STATE_HOME=${home}/.local/state"
        TIMEOUT 600)
endfunction()
