# Built for Windows on Linux: the Windows programs (tests, test discovery)
# run under Wine, in the build's own prefix. A native Windows build runs
# them directly.
if(WIN32 AND CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
    set(QUIB_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    # A 64-bit build runs under Wine's 64-bit loader directly. "wine" would
    # start the 32-bit loader first, which some machines run only emulated.
    # The prefix is made for the build's kind (WINEARCH): where Wine's 64-bit
    # loader is installed too, a prefix that the 32-bit loader makes would
    # otherwise be a 64-bit one.
    set(QUIB_WINE_LOADER wine)
    set(QUIB_WINEARCH win32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(QUIB_WINEARCH win64)
        find_program(QUIB_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine
                     /usr/lib/x86_64-linux-gnu/wine NO_DEFAULT_PATH)
        find_program(QUIB_WINE64 NAMES wine64)
        if(QUIB_WINE64)
            set(QUIB_WINE_LOADER ${QUIB_WINE64})
        endif()
    endif()
    set(QUIB_SOURCE_DIR ${CMAKE_SOURCE_DIR})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

    # ctest makes the prefix ready first, before it lists the tests of any
    # test program and outside every time-out: a new prefix takes from
    # seconds to minutes, and then every test's Wine start is an ordinary
    # one. The build itself never runs Wine.
    if(QUIB_TESTS AND QUIB_WINE_TESTS)
        set(first ${CMAKE_BINARY_DIR}/wine-prefix-first.cmake)
        file(WRITE ${first} "\
# Made by CMake (cmake/QuibWine.cmake): the Wine prefix before any test.
execute_process(COMMAND \"${CMAKE_BINARY_DIR}/wine-run.sh\" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(WARNING \"The Wine prefix ${QUIB_WINEPREFIX} could not be made ready (\${status}); \"
                    \"the Windows tests will fail\")
endif()
")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${first})
    endif()
endif()

