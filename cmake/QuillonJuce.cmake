# Helpers for building on the system's JUCE.
#
# JUCE's module targets are INTERFACE libraries that carry their sources, so every target linking
# one compiles the module (and, transitively, every module below it) again. We compile each module
# exactly once instead: quillon_compile_juce_modules() adds the modules' own sources to one static
# library and publishes their include root, definitions and system libraries, so whatever links
# that library gets the framework's headers and settings with it.

include_guard(GLOBAL)

find_package(PkgConfig REQUIRED)

# The codec and image libraries are Debian's; JUCE's bundled copies are not part of the package.
# libmpg123 is not the framework's: our own MP3 reader decodes with it.
pkg_check_modules(QUILLON_CODECS REQUIRED IMPORTED_TARGET flac vorbisenc vorbisfile vorbis ogg libmpg123)
pkg_check_modules(QUILLON_IMAGE_LIBS REQUIRED IMPORTED_TARGET libpng libjpeg zlib)

function(quillon_compile_juce_modules target)
    foreach(module IN LISTS ARGN)
        get_target_property(sources ${module} INTERFACE_JUCE_MODULE_SOURCES)
        target_sources(${target} PRIVATE ${sources})
        # Framework code is not ours to keep warning-free (QuillonSanitizers.cmake may excuse a check).
        set_source_files_properties(${sources} PROPERTIES COMPILE_OPTIONS "-w;${QUILLON_FRAMEWORK_SANITIZER_OPTIONS}")

        get_target_property(definitions ${module} INTERFACE_COMPILE_DEFINITIONS)
        if(definitions)
            target_compile_definitions(${target} PUBLIC ${definitions})
        endif()

        get_target_property(includes ${module} INTERFACE_INCLUDE_DIRECTORIES)
        target_include_directories(${target} SYSTEM PUBLIC ${includes})

        # Keep the module's system libraries; drop the modules it depends on, which are
        # compiled elsewhere (or listed explicitly by the caller).
        get_target_property(libraries ${module} INTERFACE_LINK_LIBRARIES)
        foreach(library IN LISTS libraries)
            if(library STREQUAL "juce::juce_atomic_wrapper" OR NOT library MATCHES "^(juce::)?juce_[a-z0-9_]+$")
                target_link_libraries(${target} PUBLIC ${library})
            endif()
        endforeach()
    endforeach()
endfunction()

# Settings shared by every target that holds JUCE code.
function(quillon_juce_settings target)
    target_compile_features(${target} PUBLIC cxx_std_17)
    target_compile_definitions(${target} PUBLIC
        JUCE_MODAL_LOOPS_PERMITTED=1
        JUCE_WEB_BROWSER=0
        JUCE_USE_CURL=0
        JUCE_LOAD_CURL_SYMBOLS_LAZILY=0
        JUCE_USE_XRANDR=1
        JUCE_USE_XINERAMA=1
        JUCE_USE_XSHM=1
        JUCE_USE_XRENDER=0
        JUCE_USE_XCURSOR=1
        JUCE_DISPLAY_SPLASH_SCREEN=0
        JUCE_REPORT_APP_USAGE=0
        JUCE_STRICT_REFCOUNTEDPOINTER=1
        JUCE_INCLUDE_ZLIB_CODE=0
        JUCE_INCLUDE_FLAC_CODE=0
        JUCE_INCLUDE_OGGVORBIS_CODE=0
        JUCE_INCLUDE_PNGLIB_CODE=0
        JUCE_INCLUDE_JPEGLIB_CODE=0)
endfunction()

# Warnings for our own sources.
function(quillon_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
        -Woverloaded-virtual -Wunused)
endfunction()
