# SPDX-License-Identifier: MIT
# vexalo_add_test(NAME SOURCES files... LIBS targets... [GUI])
# Every test runs offscreen so that no display is needed, and with a private
# HOME so that nothing a test does can reach the user's real settings or
# the journal of the user's runs.
#
# In a sanitized tree (make sanitize) every report of every process a test
# starts, the test's own and the CLI's or the fault driver's, is written to
# sanitizer-reports/ as well: a child that a test expects to fail would
# otherwise fail for the sanitizer's reason and pass unnoticed. make sanitize
# fails when that folder is not empty.
#
# verify_asan_link_order=0: the fault tests preload their shim
# (tests/faults/faultshim.cpp) into the driver, which puts it ahead of the
# ASan runtime the driver links; ASan would refuse to start. Safe here
# because the shim defines no allocation function, only system calls that it
# passes on with dlsym(RTLD_NEXT), which finds ASan's interceptor next, so
# every allocation and every check still goes through ASan.
# allocator_may_return_null=1: some tests ask on purpose for more memory than
# there is, to see the "too large" failure; under ASan that must fail as it
# does without it (a null, then std::bad_alloc), not abort the test.
set(VEXALO_SANITIZER_ENV "")
if(VEXALO_SANITIZE)
    set(reports ${CMAKE_BINARY_DIR}/sanitizer-reports)
    file(MAKE_DIRECTORY ${reports})
    set(VEXALO_SANITIZER_ENV
        "ASAN_OPTIONS=verify_asan_link_order=0:allocator_may_return_null=1:detect_leaks=1:log_path=${reports}/asan"
        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=0:log_path=${reports}/ubsan"
        "TSAN_OPTIONS=halt_on_error=0:second_deadlock_stack=1:suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp:log_path=${reports}/tsan"
        "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
        # Instrumented code runs several times slower; QtTest's own limit of
        # five minutes a function is then reached by the larger tables.
        "QTEST_FUNCTION_TIMEOUT=1800000")
endif()

function(vexalo_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set(home ${CMAKE_BINARY_DIR}/test-home/${name})
    file(MAKE_DIRECTORY ${home}/.local/state)
    set(env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 HOME=${home} XDG_CONFIG_HOME=${home}/.config
        XDG_STATE_HOME=${home}/.local/state ${VEXALO_SANITIZER_ENV})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${env}"
        TIMEOUT 600)
endfunction()
